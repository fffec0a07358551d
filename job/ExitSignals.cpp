#include "ExitSignals.h"

#include "Renderer.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace varnel {

void HandleExitSignals(std::function<bool(int signal)> keepRunning) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, keepRunning = std::move(keepRunning)] {
        for (;;) {
            int sig = 0;
            if (::sigwait(&set, &sig) != 0) continue;
            if (keepRunning && keepRunning(sig)) continue;
            RemoveWorkFilesForExit();
            // End the way an unhandled signal does, so callers see it.
            ::signal(sig, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            ::raise(sig);
            ::_exit(128 + sig);
        }
    }).detach();
}

} // namespace varnel
