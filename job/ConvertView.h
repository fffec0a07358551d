// What the conversion runner needs from the window that shows a run.
//
// The desktop window implements every call as a blocking call onto its own
// thread (the runner calls them from its worker thread and waits for each);
// the command line implements them directly. The runner calls nothing else of
// the window. Runner::StartStop itself runs on the window thread and calls
// SetStartStopButton and EnableControls from there, so an implementation must
// carry out a call made on its own thread directly (a blocking queued call to
// itself would never return).
//
// Row indices count from 0 in list order. Status texts are "Converting.",
// "Converting..", "Converting...", "Succeed", "Failed" and "Aborted".
#pragma once

#include "RowReport.h"

#include <string>

namespace varnel {

class ConvertView {
public:
    virtual ~ConvertView() = default;

    // Number of rows in the input list, read once at the start of a run.
    virtual int RowCount() = 0;
    // Full path of the input file in the row's "Files" cell.
    virtual std::string RowPath(int row) = 0;
    // Writes the row's "Status" cell.
    virtual void SetRowStatus(int row, const std::string& status) = 0;
    // Selects exactly this row, focuses the list and scrolls the row into view.
    virtual void SelectOnlyItem(int row) = 0;
    // Progress bar position, 0..100.
    virtual void SetProgress(int position) = 0;
    // The selection label ("Selected: 1").
    virtual void SetSelectedLabel(const std::string& text) = 0;
    // Start/Stop button: its text ("Stop Converting" / "Start Converting") and
    // whether it shows the running icon.
    virtual void SetStartStopButton(const std::string& text, bool running) = 0;
    // Enables or disables the input controls (everything but the Start/Stop button).
    virtual void EnableControls(bool enable) = 0;

    // How long "Converting." stays before "Converting.." replaces it. The window
    // uses 200 ms so the change can be seen; the command line uses 0.
    virtual int StatusPauseMs() const { return 200; }

    // Optional: views that explain a run override these. The row's outcome,
    // called once after its final status was written.
    virtual void RowFinished(int /*row*/, const RowReport& /*report*/) {}
    // Page k (from 1) of n of the row is being converted.
    virtual void SetPageProgress(int /*row*/, int /*page*/, int /*pages*/) {}
};

} // namespace varnel
