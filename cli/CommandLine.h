// Option parsing and the console view of varnel-convert, kept apart from main()
// so the tests can drive them.
#pragma once

#include "Batch.h"
#include "ConvertSettings.h"

#include <chrono>
#include <iosfwd>
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

    bool useDesktopProfile = false;
    bool recursive = false;
    std::vector<std::string> filesFrom;
    bool nullSeparated = false;
    std::optional<int> jobs;  // unset: every core
    int timeoutSeconds = 600; // 0: none
    long maxMemoryMiB = 4096; // 0: none
    // Page files one input may write, and free space kept on the temporary
    // folder's file system; unset: the environment's or the renderer's own.
    std::optional<long> pageLimitMiB, diskReserveMiB;
    int shardIndex = 0, shardCount = 1;
    std::vector<std::pair<int, int>> pages; // empty: every page
    std::string paper = "a4";
    bool fit = false;                   // pages larger than the canvas shrunk onto it
    std::string existing = "overwrite"; // "no-clobber", "skip-existing"
    bool strict = false;
    bool json = false;
    std::optional<std::string> watchFolder;
};

// "1-3,7,9-": page ranges from 1; false on an empty, reversed or bad range.
bool ParsePageRanges(const std::string& text, std::vector<std::pair<int, int>>* ranges);

// An error naming the colour modes that work when the TIFF compression cannot
// hold the colour mode; empty when the pair is good or the format is no TIFF.
std::string CheckCompression(int type, const ConvertSettings& settings);

// Fills *out from the arguments after the program name. Returns false with a
// message in *error on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

// Applies the options over the values read from the profile. Returns a note for
// the user when an option had nothing to act on (empty otherwise).
std::string ApplyOptions(const CommandLine& options, WindowSettings* window,
                         ConvertSettings* settings);

const char* UsageText();

// How far one file is, for the batch's estimate of the time left.
struct FileHeadway {
    long long bytes = 0; // input size
    int rendered = 0;    // page files made so far
    int converted = 0;   // pages handed to the converter
    int pages = -1;      // pages to convert, known once rendering is over
    bool finished = false;
};
// The batch's work in half pages: a page counts half when rendered and half
// when converted. A file not yet rendered is expected to hold pages in
// proportion to its size, as the files whose count is known do; `known` is
// false while no count is known, when `total` means nothing.
struct Headway {
    double done = 0, total = 0;
    long pages = 0; // pages rendered so far
    bool known = false;
};
Headway BatchHeadway(const std::vector<FileHeadway>& files);

struct ReportStyle {
    bool quiet = false;    // only failures, on the error stream
    bool verbose = false;  // every status change too
    bool json = false;     // one JSON object per file on `out`; people read `err`
    bool progress = false; // a progress line on `err`, redrawn in place
};

// What the user reads about a batch: one row per input in input order (with
// its outputs, reason and warnings), the inputs not taken, and a summary.
class BatchReport {
public:
    BatchReport(std::vector<std::string> inputs, std::ostream& out, std::ostream& err,
                ReportStyle style);

    // Input sizes, for the estimate of the time left.
    void SetInputBytes(const std::vector<long long>& bytes);
    void Rejected(const std::string& path, const std::string& reason);
    void Started(int index);
    void Rendered(int index, int pages);
    void Page(int index, int page, int pages);
    void Status(int index, const std::string& status);
    // Rows are written once every earlier row is.
    void Finished(int index, const FileResult& result);
    void Summary(double seconds);
    // 0 when every input was converted (or skipped), 1 otherwise.
    int ExitStatus() const;
    void ClearProgress();

private:
    void Flush();
    void WriteRow(const FileResult& r);
    void WriteJson(const FileResult& r);
    void DrawProgress();
    std::ostream& Human() { return m_style.json ? m_err : m_out; }

    std::vector<std::string> m_inputs;
    std::vector<std::optional<FileResult>> m_results;
    std::size_t m_written = 0;
    std::ostream& m_out;
    std::ostream& m_err;
    ReportStyle m_style;
    int m_rejected = 0, m_done = 0, m_failed = 0, m_warned = 0, m_skipped = 0;
    long m_pages = 0, m_outputs = 0;
    std::vector<FileHeadway> m_headway;
    int m_current = -1;
    bool m_progressShown = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Text for a JSON string, quotes included.
std::string JsonString(const std::string& text);

} // namespace varnel
