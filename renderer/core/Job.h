// JobContext: what an interpreter gets from the job level.
//
// One JobContext lives for one input file. It carries the output request
// (resolution, sheet size in pixels), the PJL settings in force, the limits
// every interpreter must respect, the resident font table, and the page
// cycle: BeginPage hands out the page device, EndPage writes the page file.
//
// Interpreter rules:
// - Faults in the input are diagnosed and ignored: call Warning() and carry
//   on. Features parsed but not rendered: call Unsupported(). Both are
//   counted per page and reported when the page is done.
// - Call Tick() once per operator or command; when it (or EndPage) returns
//   false, or Stopped() is true, stop interpreting and return with ok=false.
// - The job level ends a page the interpreter left open when it returns,
//   so a page in progress is written as far as it got.
// - Never allocate from a size the input gives without checking it against
//   Limits first.
#pragma once

#include "Device.h"
#include "Font.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class SoftFontStore;

class PageRaster;

// Bounds on everything the input controls.
struct Limits {
    int maxPages = 10000;                 // pages per job
    int maxImageDimension = 65535;        // image or pattern width/height
    uint64_t maxImagePixels = 1ull << 30; // width * height of one image
    int maxPatternDimension = 4096;       // pattern tile width/height
    size_t maxPathPoints = 1'000'000;     // see Path::kMaxPoints
    double maxGlyphPixels = 4096;         // em size in device pixels; larger text is skipped
    int maxStreamNesting = 32;            // PCL XL ExecStream / PCL macro call depth
    int maxGraphicsStateDepth = 256;      // PushGS / push palette levels
    size_t maxDownloadBytes = 256u << 20; // fonts, streams, macros, patterns kept by a job
    size_t maxRecordBytes = 64u << 20;    // one font header, glyph, stream block, raster row
    // Work per job (Tick): one unit per operator or command, and one per
    // kPixelsPerOperation pixels painted, decoded or written. On this
    // machine a unit is roughly 0.1 microseconds, so 200 million is about
    // 30 s of CPU. The job level raises it for large inputs (see
    // kOperationsPerInputByte): only work bought by amplification is capped.
    uint64_t maxOperations = 200'000'000;
    // Page files of one job together. 256 GiB holds 2,000 A4 pages at 600 dpi
    // (105 MB each as 24-bit files), so only runaway input reaches it.
    uint64_t maxPageFileBytes = 256ull << 30;
    // Free space left on the page folder's file system after each page;
    // negative: a tenth of the file system, at most 512 MiB.
    int64_t diskReserveBytes = -1;
};

// Pixels of painting, decoding or writing that cost as much as an operator.
inline constexpr uint64_t kPixelsPerOperation = 128;
// Budget a job gets per byte of its input, when that is above the floor.
// Inputs up to 100 KB get the floor; a 2,000-page job at 600 dpi (about 2.2
// billion for its page files alone) needs about 1.1 MB of input.
inline constexpr uint64_t kOperationsPerInputByte = 2000;

// Why a job stopped taking pages.
enum class StopReason { None, PageLimit, Budget, WriteFailed, DiskReserve, PageBytes };

// PJL state for the job being interpreted (values from @PJL SET/DEFAULT;
// unset ones keep their "not given" value).
struct PjlSettings {
    int orientation = -1;    // 0 portrait, 1 landscape, 2 reverse portrait, 3 reverse landscape
    std::string paper;       // upper case as given, e.g. "A4", "LETTER"; empty = not given
    double paperWidthPt = 0; // size of a known paper name (portrait form); 0 = unknown
    double paperHeightPt = 0;
    int resolution = 0; // RESOLUTION in dpi; 0 = not given
    int copies = 1;     // kept for the record; pages are rendered once
    // Every SET/DEFAULT variable seen, names upper case, values as given.
    std::map<std::string, std::string> variables;
};

// A page as the interpreter asks for it. widthPt x heightPt is the paper in
// portrait form (width across the feed, normally the short edge), in points;
// orientation turns the page on that paper (0 portrait, 1 landscape: the
// page turned a quarter turn counter-clockwise on the sheet, 2 reverse
// portrait, 3 reverse landscape). Page space is the page as read: for
// orientations 1 and 3 its width is heightPt.
struct PageSetup {
    double widthPt = 595.276; // A4
    double heightPt = 841.89;
    int orientation = 0;
};

// Known paper sizes in points (portrait form).
struct MediaSize {
    const char* name;
    double widthPt;
    double heightPt;
};
// Looks a name up without letter case ("A4", "Letter", "LEGAL", "EXEC",
// "A5", "B5", "COM10", "MONARCH", "C5", "DL", "LEDGER", "A3", ...);
// nullptr when unknown.
const MediaSize* FindMedia(std::string_view name);

struct JobOptions {
    int xdpi = 150, ydpi = 150;
    int widthPx = 1240, heightPx = 1753; // the -g sheet, A4 at 150 dpi by default
    // Page file names: only the last "%03d" is replaced by the page number.
    std::string outputPattern;
    // When set, pages go to a TraceDevice writing here, and no file is made.
    std::ostream* trace = nullptr;
    // When set, called with every finished page raster instead of writing a
    // file (tests).
    std::function<void(int pageNumber, const PageRaster&)> onPage;
    bool verbose = false; // per-page diagnostics on stderr
    // Each page's raster is its own paper as the job turned it (a landscape
    // page gives a landscape image) instead of the portrait -g sheet.
    bool jobPaper = false;
    // A page larger than the sheet is scaled down, keeping its proportions,
    // to fit it (a large plot shown whole) instead of being clipped.
    bool fit = false;
    // Pages before this one are interpreted, since later pages depend on
    // their state, but not drawn and not written; page numbers stay.
    int firstPage = 1;
    Limits limits;
};

class JobContext {
public:
    explicit JobContext(JobOptions options);
    ~JobContext();
    JobContext(const JobContext&) = delete;
    JobContext& operator=(const JobContext&) = delete;

    int XDpi() const { return m_options.xdpi; }
    int YDpi() const { return m_options.ydpi; }
    int SheetWidthPx() const { return m_options.widthPx; }
    int SheetHeightPx() const { return m_options.heightPx; }
    const Limits& Limit() const { return m_options.limits; }
    const PjlSettings& Pjl() const { return m_pjl; }
    PjlSettings& MutablePjl() { return m_pjl; } // the job level's
    FontLibrary& Fonts() { return m_fonts; }
    // Downloaded fonts: kept across the PCL 5 parts of a job, so permanent
    // fonts outlive a UEL as they outlive a reset.
    SoftFontStore& SoftFonts();
    // What else a language keeps across its parts of the job (PCL 5's
    // permanent macros and patterns); the language gives it its meaning.
    std::shared_ptr<void>& KeptDownloads() { return m_keptDownloads; }

    // Starts a page (ending an open one first) and returns its device, valid
    // until EndPage. Invalid sizes fall back to A4, orientations to 0.
    Device& BeginPage(const PageSetup& setup);
    bool PageOpen() const { return m_device != nullptr; }
    // The open page's device; nullptr between pages.
    Device* Page() { return m_device.get(); }
    // Finishes the open page and writes its file. Returns false when it could
    // not be written or no further page is allowed: the interpreter stops.
    // Without an open page it does nothing and returns !Stopped().
    bool EndPage();
    int PagesWritten() const { return m_pagesWritten; }

    // Operation budget; false once exhausted (the job then stops).
    bool Tick(uint64_t operations = 1);
    // Charges pixels of work (decoded image data, say) to the same budget.
    bool ChargePixels(uint64_t pixels);
    // Work done so far, in operations.
    uint64_t WorkDone() const;
    // True once no more pages will be accepted: page limit, failed write or
    // exhausted budget.
    bool Stopped() const { return m_stopped; }
    bool WriteFailed() const { return m_writeFailed; }
    StopReason WhyStopped() const { return m_stopReason; }
    // The system's text for a failed page write; empty otherwise.
    const std::string& WriteError() const { return m_writeError; }
    // Bytes of page files written so far.
    uint64_t PageFileBytes() const { return m_pageFileBytes; }
    // The first place the input broke (the job level's); -1 when none.
    void NoteBroken(size_t offset) {
        if (m_brokenAt < 0) m_brokenAt = int64_t(offset);
    }
    int64_t BrokenAt() const { return m_brokenAt; }

    void Unsupported(std::string_view feature);
    void Warning(std::string_view message);
    int UnsupportedCount() const { return m_unsupportedTotal; }
    int WarningCount() const { return m_warningTotal; }
    // The whole job's unsupported features with counts, and its first distinct
    // warnings, for the caller's report.
    const std::map<std::string, int>& JobUnsupported() const { return m_jobUnsupported; }
    const std::vector<std::string>& JobWarnings() const { return m_jobWarnings; }

    // PJL asked for HP-GL/2 (ENTER LANGUAGE=HPGL2): the PCL 5 interpreter
    // starts this job in HP-GL/2 mode, as after ESC %0B.
    bool StartInHpgl2() const { return m_startInHpgl2; }
    void SetStartInHpgl2(bool on) { m_startInHpgl2 = on; } // the job level's

    // The name page n gets from the output pattern.
    static std::string PageFileName(const std::string& pattern, int pageNumber);

private:
    void ReportPage();
    void Stop(StopReason why);
    // False, with the job stopped, when a page file of this size would pass
    // the job's byte limit or eat into the disk reserve.
    bool RoomForPage(uint64_t fileBytes);

    JobOptions m_options;
    PjlSettings m_pjl;
    FontLibrary m_fonts;
    std::unique_ptr<SoftFontStore> m_softFonts;
    std::shared_ptr<void> m_keptDownloads;
    struct Shared;
    std::unique_ptr<Shared> m_shared; // glyph cache and the like, kept across pages
    std::unique_ptr<Device> m_device;
    // Takes the drawing of skipped pages; a stream with no buffer drops it.
    std::unique_ptr<std::ostream> m_discard;
    int m_pagesWritten = 0;
    uint64_t m_operations = 0;
    uint64_t m_pixelWork = 0; // closed pages' painting, decoding, page writes
    bool m_stopped = false;
    bool m_writeFailed = false;
    StopReason m_stopReason = StopReason::None;
    std::string m_writeError;
    uint64_t m_pageFileBytes = 0;
    int64_t m_brokenAt = -1;
    std::map<std::string, int> m_jobUnsupported;
    std::vector<std::string> m_jobWarnings;
    bool m_startInHpgl2 = false;
    int m_unsupportedTotal = 0;
    int m_warningTotal = 0;
    std::map<std::string, int> m_pageUnsupported;
    std::vector<std::string> m_pageWarnings;
    int m_pageWarningCount = 0;
};

} // namespace tarvik
