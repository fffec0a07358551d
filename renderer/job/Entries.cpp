// The four exported entries.
#include "tarvik.h"

#include "core/Job.h"
#include "job/Arguments.h"
#include "job/Runner.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <string_view>
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

// One line of free text: control characters would break the line format.
std::string OneLine(std::string_view text) {
    std::string out(text.substr(0, 300));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

const char* StopWord(tarvik::StopReason why) {
    switch (why) {
    case tarvik::StopReason::PageLimit:
        return "pages";
    case tarvik::StopReason::Budget:
        return "budget";
    case tarvik::StopReason::WriteFailed:
        return "write";
    case tarvik::StopReason::DiskReserve:
        return "disk";
    case tarvik::StopReason::PageBytes:
        return "limit";
    case tarvik::StopReason::None:
        break;
    }
    return "none";
}

// The caller's report: a few lines of "key value", read back by the
// converter to tell the user what became of the job.
void WriteReport(const std::string& path, int result, const tarvik::JobContext* job) {
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (!f) return;
    std::fprintf(f, "result %d\n", result);
    if (job) {
        std::fprintf(f, "pages %d\n", job->PagesWritten());
        std::fprintf(f, "bytes %llu\n", static_cast<unsigned long long>(job->PageFileBytes()));
        std::fprintf(f, "stop %s\n", StopWord(job->WhyStopped()));
        if (!job->WriteError().empty())
            std::fprintf(f, "error %s\n", OneLine(job->WriteError()).c_str());
        if (job->BrokenAt() >= 0)
            std::fprintf(f, "broken %lld\n", static_cast<long long>(job->BrokenAt()));
        for (const auto& [what, count] : job->JobUnsupported())
            std::fprintf(f, "unsupported %d %s\n", count, OneLine(what).c_str());
        for (const std::string& w : job->JobWarnings())
            std::fprintf(f, "warning %s\n", OneLine(w).c_str());
    }
    std::fclose(f);
}

int Run(int argc, char** argv) {
    tarvik::Arguments args;
    std::string error;
    if (!tarvik::ParseArguments(argc, argv, args, error)) {
        if (args.verbose) std::fprintf(stderr, "tarvik: %s\n", error.c_str());
        if (!args.reportPath.empty())
            WriteReport(args.reportPath, tarvik::kResultCannotOpen, nullptr);
        return tarvik::kResultCannotOpen;
    }
    MappedFile file(args.input);
    if (!file.Ok()) {
        if (args.verbose) std::fprintf(stderr, "tarvik: cannot open %s\n", args.input.c_str());
        if (!args.reportPath.empty())
            WriteReport(args.reportPath, tarvik::kResultCannotOpen, nullptr);
        return tarvik::kResultCannotOpen;
    }
    tarvik::JobOptions options;
    options.xdpi = args.xdpi;
    options.ydpi = args.ydpi;
    options.widthPx = args.widthPx;
    options.heightPx = args.heightPx;
    options.outputPattern = args.outputPattern;
    options.verbose = args.verbose;
    options.jobPaper = args.jobPaper;
    options.fit = args.fit;
    options.firstPage = args.firstPage;
    if (args.pageLimitBytes >= 0) options.limits.maxPageFileBytes = uint64_t(args.pageLimitBytes);
    if (args.diskReserveBytes >= 0) options.limits.diskReserveBytes = args.diskReserveBytes;
    // Large inputs may do more work; small ones cannot buy much by repetition.
    if (args.operations >= 0)
        options.limits.maxOperations = uint64_t(args.operations);
    else
        options.limits.maxOperations = std::max<uint64_t>(
            options.limits.maxOperations, tarvik::kOperationsPerInputByte * file.Size());
    if (args.trace) options.trace = &std::cout;
    tarvik::JobContext job(std::move(options));
    int result;
    // Memory exhaustion ends the job; its finished pages stay.
    try {
        result = tarvik::RunInput(file.Data(), file.Size(), job);
    } catch (...) {
        job.Warning("out of memory");
        result = tarvik::kResultBroken;
    }
    if (args.verbose)
        std::fprintf(stderr, "tarvik: %d page(s), result %d, %d warning(s), %d unsupported\n",
                     job.PagesWritten(), result, job.WarningCount(), job.UnsupportedCount());
    if (!args.reportPath.empty()) WriteReport(args.reportPath, result, &job);
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
