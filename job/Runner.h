// The conversion job runner: walks the input list on one worker thread, has
// each file rendered, converts its pages and writes each row's outcome.
//
// Use (window thread):
//   Runner runner(view, renderer);            // view: a ConvertView
//   runner.StartStop(typeIndex, mode, settings, outputFolder);  // the button
// The first call starts a run; a call during a run only raises the stop flag,
// which the worker notices before each row, right after rendering, before each
// page it hands over and before writing the final status. IsRunning() turns 0
// after the worker made its last call on the view. The destructor waits for a
// finished worker to end; never destroy a Runner while IsRunning().
#pragma once

#include "ConvertSettings.h"
#include "ConvertView.h"
#include "Renderer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace varnel {

// The converter handle API, reached through this table so that tests can
// record the calls.
struct ConverterApi {
    int (*Create)();
    int (*AddFile)(int handle, const char* path, int format);
    int (*SetOption)(int handle, int code, const char* text, int value, void* reserved);
    int (*Run)(int handle);
    int (*Destroy)(int handle);
};

// The conversion engine's own functions.
const ConverterApi& EngineConverterApi();

class Runner {
public:
    Runner(ConvertView& view, Renderer& renderer, const ConverterApi& api = EngineConverterApi());
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The Start/Stop button. When idle: takes the format list index, the
    // output-folder mode (0 beside the source, 1 into outputFolder), the
    // settings and the output folder for this run, and starts the worker.
    // When running: raises the stop flag and changes nothing else.
    void StartStop(int formatIndex, int outputMode, const ConvertSettings& settings,
                   const std::string& outputFolder);
    // Raises the stop flag if a run is going on.
    void RequestStop();
    // Waits until a started worker has ended (for the command line and tests;
    // the window never waits).
    void Wait();

    int IsRunning() const { return m_running.load(); }
    int IsStopping() const { return m_stop.load(); }

    // The worker body; runs on the calling thread when called directly.
    void RunConversion();

    // Passes the settings to one converter handle for the format code.
    void ApplyConverterOptions(int handle, int formatCode);
    // Appends every file (not folder) of the folder to the page list.
    void CollectPages(const std::string& folder);
    // Deletes every file of the page list, then the folder itself.
    void DeletePageFiles(const std::string& folder);

    const std::vector<std::string>& PageList() const { return m_pageList; }

    // Converts only the pages (numbered from 1) the filter keeps; the others
    // are deleted unconverted. Unset: every page.
    void SetPageFilter(std::function<bool(int page)> keep) { m_pageFilter = std::move(keep); }

    // Sets the run's parameters without starting a run (for callers of
    // RunConversion and ApplyConverterOptions).
    void Configure(int formatIndex, int outputMode, const ConvertSettings& settings,
                   const std::string& outputFolder);

private:
    void ConvertRow(int row);
    bool ConvertMerged(const std::string& target, const std::string& baseName,
                       const std::string& pageStem, int row, bool* aborted);
    void Deliver(int row, RowReport& report, std::chrono::steady_clock::time_point started);
    // Why no output could be written into target under name; empty when it can.
    std::string TargetProblem(const std::string& target, const std::string& name) const;
    std::string OutputProblem(int failures, const std::string& firstFailed,
                              const std::string& target) const;
    // Why the render lost pages; empty when nothing was lost.
    std::string RenderProblem(int result, const RenderReport& report, int pages) const;
    bool ConvertOne(const std::string& page, const std::string& outputPath, int code);
    void SetOption(int handle, int code, int value);
    void FilterPages(const std::string& base);

    ConvertView& m_view;
    Renderer& m_renderer;
    const ConverterApi m_api; // a copy: callers may pass a temporary table

    std::atomic<int> m_running{0};
    std::atomic<int> m_stop{0};
    std::thread m_worker;

    int m_formatIndex = 0;
    int m_outputMode = 1;
    ConvertSettings m_settings;
    std::string m_outputFolder;
    std::string m_extension;
    int m_formatCode = 4;
    std::vector<std::string> m_pageList;
    std::function<bool(int)> m_pageFilter;
    std::vector<int> m_pageNumbers; // the kept pages when filtered, ascending
};

} // namespace varnel
