#include "OutputFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string RandomSuffix() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, int(sizeof(kLetters)) - 2);
    std::string suffix(8, 'x');
    for (char& ch : suffix) ch = kLetters[pick(generator)];
    return suffix;
}

std::mutex g_pendingMutex;
std::set<std::string> g_pending;
bool g_closed = false; // RemovePendingOutputs ran: no new files

} // namespace

void ForgetPendingOutput(const std::string& temporaryPath) {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    g_pending.erase(temporaryPath);
}

void RemovePendingOutputs() {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    g_closed = true;
    for (const std::string& path : g_pending) ::unlink(path.c_str());
    g_pending.clear();
}

bool OutputFile::Open(const std::string& finalPath) {
    Discard();
    if (finalPath.empty() || finalPath.back() == '/') return false;
    size_t slash = finalPath.rfind('/');
    std::string folder =
        slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    // What the final rename would refuse is refused now, before any work:
    // a name the file system cannot hold, or a folder in the file's place.
    struct stat existing;
    if (name.size() > NAME_MAX) return false;
    if (::stat(finalPath.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return false;
    // Leaves room for the decoration within the 255-byte name limit.
    if (name.size() > 200) name.resize(200);
    for (int attempt = 0; attempt < 64; ++attempt) {
        // A dot name keeps the half-written file out of ordinary listings; the
        // mode 0666 lets the umask decide, as for any file the user creates.
        std::string temp = folder + "." + name + "." + RandomSuffix() + ".part";
        // Made and recorded in one step, so an exit on a signal finds it.
        std::lock_guard<std::mutex> lock(g_pendingMutex);
        if (g_closed) return false;
        int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        m_file = ::fdopen(fd, "w+b");
        if (!m_file) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        g_pending.insert(temp);
        m_tempPath = temp;
        m_finalPath = finalPath;
        return true;
    }
    return false;
}

bool OutputFile::Commit() {
    if (!m_file) return false;
    bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file);
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (ok) ok = std::rename(m_tempPath.c_str(), m_finalPath.c_str()) == 0;
    if (!ok) ::unlink(m_tempPath.c_str());
    ForgetPendingOutput(m_tempPath);
    m_tempPath.clear();
    return ok;
}

void OutputFile::Discard() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        ForgetPendingOutput(m_tempPath);
        m_tempPath.clear();
    }
}

std::string OutputFile::TakeTemporary() {
    std::string temp = std::move(m_tempPath);
    m_tempPath.clear();
    m_file = nullptr;
    return temp;
}
