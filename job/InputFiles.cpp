#include "InputFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

bool FileReadable(const std::string& path) {
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // A folder opens for reading here too, but it is no print job.
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}

const char* const kInputExtensions[7] = {".pcl", ".pxl", ".px3", ".plt", ".hpg", ".hpgl", ".hp2"};

bool HasExtensionIn(const std::string& path, const char* const* extensions, std::size_t count) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (::strcasecmp(path.c_str() + dot, extensions[i]) == 0) return true;
    return false;
}

bool HasInputExtension(const std::string& path) {
    return HasExtensionIn(path, kInputExtensions, std::size(kInputExtensions));
}

bool IsAcceptedInput(const std::string& path) {
    return HasInputExtension(path) && FileReadable(path);
}

std::int64_t FileSizeKB(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
    double kb = static_cast<double>(st.st_size) / 1024 + 0.9;
    return static_cast<std::int64_t>(kb);
}

std::vector<std::string> FolderFiles(const std::string& folder) {
    std::vector<std::string> files;
    if (folder.empty()) return files;
    std::string base = folder.back() == '/' ? folder : folder + "/";
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return files;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = base + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        files.push_back(path);
    }
    ::closedir(dir);
    return files;
}

} // namespace varnel
