// Runs the whole renderer on the fuzz bytes through its four entries, as the
// job runner calls it: the bytes become a file, the pages (at a tiny size)
// land in a private folder and are deleted afterwards.
#include "tarvik.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr const char* kPrefix = "fuzz-renderer-";

// Fork mode kills its children, so their exit handlers never run: each
// process's folder holds a lock file locked for the process's life, and
// every start removes the folders whose lock is free.
void SweepAbandonedFolders(const std::filesystem::path& temporary) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(temporary, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) != 0 || !entry.is_directory(ec)) continue;
        int fd = ::open((entry.path() / ".lock").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) std::filesystem::remove_all(entry.path(), ec);
        ::close(fd);
    }
}

const std::filesystem::path& Folder() {
    // Never destroyed: the exit handler below runs after static destructors
    // registered later, and must still see the path.
    static const std::filesystem::path& dir = *new std::filesystem::path([] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string temporary = tmp && *tmp ? tmp : "/tmp";
        SweepAbandonedFolders(temporary);
        std::string pattern = temporary + "/" + kPrefix + "XXXXXX";
        char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        std::filesystem::path p(made);
        // Made and locked under another name, so a sweep never sees it free.
        const std::string making = (p / ".lock-new").string();
        int fd = ::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0 ||
            ::rename(making.c_str(), (p / ".lock").c_str()) != 0)
            std::abort();
        // Leave nothing behind when the fuzzer ends normally.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(Folder(), ec);
        });
        return p;
    }());
    return dir;
}

} // namespace

// Every process of a fork-mode run starts here, the parent too: the parent
// removes, as it ends, what its last children left.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit([] {
        const char* tmp = std::getenv("TMPDIR");
        SweepAbandonedFolders(tmp && *tmp ? tmp : "/tmp");
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    const fs::path& dir = Folder();
    fs::path input = dir / "input.prn";
    FILE* f = std::fopen(input.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::string out = "-sOutputFile=" + (dir / "page_%03d.bmp").string();
    std::string in = input.string();
    // A tenth of the usual work budget: every input ends within a few
    // seconds, so only a real hang times out.
    char a0[] = "tarvik", a1[] = "-dNOPAUSE", a2[] = "-dBATCH", a3[] = "-dSAFER",
         a4[] = "-sDEVICE=bmp16m", a6[] = "-r20x20", a7[] = "-g165x233",
         a9[] = "-dTarvikBudget=20000000";
    char* argv[] = {a0, a1, a2, a3, a4, out.data(), a6, a7, in.data(), a9, nullptr};
    void* instance = nullptr;
    if (tarvik_new_instance(&instance, nullptr) == 0) tarvik_run_with_args(instance, 10, argv);
    tarvik_exit(instance);
    tarvik_delete_instance(instance);

    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.path() != input && entry.path().filename() != ".lock")
            fs::remove(entry.path(), ec);
    fs::remove(input, ec);
    return 0;
}
