// The four exported entries.
#include "tarvik.h"

#include "core/Job.h"
#include "job/Arguments.h"
#include "job/Runner.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kInstanceMagic = 0x5452564b; // "TRVK"

struct Instance {
    uint32_t magic = kInstanceMagic;
    bool ran = false;
};

Instance* FromHandle(void* handle) {
    auto* inst = static_cast<Instance*>(handle);
    if (!inst || inst->magic != kInstanceMagic) return nullptr;
    return inst;
}

// The input, mapped read-only: no copy of a large file is made, and pages
// of it the kernel can drop do not count against memory.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) return;
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
        m_size = size_t(st.st_size);
        if (m_size == 0) {
            m_ok = true;
            return;
        }
        void* p = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, m_fd, 0);
        if (p == MAP_FAILED) return;
        m_data = static_cast<const uint8_t*>(p);
        ::madvise(p, m_size, MADV_SEQUENTIAL);
        m_ok = true;
    }
    ~MappedFile() {
        if (m_data) ::munmap(const_cast<uint8_t*>(m_data), m_size);
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Ok() const { return m_ok; }
    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    int m_fd = -1;
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    bool m_ok = false;
};

int Run(int argc, char** argv) {
    tarvik::Arguments args;
    std::string error;
    if (!tarvik::ParseArguments(argc, argv, args, error)) {
        if (args.verbose) std::fprintf(stderr, "tarvik: %s\n", error.c_str());
        return tarvik::kResultCannotOpen;
    }
    MappedFile file(args.input);
    if (!file.Ok()) {
        if (args.verbose) std::fprintf(stderr, "tarvik: cannot open %s\n", args.input.c_str());
        return tarvik::kResultCannotOpen;
    }
    tarvik::JobOptions options;
    options.xdpi = args.xdpi;
    options.ydpi = args.ydpi;
    options.widthPx = args.widthPx;
    options.heightPx = args.heightPx;
    options.outputPattern = args.outputPattern;
    options.verbose = args.verbose;
    if (args.trace) options.trace = &std::cout;
    tarvik::JobContext job(std::move(options));
    int result = tarvik::RunInput(file.Data(), file.Size(), job);
    if (args.verbose)
        std::fprintf(stderr, "tarvik: %d page(s), result %d, %d warning(s), %d unsupported\n",
                     job.PagesWritten(), result, job.WarningCount(), job.UnsupportedCount());
    return result;
}

} // namespace

extern "C" {

int tarvik_new_instance(void** instance, void* /*caller_handle*/) {
    if (!instance) return -1;
    *instance = nullptr;
    auto* inst = new (std::nothrow) Instance;
    if (!inst) return -1;
    *instance = inst;
    return 0;
}

int tarvik_run_with_args(void* instance, int argc, char** argv) {
    Instance* inst = FromHandle(instance);
    if (!inst) return tarvik::kResultCannotOpen;
    inst->ran = true;
    // Nothing may escape into the caller; memory exhaustion ends the job.
    try {
        return Run(argc, argv);
    } catch (...) {
        return tarvik::kResultBroken;
    }
}

int tarvik_exit(void* instance) {
    return FromHandle(instance) ? 0 : -1;
}

int tarvik_delete_instance(void* instance) {
    Instance* inst = FromHandle(instance);
    if (!inst) return -1;
    inst->magic = 0;
    delete inst;
    return 0;
}

} // extern "C"
