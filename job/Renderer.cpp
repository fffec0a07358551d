#include "Renderer.h"

#include "ConvertSettings.h"
#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

namespace {

// Empties folder (ending in "/") of its files and removes it. A renderer
// still at work may add a page meanwhile, so this repeats until it is gone.
void RemoveFolder(const std::string& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") ::unlink((folder + name).c_str());
            }
            ::closedir(dir);
        }
        if (::rmdir(folder.c_str()) == 0 || errno != ENOTEMPTY) return;
    }
}

// Every Renderer of the process, for RemoveWorkFilesForExit.
std::mutex g_renderersMutex;
std::vector<const Renderer*> g_renderers;

// A whole number of mebibytes from the environment, in bytes; -1 when unset
// or not a number.
long long EnvironmentMegabytes(const char* name) {
    const char* text = std::getenv(name);
    if (!text || !*text) return -1;
    char* end = nullptr;
    errno = 0;
    long long mb = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno != 0 || mb < 0 || mb > (1ll << 40)) return -1;
    return mb << 20;
}

// Takes the lock that marks folder as in use by this process. The lock file
// is made and locked under another name and then renamed into place, so a
// sweeping process never finds it unlocked.
int LockPageFolder(const std::string& folder) {
    const std::string making = folder + ".lock-new";
    int fd = ::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(making.c_str(), (folder + kPageFolderLock).c_str()) != 0) {
        ::unlink(making.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

RenderReport ReadReport(const std::string& path) {
    RenderReport report;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        report.present = true;
        std::size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (key == "result")
            report.result = std::atoi(value.c_str());
        else if (key == "pages")
            report.pages = std::atoi(value.c_str());
        else if (key == "stop")
            report.stop = value;
        else if (key == "error")
            report.error = value;
        else if (key == "broken")
            report.brokenAt = std::atoll(value.c_str());
        else if (key == "warning")
            report.warnings.push_back(value);
        else if (key == "unsupported") {
            std::size_t gap = value.find(' ');
            if (gap != std::string::npos)
                report.unsupported.emplace_back(value.substr(gap + 1), std::atoi(value.c_str()));
        }
    }
    return report;
}

} // namespace

std::string PageStem(const std::string& baseName) {
    if (baseName.size() <= kMaxPageStem) return baseName;
    // Cut at a character boundary so the name stays valid UTF-8.
    std::size_t cut = kMaxPageStem;
    while (cut > 0 && (static_cast<unsigned char>(baseName[cut]) & 0xC0) == 0x80) --cut;
    return baseName.substr(0, cut);
}

void SweepAbandonedPageFolders(const std::string& temporary) {
    DIR* dir = ::opendir(temporary.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != 11 || name.compare(0, 5, "mtmp-") != 0) continue;
        const std::string folder = temporary + "/" + name + "/";
        struct stat st {};
        if (::lstat(folder.substr(0, folder.size() - 1).c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        int fd = ::open((folder + kPageFolderLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue; // no lock file: nothing says whose it is
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveFolder(folder);
        ::close(fd);
    }
    ::closedir(dir);
}

std::vector<std::string> RendererArguments(const std::string& pageFolder,
                                           const std::string& baseName, int xdpi, int ydpi,
                                           const std::string& inputPath) {
    return RendererArguments(pageFolder, baseName, xdpi, ydpi, inputPath, PageCanvas());
}

std::vector<std::string> RendererArguments(const std::string& pageFolder,
                                           const std::string& baseName, int xdpi, int ydpi,
                                           const std::string& inputPath, const PageCanvas& canvas) {
    // The products are truncated, not rounded (A4 at 200 dpi gives exactly
    // 1654 x 2338).
    const int width = static_cast<int>(static_cast<double>(xdpi) * canvas.widthInches);
    const int height = static_cast<int>(static_cast<double>(ydpi) * canvas.heightInches);
    std::vector<std::string> args = {
        "tarvik",
        "-dNOPAUSE",
        "-dBATCH",
        "-dSAFER",
        "-sDEVICE=bmp16m",
        "-sOutputFile=" + pageFolder + baseName + "_%03d.bmp",
        "-r" + std::to_string(xdpi) + "x" + std::to_string(ydpi),
        "-g" + std::to_string(width) + "x" + std::to_string(height),
    };
    args.push_back(inputPath);
    args.insert(args.end(), canvas.switches.begin(), canvas.switches.end());
    return args;
}

void RemoveWorkFilesForExit() {
    RemovePendingOutputs();
    std::lock_guard<std::mutex> lock(g_renderersMutex);
    for (const Renderer* r : g_renderers)
        if (std::string folder = r->PageFolder(); !folder.empty()) RemoveFolder(folder);
}

Renderer::Renderer() {
    std::lock_guard<std::mutex> lock(g_renderersMutex);
    g_renderers.push_back(this);
}

Renderer::~Renderer() {
    {
        std::lock_guard<std::mutex> lock(g_renderersMutex);
        g_renderers.erase(std::find(g_renderers.begin(), g_renderers.end(), this));
    }
    FreeRenderer();
    if (m_lockFd >= 0) ::close(m_lockFd);
}

bool Renderer::LoadRenderer(const char* libraryPath) {
    FreeRenderer();
    m_loadError.clear();
    m_library = ::dlopen(libraryPath ? libraryPath : kRendererLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        const char* why = ::dlerror();
        m_loadError = why ? why : "";
        return false;
    }
    // Resolved in entry order, stopping at the first that is missing.
    bool ok =
        (m_newInstance = reinterpret_cast<TarvikNewInstanceFn>(
             ::dlsym(m_library, "tarvik_new_instance"))) != nullptr &&
        (m_runWithArgs = reinterpret_cast<TarvikRunWithArgsFn>(
             ::dlsym(m_library, "tarvik_run_with_args"))) != nullptr &&
        (m_exit = reinterpret_cast<TarvikExitFn>(::dlsym(m_library, "tarvik_exit"))) != nullptr &&
        (m_deleteInstance = reinterpret_cast<TarvikDeleteInstanceFn>(
             ::dlsym(m_library, "tarvik_delete_instance"))) != nullptr;
    if (!ok) {
        const char* why = ::dlerror();
        m_loadError = why ? why : "an entry is missing";
        FreeRenderer();
    }
    return ok;
}

int Renderer::FreeRenderer() {
    if (m_library) ::dlclose(m_library);
    m_library = nullptr;
    m_newInstance = nullptr;
    m_runWithArgs = nullptr;
    m_exit = nullptr;
    m_deleteInstance = nullptr;
    return 1;
}

std::string Renderer::PageFolder() const {
    std::lock_guard<std::mutex> lock(m_folderMutex);
    return m_pageFolder;
}

int Renderer::RenderPages(const std::string& inputPath, const std::string& baseName, int xdpi,
                          int ydpi) {
    // A private folder per render: a fixed name in a shared temporary folder
    // would let another user plant or read pages.
    const std::string temporary = TemporaryFolder();
    MakeDirs(temporary + "/");
    // Cheap beside a render, and a window left open for days still cleans up.
    SweepAbandonedPageFolders(temporary);
    m_report = RenderReport{};
    std::string pattern = temporary + "/mtmp-XXXXXX";
    std::string folder;
    {
        // Made and recorded in one step, so whoever cleans up after an
        // interrupt always knows the folder.
        std::lock_guard<std::mutex> lock(m_folderMutex);
        if (::mkdtemp(pattern.data())) folder = pattern + "/";
        m_pageFolder = folder;
    }
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = folder.empty() ? -1 : LockPageFolder(folder);
    // Without a folder of its own the renderer would write wherever the
    // pattern points, so it is not called.
    if (folder.empty() || !m_library) return -1;

    std::vector<std::string> args =
        RendererArguments(folder, PageStem(baseName), xdpi, ydpi, inputPath, m_canvas);
    const std::string reportPath = folder + kPageFolderReport;
    args.push_back("-sTarvikReport=" + reportPath);
    long long limit = m_pageLimit >= 0 ? m_pageLimit : EnvironmentMegabytes("VARNEL_PAGE_LIMIT_MB");
    long long reserve =
        m_diskReserve >= 0 ? m_diskReserve : EnvironmentMegabytes("VARNEL_DISK_RESERVE_MB");
    if (limit >= 0) args.push_back("-dTarvikPageLimit=" + std::to_string(limit));
    if (reserve >= 0) args.push_back("-dTarvikDiskReserve=" + std::to_string(reserve));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    void* instance = nullptr;
    int result = m_newInstance(&instance, nullptr);
    if (result < 0) return result;
    if (result == 0) result = m_runWithArgs(instance, static_cast<int>(args.size()), argv.data());
    m_exit(instance);
    m_deleteInstance(instance);
    m_report = ReadReport(reportPath);
    ::unlink(reportPath.c_str());
    return result;
}

void Renderer::RemovePageFolder(const std::vector<std::string>& pages) {
    const std::string folder = PageFolder();
    for (const std::string& page : pages) ::unlink(page.c_str());
    if (!folder.empty()) {
        ::unlink((folder + kPageFolderReport).c_str());
        ::unlink((folder + kPageFolderLock).c_str());
        ::rmdir(folder.c_str());
    }
    // The lock goes last: until the folder is gone it is still ours.
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = -1;
}

} // namespace varnel
