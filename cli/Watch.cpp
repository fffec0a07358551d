#include "Watch.h"

#include "Inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name the folder's writer hands over: no hidden or partial file, and a
// print extension or print content.
bool IsArrival(const std::string& folder, const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    const std::string path = folder + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return HasPrintExtension(name) || !GatherInputList({path}, {}).files.empty();
}

// A free name in the folder: the name itself, else "stem-2.ext", "stem-3.ext", ...
std::string FreeName(const std::string& folder, const std::string& name) {
    std::size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::string candidate = name;
    struct stat st {};
    for (int n = 2; ::lstat((folder + candidate).c_str(), &st) == 0; ++n)
        candidate = stem + "-" + std::to_string(n) + ext;
    return candidate;
}

void WriteLog(const std::string& path, const FileResult& r) {
    std::ofstream log(path);
    log << "input: " << r.input << "\nstatus: " << r.status << "\nreason: " << r.reason
        << "\npages: " << r.pagesRendered << "\n";
    for (const std::string& w : r.warnings) log << "warning: " << w << "\n";
    for (const std::string& o : r.outputs) log << "output: " << o << "\n";
}

std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) names.push_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

int RunWatch(const WatchSettings& watch, BatchSettings batch, Renderer& renderer,
             SignalWatch& signals, ReportStyle style) {
    std::string folder = watch.folder;
    if (folder.back() != '/') folder += '/';
    if (!IsFolder(folder)) {
        std::cerr << "varnel-convert: the watch folder " << watch.folder << " is no folder\n";
        return 2;
    }
    const std::string done = folder + "done/", failed = folder + "failed/";
    ::mkdir(done.c_str(), 0777);
    ::mkdir(failed.c_str(), 0777);
    if (!watch.outputGiven) {
        batch.outputMode = 1;
        batch.outputFolder = folder + "out/";
    }
    style.progress = false;

    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(),
                                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                          IN_ONLYDIR) < 0) {
        std::cerr << "varnel-convert: cannot watch " << watch.folder << ": " << std::strerror(errno)
                  << "\n";
        if (fd >= 0) ::close(fd);
        return 2;
    }

    std::deque<std::string> queue;
    std::set<std::string> queued;
    auto consider = [&](const std::string& name) {
        if (!queued.count(name) && IsArrival(folder, name)) {
            queue.push_back(name);
            queued.insert(name);
        }
    };
    // Files that came while nobody watched.
    auto rescan = [&] {
        for (const std::string& name : SortedNames(folder)) consider(name);
    };
    rescan();
    if (!style.quiet) std::cerr << "varnel-convert: watching " << folder << "\n";

    int status = 0;
    bool stop = false, gone = false;
    while (!stop && !gone) {
        if (!queue.empty()) {
            std::vector<std::string> names;
            while (!queue.empty() && int(names.size()) < std::max(1, batch.jobs)) {
                names.push_back(queue.front());
                queue.pop_front();
            }
            std::vector<std::string> paths;
            for (const std::string& n : names) paths.push_back(folder + n);
            std::vector<FileTask> tasks = PlanTasks(paths, batch);
            // A name that arrives again must not replace the outputs of the
            // earlier file, which has gone to done/ under a name of its own.
            if (batch.existing == Existing::Overwrite) {
                for (FileTask& t : tasks) {
                    const std::string stem = t.stem;
                    for (int n = 2; !ExistingOutput(batch, t.input, t.stem).empty(); ++n)
                        t.stem = stem + "-" + std::to_string(n);
                    if (t.stem != stem) t.renamedFrom = "an earlier " + stem;
                }
            }
            BatchReport report(paths, std::cout, std::cerr, style);
            BatchEvents events;
            events.status = [&](int i, const std::string& s) { report.Status(i, s); };
            events.finished = [&](int i, const FileResult& r) {
                report.Finished(i, r);
                const bool ok = r.status == "Succeed" || r.status == "Skipped";
                if (r.status == "Aborted") return; // stays for the next start
                const std::string& name = names[std::size_t(i)];
                const std::string to = ok ? done : failed;
                const std::string target = FreeName(to, name);
                if (::rename(r.input.c_str(), (to + target).c_str()) != 0)
                    std::cerr << "varnel-convert: cannot move " << r.input << ": "
                              << std::strerror(errno) << "\n";
                if (!ok) WriteLog(to + target + ".log", r);
            };
            BatchOutcome outcome =
                RunBatch(tasks, batch, renderer, signals, SignalMode::FinishInHand, events);
            if (outcome.signal != 0) SignalWatch::Reraise(outcome.signal);
            for (const std::string& n : names) queued.erase(n);
            if (outcome.stopRequested) stop = true;
            continue;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN && signals.Take() != 0) stop = true;
        if (fds[0].revents & POLLIN) {
            alignas(inotify_event) char buffer[16384];
            ssize_t n;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
                for (char* p = buffer; p < buffer + n;) {
                    auto* e = reinterpret_cast<inotify_event*>(p);
                    if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) gone = true;
                    if (e->mask & IN_Q_OVERFLOW) rescan();
                    if (e->len > 0 && (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))) consider(e->name);
                    p += sizeof(inotify_event) + e->len;
                }
            }
        }
    }
    if (gone) {
        std::cerr << "varnel-convert: the watch folder " << watch.folder
                  << " was removed or moved; stopping\n";
        status = 1;
    } else if (!style.quiet) {
        std::cerr << "varnel-convert: stopped watching " << folder << "\n";
    }
    ::close(fd);
    return status;
}

} // namespace varnel
