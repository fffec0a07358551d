// Option parsing and the console view of varnel-convert, kept apart from main()
// so the tests can drive them.
#pragma once

#include "ConvertSettings.h"
#include "ConvertView.h"

#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

struct CommandLine {
    std::vector<std::string> inputs;
    std::string profile; // empty: the user's profile
    std::optional<int> type;
    std::optional<std::string> colorMode;
    std::optional<int> xdpi, ydpi;
    std::optional<int> resizeWidth, resizeHeight;
    bool noResize = false;
    std::optional<int> angle;
    std::optional<int> each;
    std::optional<int> multpage;
    std::optional<int> compress;
    std::optional<int> quality;
    std::optional<std::string> outputFolder;
    bool besideSource = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Fills *out from the arguments after the program name. Returns false with a
// message in *error on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

// Applies the options over the values read from the profile. Returns a note for
// the user when an option had nothing to act on (empty otherwise).
std::string ApplyOptions(const CommandLine& options, WindowSettings* window,
                         ConvertSettings* settings);

// Files named by the INPUT arguments: a folder gives its files (not its
// subfolders); every file must be an accepted input, the others are reported
// on `err` and skipped. Argument order is kept; repeats stay.
std::vector<std::string> GatherInputs(const std::vector<std::string>& arguments, std::ostream& err);

const char* UsageText();

// The runner's view on a console: one "PATH: STATUS" line per finished row (or
// per status change with verbose) and a progress bar on the error stream.
class ConsoleView : public ConvertView {
public:
    ConsoleView(std::vector<std::string> paths, std::ostream& out, std::ostream& err, bool quiet,
                bool verbose, bool progressBar);

    int RowCount() override { return static_cast<int>(m_paths.size()); }
    std::string RowPath(int row) override;
    void SetRowStatus(int row, const std::string& status) override;
    void SelectOnlyItem(int) override {}
    void SetProgress(int position) override;
    void SetSelectedLabel(const std::string&) override {}
    void SetStartStopButton(const std::string&, bool) override {}
    void EnableControls(bool) override {}
    int StatusPauseMs() const override { return 0; }

    // The status of every row at the end of a run ("Ready" for rows not reached).
    const std::vector<std::string>& Statuses() const { return m_statuses; }
    // 0 when every row ended "Succeed", 1 otherwise.
    int ExitStatus() const;
    // Removes the progress bar line, if one is shown.
    void ClearProgress();

    int Progress() const { return m_position; }

private:
    void DrawBar();
    void EraseBar();

    std::vector<std::string> m_paths;
    std::vector<std::string> m_statuses;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_quiet;
    bool m_verbose;
    bool m_progressBar;
    bool m_barShown = false;
    int m_position = 0;
    std::mutex m_mutex;
};

} // namespace varnel
