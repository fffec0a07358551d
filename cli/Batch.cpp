#include "Batch.h"

#include "ConvertView.h"
#include "ExitSignals.h"
#include "ImgConv.h"
#include "OutputFormats.h"
#include "Renderer.h"
#include "Runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;

std::string StemOf(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

// The folder's own name when it exists, so "a/../b" and "b" meet.
std::string CanonicalFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (char* real = ::realpath(folder.c_str(), nullptr)) {
        folder = real;
        std::free(real);
    }
    if (folder.back() != '/') folder += '/';
    return folder;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void RemoveTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = ::opendir(path.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") RemoveTree(path + "/" + name);
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

// How long a child asked to end may take to remove its work files.
constexpr std::chrono::seconds kGrace{3};
constexpr const char* kRunPrefix = "varnel-run-";
constexpr const char* kRunLock = ".lock";

// Waits for the child until the deadline, then kills it; its wait status.
int EndChild(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return status;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The batch's own folder below the temporary folder; children make their page
// folders inside it. A lock on its lock file, held by the batch and its
// children, tells a later batch whether the owner is gone.
struct RunFolder {
    RunFolder() {
        std::string pattern = TemporaryFolder() + "/" + kRunPrefix + "XXXXXX";
        if (!::mkdtemp(pattern.data())) return;
        lock = ::open((pattern + "/" + kRunLock).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            path = pattern;
        } else {
            RemoveTree(pattern);
        }
    }
    ~RunFolder() {
        if (path.empty()) return;
        RemoveTree(path);
        ::close(lock);
    }
    std::string path;
    int lock = -1;
};

void SweepAbandonedRunFolders(const std::string& temporary) {
    DIR* dir = ::opendir(temporary.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind(kRunPrefix, 0) != 0) continue;
        const std::string folder = temporary + "/" + name;
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        int fd = ::open((folder + "/" + kRunLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue; // no lock file: nothing says whose it is
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveTree(folder);
        ::close(fd);
    }
    ::closedir(dir);
}

// Report lines between child and parent: "key text", with "\" and newlines
// escaped so a path may hold either.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

int g_childReportFd = -1;
pid_t g_batchPid = 0;
Runner* g_childRunner = nullptr;

void OnChildStop(int) {
    if (g_childRunner) g_childRunner->RequestStop();
}

// Tells the parent the process ran out of memory, then lets the allocation
// fail as it would have.
void OnOutOfMemory() {
    static const char kLine[] = "memory\n";
    if (g_childReportFd >= 0) (void)!::write(g_childReportFd, kLine, sizeof kLine - 1);
    std::set_new_handler(nullptr);
}

int CountPageFiles(const std::string& folder) {
    if (folder.empty()) return 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        // Pages under way have a temporary name starting with a dot.
        std::size_t len = std::strlen(e->d_name);
        n += e->d_name[0] != '.' && len > 4 && std::strcmp(e->d_name + len - 4, ".bmp") == 0;
    }
    ::closedir(dir);
    return n;
}

// The runner's view in a child: one row, every call passed up the pipe.
class ChildView : public ConvertView {
public:
    ChildView(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    int RowCount() override { return 1; }
    std::string RowPath(int) override { return m_path; }
    void SetRowStatus(int, const std::string& status) override {
        m_status = status;
        WriteAll(m_fd, "status " + Escape(status) + "\n");
    }
    void SelectOnlyItem(int) override {}
    void SetProgress(int) override {}
    void SetSelectedLabel(const std::string&) override {}
    void SetStartStopButton(const std::string&, bool) override {}
    void EnableControls(bool) override {}
    int StatusPauseMs() const override { return 0; }
    void RowFinished(int, const RowReport& report) override {
        m_report = report;
        m_haveReport = true;
    }
    void SetPageProgress(int, int page, int pages) override {
        WriteAll(m_fd, "page " + std::to_string(page) + " " + std::to_string(pages) + "\n");
    }

    std::string m_path;
    int m_fd;
    std::string m_status;
    RowReport m_report;
    bool m_haveReport = false;
};

[[noreturn]] void RunChild(const FileTask& task, const BatchSettings& s, Renderer& renderer, int fd,
                           const std::string& temp) {
    // Ends with the batch, even when the batch is killed; a batch gone before
    // this line is seen by the parent id.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != g_batchPid) ::_exit(1);
    ::setenv("TMPDIR", temp.c_str(), 1);
    struct rlimit noCore {
        0, 0
    };
    ::setrlimit(RLIMIT_CORE, &noCore);
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_ASAN 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(VARNEL_ASAN)
    // The sanitizer reserves far more address space than it uses.
    if (s.maxMemoryMiB > 0) {
        rlim_t bytes = rlim_t(s.maxMemoryMiB) * 1024 * 1024;
        struct rlimit limit {
            bytes, bytes
        };
        ::setrlimit(RLIMIT_AS, &limit);
    }
#endif
    g_childReportFd = fd;
    std::set_new_handler(OnOutOfMemory);
    // Terminate and hang-up remove what the conversion half-made; an interrupt
    // is the parent's to judge (it reaches the whole process group).
    HandleExitSignals([](int sig) { return sig == SIGINT; });

    // The runner names outputs after the path it is given; a renamed task is
    // given a link of that name to its input.
    std::string path = task.input;
    if (task.stem != StemOf(task.input)) {
        char* real = ::realpath(task.input.c_str(), nullptr);
        std::string target = real ? real : task.input;
        std::free(real);
        std::string ext = task.input.substr(task.input.rfind('/') + 1);
        std::size_t dot = ext.rfind('.');
        ext = dot == std::string::npos ? "" : ext.substr(dot);
        std::string alias = temp + "/in";
        ::mkdir(alias.c_str(), 0700);
        path = alias + "/" + task.stem + ext;
        if (::symlink(target.c_str(), path.c_str()) != 0) {
            WriteAll(fd, "result Failed\nreason cannot name the outputs apart: " +
                             Escape(std::strerror(errno)) + "\nend\n");
            ::_exit(0);
        }
    }
    const std::string baseFolder =
        s.outputMode == 1 ? s.outputFolder : CanonicalFolder(FolderOf(task.input));

    ChildView view(path, fd);
    renderer.SetCanvas(s.canvas);
    Runner runner(view, renderer);
    int lastPage = 0; // the highest page the renderer wrote
    if (!s.pages.empty()) {
        std::vector<std::pair<int, int>> ranges = s.pages;
        runner.SetPageFilter([ranges, &lastPage](int page) {
            lastPage = std::max(lastPage, page);
            for (const auto& r : ranges)
                if (page >= r.first && page <= r.second) return true;
            return false;
        });
    }
    g_childRunner = &runner;
    struct sigaction stop {};
    stop.sa_handler = OnChildStop;
    ::sigaction(SIGUSR1, &stop, nullptr);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::sigprocmask(SIG_UNBLOCK, &usr1, nullptr);

    // On a worker thread, so the stop flag can be raised while it runs.
    runner.StartStop(s.formatIndex, 1, s.settings, baseFolder);
    // Each finished page enters the renderer's folder under its own name, so
    // counting them shows a long job's headway before its pages are converted.
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::thread counter([&] {
        int counted = 0;
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
            int n = CountPageFiles(renderer.PageFolder());
            if (n > counted) {
                counted = n;
                WriteAll(fd, "rendered " + std::to_string(n) + "\n");
            }
        }
    });
    runner.Wait();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    wake.notify_one();
    counter.join();
    ::sigprocmask(SIG_BLOCK, &usr1, nullptr);
    g_childRunner = nullptr;

    RowReport report = view.m_report;
    if (!view.m_haveReport) {
        report.status = view.m_status.empty() ? "Failed" : view.m_status;
        report.reason = "the conversion gave no report";
    }
    if (report.status == "Failed" && lastPage > 0 && runner.PageList().empty())
        report.reason = "no selected page exists (the file has " + std::to_string(lastPage) +
                        (lastPage == 1 ? " page)" : " pages)");
    std::string text = "result " + Escape(report.status) + "\n";
    if (!report.reason.empty()) text += "reason " + Escape(report.reason) + "\n";
    for (const std::string& w : report.warnings) text += "warning " + Escape(w) + "\n";
    text += "pages " + std::to_string(report.pagesRendered) + "\n";
    text += "work " + std::to_string(report.seconds) + "\n";
    for (const std::string& o : report.outputs) text += "output " + Escape(o) + "\n";
    text += "end\n";
    WriteAll(fd, text);
    ::_exit(0);
}

struct Child {
    int index = -1;
    pid_t pid = -1;
    int fd = -1;
    std::string temp;
    std::string buffer;
    Clock::time_point start;
    bool timedOut = false;
    bool outOfMemory = false;
    bool ended = false;
    FileResult result;
};

// Applies the complete lines of the child's buffer to its result.
void ReadLines(Child& c, const BatchEvents& events) {
    std::size_t nl;
    while ((nl = c.buffer.find('\n')) != std::string::npos) {
        std::string line = c.buffer.substr(0, nl);
        c.buffer.erase(0, nl + 1);
        std::size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : Unescape(line.substr(space + 1));
        if (key == "status") {
            c.result.status = value;
            if (events.status) events.status(c.index, value);
        } else if (key == "result") {
            c.result.status = value;
        } else if (key == "reason") {
            c.result.reason = value;
        } else if (key == "warning") {
            c.result.warnings.push_back(value);
        } else if (key == "pages") {
            c.result.pagesRendered = std::atoi(value.c_str());
        } else if (key == "work") {
            c.result.workSeconds = std::atof(value.c_str());
        } else if (key == "output") {
            c.result.outputs.push_back(value);
        } else if (key == "end") {
            c.ended = true;
        } else if (key == "memory") {
            c.outOfMemory = true;
        } else if (key == "rendered") {
            if (events.rendered) events.rendered(c.index, std::atoi(value.c_str()));
        } else if (key == "page") {
            int page = 0, pages = 0;
            if (std::sscanf(value.c_str(), "%d %d", &page, &pages) == 2 && events.page)
                events.page(c.index, page, pages);
        }
    }
}

std::string SignalName(int sig) {
    const char* name = ::sigabbrev_np(sig);
    return name ? std::string("SIG") + name : "signal " + std::to_string(sig);
}

// The row's outcome once the child is gone.
void Conclude(Child& c, int status, const BatchSettings& s) {
    FileResult& r = c.result;
    r.seconds = std::chrono::duration<double>(Clock::now() - c.start).count();
    if (c.timedOut) {
        r.status = "Failed";
        r.reason = "stopped after the time limit of " + std::to_string(s.timeoutSeconds) + " s";
    } else if (c.ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (r.status.empty()) r.status = "Failed";
        // The renderer may carry on past a failed allocation; say what stopped it.
        if (c.outOfMemory) {
            const std::string limit =
                "the memory limit of " + std::to_string(s.maxMemoryMiB) + " MiB was reached";
            if (r.status == "Succeed")
                r.warnings.push_back(limit);
            else
                r.reason += r.reason.empty() ? limit : " (" + limit + ")";
        }
    } else {
        r.status = "Failed";
        if (c.outOfMemory && s.maxMemoryMiB > 0)
            r.reason = "ran out of memory (limit " + std::to_string(s.maxMemoryMiB) + " MiB)";
        else if (c.outOfMemory)
            r.reason = "ran out of memory";
        else if (WIFSIGNALED(status))
            r.reason = "the renderer crashed (" + SignalName(WTERMSIG(status)) + ")";
        else
            r.reason = "the conversion ended unexpectedly (exit status " +
                       std::to_string(WEXITSTATUS(status)) + ")";
        r.outputs.clear();
    }
    if (r.status == "Failed" && r.reason.empty()) {
        r.reason =
            r.pagesRendered == 0 ? "the renderer wrote no page" : "a page could not be written";
    }
    if (r.status == "Aborted" && r.reason.empty()) r.reason = "stopped by the user";
    if (s.strict && r.status == "Succeed" && !r.warnings.empty()) {
        r.status = "Failed";
        r.reason = "warnings with --strict (outputs were written)";
    }
}

} // namespace

std::string OutputExtension(int formatIndex) {
    return FormatFromEntry(FormatListEntry(formatIndex)).extension;
}

std::string OutputFolderOf(const BatchSettings& s, const std::string& input,
                           const std::string& stem) {
    std::string folder =
        s.outputMode == 1 ? CanonicalFolder(s.outputFolder) : CanonicalFolder(FolderOf(input));
    if (s.settings.each == 1) folder += stem + "/";
    return folder;
}

std::string ExistingOutput(const BatchSettings& s, const std::string& input,
                           const std::string& stem) {
    const std::string folder = OutputFolderOf(s, input, stem);
    const std::string ext = OutputExtension(s.formatIndex);
    const bool merged = ext == ".tif" && s.settings.multpage == 1;
    if (Exists(folder + stem + ext)) return folder + stem + ext;
    if (merged) return "";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return "";
    std::string found;
    const std::string prefix = stem + "_";
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() == prefix.size() + 3 + ext.size() && name.rfind(prefix, 0) == 0 &&
            name.compare(name.size() - ext.size(), ext.size(), ext) == 0 &&
            std::all_of(name.begin() + long(prefix.size()), name.begin() + long(prefix.size() + 3),
                        ::isdigit)) {
            found = folder + name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::vector<FileTask> PlanTasks(const std::vector<std::string>& inputs, const BatchSettings& s) {
    // Output folder and stem of every task so far, and who holds each.
    std::map<std::pair<std::string, std::string>, std::string> taken;
    std::vector<FileTask> tasks;
    auto folderOf = [&](const std::string& input) {
        return s.outputMode == 1 ? CanonicalFolder(s.outputFolder)
                                 : CanonicalFolder(FolderOf(input));
    };
    // Names the inputs themselves would use are kept for them.
    std::set<std::pair<std::string, std::string>> natural;
    for (const std::string& in : inputs) natural.insert({folderOf(in), StemOf(in)});
    for (const std::string& in : inputs) {
        FileTask task{in, StemOf(in), ""};
        const std::string folder = folderOf(in);
        auto holder = taken.find({folder, task.stem});
        if (holder != taken.end()) {
            task.renamedFrom = holder->second;
            for (int n = 2;; ++n) {
                std::string stem = StemOf(in) + "-" + std::to_string(n);
                if (!taken.count({folder, stem}) && !natural.count({folder, stem})) {
                    task.stem = stem;
                    break;
                }
            }
        }
        taken[{folder, task.stem}] = in;
        tasks.push_back(task);
    }
    return tasks;
}

std::vector<FileTask> ShardTasks(const std::vector<FileTask>& tasks, int k, int n) {
    std::vector<FileTask> slice;
    for (std::size_t i = 0; i < tasks.size(); ++i)
        if (int(i % std::size_t(n)) == k) slice.push_back(tasks[i]);
    return slice;
}

SignalWatch::SignalWatch() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    sigdelset(&set, SIGUSR1);
    m_fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

SignalWatch::~SignalWatch() {
    if (m_fd >= 0) ::close(m_fd);
}

int SignalWatch::Take() {
    int last = 0;
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info)) last = int(info.ssi_signo);
    return last;
}

void SignalWatch::Reraise(int sig) {
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

BatchOutcome RunBatch(const std::vector<FileTask>& tasks, const BatchSettings& s,
                      Renderer& renderer, SignalWatch& signals, SignalMode mode,
                      const BatchEvents& events) {
    BatchOutcome outcome;
    MakeDirs(TemporaryFolder() + "/");
    SweepAbandonedRunFolders(TemporaryFolder());
    RunFolder run;
    const std::string& runFolder = run.path;
    g_batchPid = ::getpid();

    std::vector<Child> running;
    // Largest files first, so a long one does not start last and leave the
    // other slots idle at the end; rows still report in input order.
    std::vector<std::size_t> order(tasks.size());
    std::vector<off_t> sizes(tasks.size(), 0);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        order[i] = i;
        struct stat st {};
        if (::stat(tasks[i].input.c_str(), &st) == 0) sizes[i] = st.st_size;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
    std::size_t started = 0; // positions of `order` taken so far
    int interrupts = 0;
    bool stopStarting = false;
    const int jobs = std::max(1, s.jobs);

    auto killAll = [&](int sig) {
        for (Child& c : running) ::kill(c.pid, SIGTERM);
        const auto deadline = Clock::now() + kGrace;
        for (Child& c : running) {
            EndChild(c.pid, deadline);
            ::close(c.fd);
            RemoveTree(c.temp);
        }
        running.clear();
        outcome.signal = sig;
    };

    while ((started < tasks.size() && !stopStarting) || !running.empty()) {
        // Start files while there is room.
        while (!stopStarting && started < tasks.size() && int(running.size()) < jobs &&
               !runFolder.empty()) {
            const std::size_t next = order[started];
            const FileTask& task = tasks[next];
            if (s.existing != Existing::Overwrite) {
                const std::string found = ExistingOutput(s, task.input, task.stem);
                if (!found.empty()) {
                    FileResult r;
                    r.input = task.input;
                    if (s.existing == Existing::Skip) {
                        r.status = "Skipped";
                        r.skipped = true;
                        r.notes.push_back(found + " exists");
                    } else {
                        r.status = "Failed";
                        r.reason = "output exists: " + found + " (--no-clobber)";
                    }
                    if (events.finished) events.finished(int(next), r);
                    ++started;
                    continue;
                }
            }
            Child c;
            c.index = int(next);
            c.temp = runFolder + "/" + std::to_string(next);
            c.result.input = tasks[next].input;
            if (!tasks[next].renamedFrom.empty())
                c.result.notes.push_back("outputs named " + tasks[next].stem + ".* since " +
                                         tasks[next].renamedFrom + " writes the same names");
            ::mkdir(c.temp.c_str(), 0700);
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) break;
            std::fflush(nullptr);
            c.start = Clock::now();
            pid_t pid = ::fork();
            if (pid == 0) {
                ::close(fds[0]);
                RunChild(tasks[next], s, renderer, fds[1], c.temp);
            }
            ::close(fds[1]);
            if (pid < 0) {
                ::close(fds[0]);
                RemoveTree(c.temp);
                c.result.status = "Failed";
                c.result.reason = std::string("cannot start a process: ") + std::strerror(errno);
                if (events.finished) events.finished(c.index, c.result);
                ++started;
                continue;
            }
            c.pid = pid;
            c.fd = fds[0];
            ::fcntl(c.fd, F_SETFL, O_NONBLOCK);
            if (events.started) events.started(c.index);
            running.push_back(std::move(c));
            ++started;
            ++outcome.started;
        }
        if (running.empty()) break;

        // Wait for output, an end, a signal or the nearest time limit.
        std::vector<pollfd> fds;
        fds.push_back({signals.Fd(), POLLIN, 0});
        for (Child& c : running) fds.push_back({c.fd, POLLIN, 0});
        int wait = -1;
        if (s.timeoutSeconds > 0) {
            auto now = Clock::now();
            for (Child& c : running) {
                auto left = c.start + std::chrono::seconds(s.timeoutSeconds) - now;
                int ms = int(std::max<long long>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
                wait = wait < 0 ? ms : std::min(wait, ms);
            }
        }
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) break;

        if (fds[0].revents & POLLIN) {
            int sig = signals.Take();
            if (sig != 0) {
                bool first = !stopStarting;
                stopStarting = true;
                outcome.stopRequested = true;
                if (mode == SignalMode::StopThenQuit && sig == SIGINT && ++interrupts == 1) {
                    for (Child& c : running) ::kill(c.pid, SIGUSR1);
                } else if (!(mode == SignalMode::FinishInHand && first)) {
                    killAll(sig);
                    return outcome;
                }
            }
        }

        // Children: read, notice ends, enforce the time limit.
        for (std::size_t i = 0; i < running.size();) {
            Child& c = running[i];
            char buffer[4096];
            ssize_t n;
            bool eof = false;
            while ((n = ::read(c.fd, buffer, sizeof buffer)) > 0) c.buffer.append(buffer, n);
            if (n == 0) eof = true;
            ReadLines(c, events);
            int status = 0;
            if (!eof && s.timeoutSeconds > 0 &&
                Clock::now() - c.start >= std::chrono::seconds(s.timeoutSeconds)) {
                // Asked first, so it can remove what it half-made.
                c.timedOut = true;
                ::kill(c.pid, SIGTERM);
                status = EndChild(c.pid, Clock::now() + kGrace);
            } else if (eof) {
                while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
                }
            } else {
                ++i;
                continue;
            }
            ::close(c.fd);
            RemoveTree(c.temp);
            Conclude(c, status, s);
            if (events.finished) events.finished(c.index, c.result);
            running.erase(running.begin() + long(i));
        }
    }
    return outcome;
}

} // namespace varnel
