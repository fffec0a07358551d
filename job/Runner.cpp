#include "Runner.h"

#include "ImgConv.h"
#include "OutputFormats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace varnel {

namespace {

const char* const kConverting1 = "Converting.";
const char* const kConverting2 = "Converting..";
const char* const kConverting3 = "Converting...";
const char* const kSucceed = "Succeed";
const char* const kFailed = "Failed";
const char* const kAborted = "Aborted";

// Toolkit format code of the renderer's page bitmaps (BMP).
constexpr int kPageFormat = 1;

int MappedCompression(int compress) {
    switch (compress) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return 6;
    case 3:
        return 2;
    case 4:
        return 3;
    case 5:
        return 5;
    case 6:
        return 4;
    default:
        return 2;
    }
}

std::string PageName(const std::string& folder, const std::string& base, int page) {
    char number[16];
    std::snprintf(number, sizeof number, "_%03d.bmp", page);
    return folder + base + number;
}

// File name without folder and extension.
std::string StemOf(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

Runner::Runner(ConvertView& view, Renderer& renderer, const ConverterApi& api)
    : m_view(view), m_renderer(renderer), m_api(api) {}

Runner::~Runner() {
    Wait();
}

void Runner::Configure(int formatIndex, int outputMode, const ConvertSettings& settings,
                       const std::string& outputFolder) {
    m_formatIndex = formatIndex;
    m_outputMode = outputMode;
    m_settings = settings;
    m_outputFolder = outputFolder;
    // Paths are joined by plain concatenation, so the folder needs its "/".
    if (!m_outputFolder.empty() && m_outputFolder.back() != '/') m_outputFolder += '/';
}

void Runner::StartStop(int formatIndex, int outputMode, const ConvertSettings& settings,
                       const std::string& outputFolder) {
    if (m_running.load()) {
        m_stop.store(1);
        return;
    }
    Configure(formatIndex, outputMode, settings, outputFolder);
    m_view.SetStartStopButton("Stop Converting", true);
    m_running.store(1);
    m_view.EnableControls(false);
    // An earlier worker has made its last call by the time the running flag
    // dropped; this only collects the thread.
    if (m_worker.joinable()) m_worker.join();
    try {
        m_worker = std::thread([this] { RunConversion(); });
    } catch (const std::system_error&) {
        // No worker: give the window back rather than leave it stuck in a run.
        m_running.store(0);
        m_view.SetStartStopButton("Start Converting", false);
        m_view.EnableControls(true);
    }
}

void Runner::RequestStop() {
    if (m_running.load()) m_stop.store(1);
}

void Runner::Wait() {
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
}

void Runner::RunConversion() {
    m_view.SetSelectedLabel("Selected: 1");
    OutputFormat format = FormatFromEntry(FormatListEntry(m_formatIndex));
    m_formatCode = format.code;
    m_extension = format.extension;

    const int rows = m_view.RowCount();
    for (int k = 0; k < rows && m_stop.load() != 1; ++k) {
        m_view.SelectOnlyItem(k);
        m_view.SetProgress(100 * (k + 1) / rows);
        ConvertRow(k);
    }

    m_view.SetStartStopButton("Start Converting", false);
    m_view.EnableControls(true);
    m_view.SelectOnlyItem(0);
    // Cleared last, so a new run cannot start while this worker still talks
    // to the window.
    m_stop.store(0);
    m_running.store(0);
}

void Runner::ConvertRow(int row) {
    const auto started = std::chrono::steady_clock::now();
    RowReport report;
    auto finish = [&](const char* status, std::string reason) {
        m_view.SetRowStatus(row, status);
        report.status = status;
        report.reason = std::move(reason);
    };

    m_view.SetRowStatus(row, kConverting1);
    if (int pause = m_view.StatusPauseMs(); pause > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    m_view.SetRowStatus(row, kConverting2);

    const std::string path = m_view.RowPath(row);
    report.input = path;
    const std::string sourceFolder = path.substr(0, path.rfind('/') + 1);
    const std::string base = StemOf(path);
    const std::string baseFolder = m_outputMode == 1 ? m_outputFolder : sourceFolder;
    const std::string target = m_settings.each == 1 ? baseFolder + base + "/" : baseFolder;

    // What would make every output fail is found before any page is rendered.
    std::string problem = TargetProblem(target, base + m_extension);
    if (!problem.empty()) {
        finish(kFailed, problem);
        Deliver(row, report, started);
        return;
    }

    const int result = m_renderer.RenderPages(path, base, m_settings.xdpi, m_settings.ydpi);
    const std::string pageFolder = m_renderer.PageFolder();
    const RenderReport& rendered = m_renderer.LastReport();
    for (const auto& [what, count] : rendered.unsupported)
        report.warnings.push_back("not supported: " + what + " (" + std::to_string(count) + ")");
    report.warnings.insert(report.warnings.end(), rendered.warnings.begin(),
                           rendered.warnings.end());

    m_pageList.clear();
    CollectPages(pageFolder);
    // In page order, whatever order the folder lists them in.
    std::sort(m_pageList.begin(), m_pageList.end());
    report.pagesRendered = rendered.present ? rendered.pages : int(m_pageList.size());
    FilterPages(PageStem(base));

    if (m_stop.load() == 1) {
        finish(kAborted, "stopped before its pages were converted");
        DeletePageFiles(pageFolder);
        Deliver(row, report, started);
        return;
    }

    const std::string lost = RenderProblem(result, rendered, report.pagesRendered);
    if (m_pageList.empty()) {
        finish(kFailed, lost.empty() ? "no page was rendered" : lost);
    } else {
        m_view.SetRowStatus(row, kConverting3);
        MakeDirs(target);

        const std::string pageStem = PageStem(base);
        // A job with pages missing keeps its page numbers: its one page is
        // not passed off as a whole one-page job.
        const bool whole = lost.empty();
        bool aborted = false;
        int failures = 0;
        std::string failedName;
        const int pages = int(m_pageList.size());
        auto convert = [&](const std::string& page, const std::string& output, int k) {
            m_view.SetPageProgress(row, k, pages);
            if (ConvertOne(page, output, m_formatCode)) {
                report.outputs.push_back(output);
            } else {
                ++failures;
                if (failedName.empty()) failedName = output;
            }
        };
        if (m_formatCode == FMT_TIFF && m_settings.multpage == 1) {
            const std::string output = target + base + ".tif";
            if (ConvertMerged(target, base, pageStem, row, &aborted))
                report.outputs.push_back(output);
            else if (!aborted)
                ++failures, failedName = output;
        } else if (pages == 1 && whole) {
            convert(m_pageList.front(), target + base + m_extension, 1);
        } else {
            for (int k = 0; k < pages; ++k) {
                if (m_stop.load() == 1) {
                    aborted = true;
                    break;
                }
                // The page's own stem, with the full input stem in place of
                // the shortened one the page folder uses.
                std::string stem = StemOf(m_pageList[k]);
                if (stem.compare(0, pageStem.size(), pageStem) == 0)
                    stem = base + stem.substr(pageStem.size());
                convert(m_pageList[k], target + stem + m_extension, k + 1);
            }
        }
        if (aborted || m_stop.load() == 1) // the latter: noticed only at the final check
            finish(kAborted, "stopped by the user after " + std::to_string(report.outputs.size()) +
                                 " output file(s)");
        else if (failures > 0)
            finish(kFailed,
                   OutputProblem(failures, failedName, target) + (lost.empty() ? "" : "; " + lost));
        else if (!lost.empty())
            finish(kFailed, lost);
        else
            finish(kSucceed, "");
    }
    DeletePageFiles(pageFolder);
    Deliver(row, report, started);
}

void Runner::Deliver(int row, RowReport& report, std::chrono::steady_clock::time_point started) {
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    m_view.RowFinished(row, report);
}

std::string Runner::TargetProblem(const std::string& target, const std::string& name) const {
    if (name.size() > NAME_MAX)
        return "the output name would be " + std::to_string(name.size()) +
               " bytes long, more than the file system allows (" + std::to_string(NAME_MAX) + ")";
    // The deepest folder of the target that exists must take new entries.
    std::string folder = target;
    while (!folder.empty()) {
        struct stat st {};
        std::string probe = folder.size() > 1 && folder.back() == '/'
                                ? folder.substr(0, folder.size() - 1)
                                : folder;
        if (::stat(probe.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return "the output folder cannot be made: " + probe + " is not a folder";
            if (::access(probe.c_str(), W_OK | X_OK) != 0)
                return "the output folder " + probe + " cannot be written: " + std::strerror(errno);
            return "";
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return "the output folder " + target + ": " + std::strerror(errno);
        std::size_t slash = probe.rfind('/');
        if (slash == std::string::npos) break;
        folder = probe.substr(0, slash + 1);
    }
    return "";
}

std::string Runner::OutputProblem(int failures, const std::string& firstFailed,
                                  const std::string& target) const {
    std::string text = std::to_string(failures) + " output file(s) could not be written";
    const std::string name = firstFailed.substr(firstFailed.rfind('/') + 1);
    if (name.size() > NAME_MAX) return text + ": the name is longer than the file system allows";
    struct statvfs fs {};
    if (::statvfs(target.c_str(), &fs) == 0 && fs.f_bavail == 0)
        return text + ": no space left in " + target;
    return text + " to " + target;
}

std::string Runner::RenderProblem(int result, const RenderReport& r, int pages) const {
    const std::string written = "; " + std::to_string(pages) + " page(s) written";
    if (r.stop == "budget") return "the renderer's operation budget ran out" + written;
    if (r.stop == "disk") return "the temporary folder's file system is nearly full" + written;
    if (r.stop == "limit") return "the job's page files reached their size limit" + written;
    if (r.stop == "write" || result == -4)
        return "a page file could not be written" + (r.error.empty() ? "" : " (" + r.error + ")") +
               written;
    if (result >= 0) return "";
    if (r.stop == "pages") return "the job reached the page limit" + written;
    if (m_renderer.PageFolder().empty())
        return std::string("no page folder could be made in the temporary folder");
    switch (result) {
    case -1:
        return "the input could not be opened";
    case -2:
        return "the input is not a print job";
    case -3:
        return (r.brokenAt >= 0 ? "the input is damaged near byte " + std::to_string(r.brokenAt)
                                : std::string("the input holds damaged or unknown data")) +
               written;
    default:
        return "the renderer failed (" + std::to_string(result) + ")" + written;
    }
}

bool Runner::ConvertMerged(const std::string& target, const std::string& base,
                           const std::string& pageStem, int row, bool* aborted) {
    const std::string pageFolder = m_renderer.PageFolder();
    const int pages = static_cast<int>(m_pageList.size());
    const int h = m_api.Create();
    bool ok = h > 0;
    if (h > 0) {
        const std::string output = target + base + ".tif";
        m_api.SetOption(h, OPT_MULTIPAGE_PATH, output.c_str(), 0, nullptr);
        SetOption(h, OPT_MULTIPAGE, 1);
        // The page names come from the numbers; the list only counts them.
        std::vector<int> numbers = m_pageNumbers;
        if (!m_pageFilter)
            for (int i = 1; i <= pages; ++i) numbers.push_back(i);
        for (int i : numbers) {
            if (m_stop.load() == 1) {
                *aborted = true;
                break;
            }
            m_view.SetPageProgress(row, i, pages);
            m_api.AddFile(h, PageName(pageFolder, pageStem, i).c_str(), kPageFormat);
        }
        if (m_stop.load() == 0) {
            ApplyConverterOptions(h, FMT_TIFF);
            ok = m_api.Run(h) != 0;
        }
    }
    // The merged file is put in place when the handle goes.
    if (m_api.Destroy(h) == 0 && h > 0) ok = false;
    return ok;
}

bool Runner::ConvertOne(const std::string& page, const std::string& outputPath, int code) {
    const int h = m_api.Create();
    bool ok = h > 0;
    if (h > 0) {
        m_api.SetOption(h, OPT_OUTPUT_PATH, outputPath.c_str(), 0, nullptr);
        m_api.AddFile(h, page.c_str(), kPageFormat);
        ApplyConverterOptions(h, code);
        ok = m_api.Run(h) != 0;
    }
    if (m_api.Destroy(h) == 0 && h > 0) ok = false;
    return ok;
}

void Runner::FilterPages(const std::string& base) {
    m_pageNumbers.clear();
    if (!m_pageFilter) return;
    std::vector<std::string> kept;
    const std::string prefix = base + "_";
    for (const std::string& page : m_pageList) {
        const std::string name = page.substr(page.rfind('/') + 1);
        int number = 0;
        char tail = 0;
        bool isPage = name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                      std::sscanf(name.c_str() + prefix.size(), "%d.bm%c", &number, &tail) == 2 &&
                      tail == 'p' && PageName("", base, number) == name;
        if (isPage && m_pageFilter(number)) {
            kept.push_back(page);
            m_pageNumbers.push_back(number);
        } else {
            ::unlink(page.c_str());
        }
    }
    m_pageList = std::move(kept);
    std::sort(m_pageNumbers.begin(), m_pageNumbers.end());
}

void Runner::SetOption(int handle, int code, int value) {
    m_api.SetOption(handle, code, nullptr, value, nullptr);
}

void Runner::ApplyConverterOptions(int handle, int formatCode) {
    const ConvertSettings& s = m_settings;
    if (s.resize == 1) {
        SetOption(handle, OPT_WIDTH, s.width);
        SetOption(handle, OPT_HEIGHT, s.height);
    }
    if (s.angle > 0) SetOption(handle, OPT_ROTATE, s.angle);
    SetOption(handle, OPT_XDPI, s.xdpi);
    SetOption(handle, OPT_YDPI, s.ydpi);
    SetOption(handle, OPT_FORMAT, formatCode);

    const std::string* mode = nullptr;
    switch (formatCode) {
    case FMT_BMP:
        mode = &s.bmpc;
        break;
    case FMT_JPEG:
        mode = &s.jpgc;
        SetOption(handle, OPT_QUALITY, s.JQu);
        break;
    case FMT_PNG:
        mode = &s.pngc;
        break;
    case FMT_GIF:
        mode = &s.gifc;
        break;
    case FMT_TIFF:
        mode = &s.tifc;
        SetOption(handle, OPT_TIFF_COMPRESSION, MappedCompression(s.compress));
        SetOption(handle, OPT_QUALITY, s.TJQu);
        break;
    case FMT_PCX:
        mode = &s.pcxc;
        break;
    case FMT_TGA:
        mode = &s.tgac;
        break;
    case FMT_JP2:
        mode = &s.jp2c;
        break;
    case FMT_RAS:
        mode = &s.rasc;
        break;
    case FMT_JPC:
        mode = &s.jpcc;
        break;
    default:
        break; // EMF and WMF have no colour mode
    }

    int bpp = 24;
    bool gray = false;
    if (mode) {
        const char* name = mode->c_str();
        if (::strcasecmp(name, "256 Color") == 0) {
            bpp = 8;
        } else if (::strcasecmp(name, "256 Grays") == 0) {
            bpp = 8;
            gray = true;
        } else if (::strcasecmp(name, "16 Color") == 0) {
            bpp = 4;
        } else if (::strcasecmp(name, "16 Grays") == 0) {
            bpp = 4;
            gray = true;
        } else if (::strcasecmp(name, "B&W") == 0) {
            bpp = 1;
        }
    }
    if (gray) SetOption(handle, OPT_GRAY, 1);
    SetOption(handle, OPT_BPP, bpp);
}

void Runner::CollectPages(const std::string& folder) {
    // No folder was made for this render: there is nothing to list, and an
    // empty name must not turn into the root folder.
    if (folder.empty()) return;
    const std::string base = folder.back() == '/' ? folder : folder + "/";
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // The renderer's lock and report files are not pages.
        if (name == kPageFolderLock || name == kPageFolderReport) continue;
        const std::string path = base + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        m_pageList.push_back(path);
    }
    ::closedir(dir);
}

void Runner::DeletePageFiles(const std::string& folder) {
    if (!folder.empty() && folder == m_renderer.PageFolder()) {
        m_renderer.RemovePageFolder(m_pageList);
        return;
    }
    for (const std::string& page : m_pageList) ::unlink(page.c_str());
    if (!folder.empty()) ::rmdir(folder.c_str());
}

} // namespace varnel
