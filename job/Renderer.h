// Binding to the page renderer libtarvik.so and the rendering of one input file.
//
// Use (window thread): LoadRenderer() once at start; on false show
// kLoadRendererFailed and end. FreeRenderer() when the window closes.
// The runner's worker calls RenderPages for each input file; the page bitmaps
// appear in PageFolder(), a private folder made for that call.
#pragma once

#include "tarvik.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace varnel {

inline constexpr const char* kRendererLibrary = "libtarvik.so";
inline constexpr const char* kLoadRendererFailed = "Load libtarvik.so failed, please reinstall!";

// The nine arguments handed to the renderer for one input file:
// "tarvik" "-dNOPAUSE" "-dBATCH" "-dSAFER" "-sDEVICE=bmp16m"
// "-sOutputFile=<pageFolder><baseName>_%03d.bmp" "-r<x>x<y>" "-g<w>x<h>" <input>.
// The page size is A4 (8.27 x 11.69 inches) at the resolution, truncated.
std::vector<std::string> RendererArguments(const std::string& pageFolder,
                                           const std::string& baseName, int xdpi, int ydpi,
                                           const std::string& inputPath);

// The canvas of every page, in inches, and switches the renderer is given
// after the nine arguments (it ignores switches it does not know). The default
// is A4 and no switches: the nine arguments above.
struct PageCanvas {
    double widthInches = 8.27;
    double heightInches = 11.69;
    std::vector<std::string> switches;
};
std::vector<std::string> RendererArguments(const std::string& pageFolder,
                                           const std::string& baseName, int xdpi, int ydpi,
                                           const std::string& inputPath, const PageCanvas& canvas);

// What the renderer said about its latest run.
struct RenderReport {
    bool present = false; // the renderer wrote its report
    int result = 0;
    int pages = 0;           // page files written
    std::string stop;        // why it took no more pages: "none", "pages" (page count
                             // limit), "budget", "write", "disk" (reserve), "limit" (bytes)
    std::string error;       // the system's text for a failed page write
    long long brokenAt = -1; // byte where the input first broke
    std::vector<std::pair<std::string, int>> unsupported; // feature, count
    std::vector<std::string> warnings;
};

// Names the renderer's page folder holds besides the pages.
inline constexpr const char* kPageFolderLock = ".lock";
inline constexpr const char* kPageFolderReport = ".report";

// Page file stems are cut to this many bytes, so the page names and the
// renderer's temporary names stay within the file system's name limit.
inline constexpr std::size_t kMaxPageStem = 200;
std::string PageStem(const std::string& baseName);

// TMPDIR when it names a folder path, else /tmp; without trailing "/".
std::string TemporaryFolder();

// Removes every page folder of this user in temporary whose owning process
// has gone: ownership is a lock on the folder's lock file, held for the
// folder's life. Folders without a lock file are left alone.
void SweepAbandonedPageFolders(const std::string& temporary);

// For a program ending at once on a signal: empties and removes the page
// folders of the renders under way and every half-written output file, and
// refuses new output files. Safe from any thread but a signal handler.
void RemoveWorkFilesForExit();

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Loads the library and binds its four entries in order, stopping at the
    // first missing one. With no path the library is found by name through the
    // normal search (the programs' RUNPATH holds their own folder); tests pass
    // the path of a stand-in. Unloads again on failure.
    bool LoadRenderer(const char* libraryPath = nullptr);
    // Unloads the library if loaded. Returns 1.
    int FreeRenderer();
    bool IsLoaded() const { return m_library != nullptr; }
    // Why the last LoadRenderer failed, as the system's loader put it.
    const std::string& LoadError() const { return m_loadError; }

    // Makes a fresh page folder, has a fresh renderer instance render the input
    // into it and deletes the instance. Returns the last renderer result; a
    // negative value when the page folder could not be made (no call is made
    // then) or the library is not loaded. Each call first sweeps abandoned
    // page folders. Besides the nine arguments the renderer gets its report file
    // and, when set, the page-file limit and disk reserve; the environment's
    // VARNEL_PAGE_LIMIT_MB and VARNEL_DISK_RESERVE_MB set them when
    // SetPageLimits did not.
    int RenderPages(const std::string& inputPath, const std::string& baseName, int xdpi, int ydpi);
    // The report of the latest RenderPages call.
    const RenderReport& LastReport() const { return m_report; }
    // Bytes of page files one job may write, and free space to keep on the
    // page folder's file system; negative: the renderer's defaults.
    void SetPageLimits(long long pageBytes, long long reserveBytes) {
        m_pageLimit = pageBytes;
        m_diskReserve = reserveBytes;
    }
    // Hands the lock of the latest page folder to the caller, who keeps the
    // folder beyond the next render and closes the descriptor when it may be
    // swept. -1 when there is none.
    int ReleasePageFolderLock() { return std::exchange(m_lockFd, -1); }
    // Empties and removes the latest page folder and gives up its lock.
    void RemovePageFolder(const std::vector<std::string>& pages);

    // The page folder of the latest RenderPages call, ending in "/"; empty
    // before the first call or when it could not be made. Safe from any thread.
    std::string PageFolder() const;

    // The canvas for the following renders (A4 until set).
    void SetCanvas(const PageCanvas& canvas) { m_canvas = canvas; }

private:
    void* m_library = nullptr;
    TarvikNewInstanceFn m_newInstance = nullptr;
    TarvikRunWithArgsFn m_runWithArgs = nullptr;
    TarvikExitFn m_exit = nullptr;
    TarvikDeleteInstanceFn m_deleteInstance = nullptr;
    std::string m_loadError;
    mutable std::mutex m_folderMutex;
    std::string m_pageFolder;
    int m_lockFd = -1;
    RenderReport m_report;
    long long m_pageLimit = -1;
    long long m_diskReserve = -1;
    PageCanvas m_canvas;
};

} // namespace varnel
