#include "core/Job.h"

#include "core/Bmp.h"
#include "core/GlyphCache.h"
#include "core/Raster.h"
#include "core/RasterDevice.h"
#include "core/TraceDevice.h"
#include "fonts/SoftFont.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <sys/statvfs.h>

namespace tarvik {

namespace {

constexpr double kMm = 72.0 / 25.4;

const MediaSize kMedia[] = {
    {"LETTER", 612, 792},
    {"LEGAL", 612, 1008},
    {"EXECUTIVE", 522, 756},
    {"EXEC", 522, 756},
    {"LEDGER", 792, 1224},
    {"TABLOID", 792, 1224},
    {"11X17", 792, 1224},
    {"STATEMENT", 396, 612},
    {"A3", 297 * kMm, 420 * kMm},
    {"A4", 210 * kMm, 297 * kMm},
    {"A5", 148 * kMm, 210 * kMm},
    {"A6", 105 * kMm, 148 * kMm},
    {"B4", 257 * kMm, 364 * kMm}, // JIS, as PCL printers use
    {"JISB4", 257 * kMm, 364 * kMm},
    {"B5", 182 * kMm, 257 * kMm},
    {"JISB5", 182 * kMm, 257 * kMm},
    {"ISOB5", 176 * kMm, 250 * kMm},
    {"B6", 128 * kMm, 182 * kMm},
    {"JISB6", 128 * kMm, 182 * kMm},
    {"COM10", 297, 684},
    {"MONARCH", 279, 540},
    {"C5", 162 * kMm, 229 * kMm},
    {"DL", 110 * kMm, 220 * kMm},
    {"B5ENVELOPE", 176 * kMm, 250 * kMm},
    {"JPOSTCARD", 100 * kMm, 148 * kMm},
    {"JDOUBLEPOSTCARD", 148 * kMm, 200 * kMm},
    {"FOLIO", 612, 936},
    {"8.5X13", 612, 936},
    {"16K", 197 * kMm, 273 * kMm},
};

std::string Upper(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            out += char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

const MediaSize* FindMedia(std::string_view name) {
    std::string key = Upper(name);
    if (key.size() > 5 && key.substr(key.size() - 5) == "PAPER") key.resize(key.size() - 5);
    if (key == "ENVELOPECOM10" || key == "COM10ENVELOPE") key = "COM10";
    if (key == "ENVELOPEDL" || key == "DLENVELOPE") key = "DL";
    if (key == "ENVELOPEC5" || key == "C5ENVELOPE") key = "C5";
    if (key == "MONARCHENVELOPE" || key == "ENVELOPEMONARCH") key = "MONARCH";
    for (const MediaSize& m : kMedia)
        if (key == m.name) return &m;
    return nullptr;
}

struct JobContext::Shared {
    GlyphCache glyphs;
    std::unique_ptr<PageRaster> raster; // reused from page to page
    PixelBuffer imageRows;              // likewise, the device's image rows
    RasterDevice* rasterDevice = nullptr;
};

JobContext::JobContext(JobOptions options)
    : m_options(std::move(options)), m_shared(std::make_unique<Shared>()) {}

JobContext::~JobContext() = default;

SoftFontStore& JobContext::SoftFonts() {
    if (!m_softFonts) m_softFonts = std::make_unique<SoftFontStore>();
    return *m_softFonts;
}

std::string JobContext::PageFileName(const std::string& pattern, int pageNumber) {
    char num[16];
    std::snprintf(num, sizeof num, "%03d", pageNumber);
    size_t at = pattern.rfind("%03d");
    if (at == std::string::npos) {
        // Without a number slot, later pages must not overwrite the first.
        if (pageNumber == 1) return pattern;
        size_t slash = pattern.rfind('/');
        size_t dot = pattern.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
            return pattern + "_" + num;
        return pattern.substr(0, dot) + "_" + num + pattern.substr(dot);
    }
    return pattern.substr(0, at) + num + pattern.substr(at + 4);
}

Device& JobContext::BeginPage(const PageSetup& requested) {
    if (m_device) EndPage();
    PageSetup s = requested;
    bool sane = std::isfinite(s.widthPt) && std::isfinite(s.heightPt) && s.widthPt >= 1 &&
                s.heightPt >= 1 && s.widthPt <= 72 * 200 && s.heightPt <= 72 * 200;
    if (!sane) {
        Warning("page size out of range; A4 used");
        s.widthPt = PageSetup{}.widthPt;
        s.heightPt = PageSetup{}.heightPt;
    }
    if (s.orientation < 0 || s.orientation > 3) s.orientation = 0;
    double pw = s.widthPt, ph = s.heightPt;
    bool turned = s.orientation % 2 == 1;
    double w = turned ? ph : pw, h = turned ? pw : ph;

    // The page as read onto the portrait sheet, physical top-left corner at
    // the sheet's top-left; landscape turns a quarter counter-clockwise.
    Matrix toSheet;
    switch (s.orientation) {
    case 0:
        toSheet = {};
        break;
    case 1:
        toSheet = {0, -1, 1, 0, 0, ph};
        break;
    case 2:
        toSheet = {-1, 0, 0, -1, pw, ph};
        break;
    case 3:
        toSheet = {0, 1, -1, 0, pw, 0};
        break;
    }
    int rasterWidth = m_options.widthPx, rasterHeight = m_options.heightPx;
    bool ownPaper = false;
    if (m_options.jobPaper) {
        // The job picks the size, so it is bounded: about sixteen sheets of
        // area (A0 on an A4 sheet, with room for rounding) and the sheet's
        // own side limit.
        constexpr double kMaxSide = 30000;
        const double maxArea = 17.0 * m_options.widthPx * m_options.heightPx;
        double pxW = std::ceil(w * m_options.xdpi / 72.0 - 0.5);
        double pxH = std::ceil(h * m_options.ydpi / 72.0 - 0.5);
        if (pxW >= 1 && pxH >= 1 && pxW <= kMaxSide && pxH <= kMaxSide && pxW * pxH <= maxArea) {
            toSheet = {};
            rasterWidth = int(pxW);
            rasterHeight = int(pxH);
            ownPaper = true;
        } else {
            Warning("page too large for its own paper size; the fixed sheet used");
        }
    }
    if (m_options.fit && !ownPaper) {
        // The paper lies pw x ph on the portrait sheet.
        double sheetW = rasterWidth * 72.0 / m_options.xdpi;
        double sheetH = rasterHeight * 72.0 / m_options.ydpi;
        double k = std::min({1.0, sheetW / pw, sheetH / ph});
        if (k < 1) toSheet = toSheet.Then(Matrix::Scale(k, k));
    }
    Matrix pageToDevice = toSheet.Then(Matrix::Scale(m_options.xdpi / 72.0, m_options.ydpi / 72.0));

    m_pageUnsupported.clear();
    m_pageWarnings.clear();
    m_pageWarningCount = 0;
    if (m_options.trace) {
        *m_options.trace << "BeginPage " << (m_pagesWritten + 1) << " " << w << "x" << h
                         << " orientation=" << s.orientation << "\n";
        m_device = std::make_unique<TraceDevice>(*m_options.trace, w, h);
        return *m_device;
    }
    if (m_pagesWritten + 1 < m_options.firstPage) {
        if (!m_discard) m_discard = std::make_unique<std::ostream>(nullptr);
        m_device = std::make_unique<TraceDevice>(*m_discard, w, h);
        return *m_device;
    }
    auto& raster = m_shared->raster;
    if (!raster || raster->Width() != rasterWidth || raster->Height() != rasterHeight)
        raster = std::make_unique<PageRaster>(rasterWidth, rasterHeight);
    else
        raster->Clear();
    auto dev = std::make_unique<RasterDevice>(*raster, pageToDevice, w, h, &m_shared->glyphs,
                                              &m_shared->imageRows);
    m_shared->rasterDevice = dev.get();
    m_device = std::move(dev);
    return *m_device;
}

bool JobContext::EndPage() {
    if (!m_device) return !m_stopped;
    m_device->EndImage();
    if (m_pagesWritten >= m_options.limits.maxPages) {
        // An interpreter that ignored Stopped(): no page beyond the limit.
        m_device.reset();
        m_shared->rasterDevice = nullptr;
        Stop(StopReason::PageLimit);
        return false;
    }
    int number = m_pagesWritten + 1;
    bool ok = true;
    if (m_options.trace) {
        *m_options.trace << "EndPage " << number << "\n";
    } else if (number < m_options.firstPage) {
        // Skipped: nothing was drawn and nothing is written.
    } else {
        const PageRaster& raster = *m_shared->raster;
        if (m_shared->rasterDevice) {
            for (const std::string& n : m_shared->rasterDevice->Notes()) Warning(n);
            // The page's painting, and the clearing and writing of its
            // raster, which cost about four times as much per pixel.
            m_pixelWork += m_shared->rasterDevice->Painted() +
                           4 * uint64_t(raster.Width()) * uint64_t(raster.Height());
        }
        if (m_options.onPage) {
            m_options.onPage(number, raster);
        } else {
            uint64_t bytes = 54 + ((uint64_t(raster.Width()) * 3 + 3) & ~uint64_t(3)) *
                                      uint64_t(raster.Height());
            if (!RoomForPage(bytes)) {
                ReportPage();
                m_device.reset();
                m_shared->rasterDevice = nullptr;
                return false;
            }
            if (WriteBmpFile(raster, m_options.xdpi, m_options.ydpi,
                             PageFileName(m_options.outputPattern, number))) {
                m_pageFileBytes += bytes;
            } else {
                m_writeError = std::strerror(errno);
                ok = false;
            }
        }
    }
    ReportPage();
    m_device.reset();
    m_shared->rasterDevice = nullptr;
    if (!ok) {
        m_writeFailed = true;
        Stop(StopReason::WriteFailed);
        return false;
    }
    ++m_pagesWritten;
    if (m_pagesWritten >= m_options.limits.maxPages) Stop(StopReason::PageLimit);
    return !m_stopped;
}

bool JobContext::RoomForPage(uint64_t fileBytes) {
    const Limits& limits = m_options.limits;
    if (m_pageFileBytes + fileBytes > limits.maxPageFileBytes) {
        Warning("page files reached the job's limit of " + std::to_string(limits.maxPageFileBytes) +
                " bytes");
        Stop(StopReason::PageBytes);
        return false;
    }
    const std::string& pattern = m_options.outputPattern;
    size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) return true; // the write will tell
    uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    uint64_t available = uint64_t(fs.f_bavail) * unit;
    uint64_t reserve = limits.diskReserveBytes >= 0
                           ? uint64_t(limits.diskReserveBytes)
                           : std::min<uint64_t>(512ull << 20, uint64_t(fs.f_blocks) * unit / 10);
    if (available < fileBytes || available - fileBytes < reserve) {
        Warning("the page folder's file system is nearly full (" + std::to_string(available) +
                " bytes free, " + std::to_string(reserve) + " kept in reserve)");
        Stop(StopReason::DiskReserve);
        return false;
    }
    return true;
}

void JobContext::Stop(StopReason why) {
    if (!m_stopped) m_stopReason = why;
    m_stopped = true;
}

uint64_t JobContext::WorkDone() const {
    uint64_t painted = m_shared->rasterDevice ? m_shared->rasterDevice->Painted() : 0;
    return m_operations + (m_pixelWork + painted) / kPixelsPerOperation;
}

bool JobContext::ChargePixels(uint64_t pixels) {
    m_pixelWork += pixels;
    return Tick(0);
}

bool JobContext::Tick(uint64_t operations) {
    m_operations += operations;
    if (WorkDone() > m_options.limits.maxOperations) {
        if (!m_stopped) Warning("operation budget of the job exhausted");
        Stop(StopReason::Budget);
    }
    return !m_stopped;
}

void JobContext::Unsupported(std::string_view feature) {
    ++m_unsupportedTotal;
    std::string key(feature);
    if (m_pageUnsupported.size() < 64 || m_pageUnsupported.count(key)) ++m_pageUnsupported[key];
    if (m_jobUnsupported.size() < 64 || m_jobUnsupported.count(key)) ++m_jobUnsupported[key];
}

void JobContext::Warning(std::string_view message) {
    ++m_warningTotal;
    ++m_pageWarningCount;
    if (m_pageWarnings.size() < 16) m_pageWarnings.emplace_back(message);
    if (m_jobWarnings.size() < 32 &&
        std::find(m_jobWarnings.begin(), m_jobWarnings.end(), message) == m_jobWarnings.end())
        m_jobWarnings.emplace_back(message);
    if (m_options.verbose && !m_device)
        std::fprintf(stderr, "tarvik: %.*s\n", int(message.size()), message.data());
}

void JobContext::ReportPage() {
    if (!m_options.verbose) return;
    int n = m_pagesWritten + 1;
    if (m_pageWarningCount == 0 && m_pageUnsupported.empty()) return;
    std::fprintf(stderr, "tarvik: page %d: %d warning(s)\n", n, m_pageWarningCount);
    for (const std::string& w : m_pageWarnings) std::fprintf(stderr, "  %s\n", w.c_str());
    for (const auto& [what, count] : m_pageUnsupported)
        std::fprintf(stderr, "  not supported: %s (%d)\n", what.c_str(), count);
}

} // namespace tarvik
