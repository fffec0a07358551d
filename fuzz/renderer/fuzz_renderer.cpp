// Runs the whole renderer on the fuzz bytes through its four entries, as the
// job runner calls it: the bytes become a file, the pages (at a tiny size)
// land in a private folder and are deleted afterwards.
#include "tarvik.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& Folder() {
    static const std::filesystem::path dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-renderer-XXXXXX";
        char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        std::filesystem::path p(made);
        // Leave nothing behind when the fuzzer ends.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(Folder(), ec);
        });
        return p;
    }();
    return dir;
}

} // namespace

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
    char a0[] = "tarvik", a1[] = "-dNOPAUSE", a2[] = "-dBATCH", a3[] = "-dSAFER",
         a4[] = "-sDEVICE=bmp16m", a6[] = "-r20x20", a7[] = "-g165x233";
    char* argv[] = {a0, a1, a2, a3, a4, out.data(), a6, a7, in.data(), nullptr};
    void* instance = nullptr;
    if (tarvik_new_instance(&instance, nullptr) == 0) tarvik_run_with_args(instance, 9, argv);
    tarvik_exit(instance);
    tarvik_delete_instance(instance);

    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.path() != input) fs::remove(entry.path(), ec);
    fs::remove(input, ec);
    return 0;
}
