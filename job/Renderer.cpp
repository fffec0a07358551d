#include "Renderer.h"

#include "ConvertSettings.h"

#include <cstdlib>
#include <dlfcn.h>
#include <stdlib.h>

namespace varnel {

namespace {

// TMPDIR when it names a folder path, else /tmp; without trailing "/".
std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

} // namespace

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
    args.insert(args.end(), canvas.switches.begin(), canvas.switches.end());
    args.push_back(inputPath);
    return args;
}

Renderer::~Renderer() {
    FreeRenderer();
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
    std::string pattern = temporary + "/mtmp-XXXXXX";
    std::string folder;
    {
        // Made and recorded in one step, so whoever cleans up after an
        // interrupt always knows the folder.
        std::lock_guard<std::mutex> lock(m_folderMutex);
        if (::mkdtemp(pattern.data())) folder = pattern + "/";
        m_pageFolder = folder;
    }
    // Without a folder of its own the renderer would write wherever the
    // pattern points, so it is not called.
    if (folder.empty() || !m_library) return -1;

    std::vector<std::string> args =
        RendererArguments(folder, baseName, xdpi, ydpi, inputPath, m_canvas);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    void* instance = nullptr;
    int result = m_newInstance(&instance, nullptr);
    if (result < 0) return result;
    if (result == 0) result = m_runWithArgs(instance, static_cast<int>(args.size()), argv.data());
    m_exit(instance);
    m_deleteInstance(instance);
    return result;
}

} // namespace varnel
