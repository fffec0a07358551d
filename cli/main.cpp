// varnel-convert: the command-line front end on the conversion runner.
#include "CommandLine.h"
#include "ConvertSettings.h"
#include "InputFiles.h"
#include "Renderer.h"
#include "Runner.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace varnel;

std::mutex g_signalMutex;
Runner* g_runner = nullptr;
Renderer* g_renderer = nullptr;
bool g_quiet = false;

// Empties and removes the page folder of the render under way. The renderer
// may still add a page while we delete, so repeat until the folder is gone.
void RemovePageFolder(const std::string& folder) {
    if (folder.empty()) return;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") ::unlink((folder + name).c_str());
            }
            ::closedir(dir);
        }
        if (::rmdir(folder.c_str()) == 0 || errno == ENOENT) return;
    }
}

// Takes SIGINT, SIGTERM and SIGHUP on a thread of its own, so the reaction may
// lock and touch files. The first Ctrl+C stops the run at its next test point;
// a second one, SIGTERM or SIGHUP ends the program at once.
void SignalThread(sigset_t set) {
    int interrupts = 0;
    for (;;) {
        int sig = 0;
        if (::sigwait(&set, &sig) != 0) continue;
        std::lock_guard<std::mutex> lock(g_signalMutex);
        if (sig == SIGINT && ++interrupts == 1 && g_runner) {
            g_runner->RequestStop();
            if (!g_quiet)
                std::cerr << "\nvarnel-convert: stopping after the current step "
                             "(Ctrl+C again to quit now)\n";
            continue;
        }
        if (g_renderer) RemovePageFolder(g_renderer->PageFolder());
        // End the way an unhandled signal does, so callers see the interrupt.
        ::signal(sig, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(sig);
        ::_exit(128 + sig);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine options;
    std::string error;
    if (!ParseCommandLine(args, &options, &error)) {
        std::cerr << "varnel-convert: " << error << "\n"
                  << "Try 'varnel-convert --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "varnel-convert " << VARNEL_VERSION << "\n";
        return 0;
    }

    std::string profile = options.profile;
    if (profile.empty()) {
        profile = ProfilePath();
    } else if (!FileReadable(profile)) {
        std::cerr << "varnel-convert: cannot read the profile " << profile << "\n";
        return 2;
    }
    WindowSettings window = LoadWindowSettings(profile);
    ConvertSettings settings = LoadSettings(profile);
    std::string note = ApplyOptions(options, &window, &settings);
    if (!note.empty() && !options.quiet) std::cerr << "varnel-convert: " << note << "\n";

    Renderer renderer;
    if (!renderer.LoadRenderer()) {
        std::cerr << kLoadRendererFailed << "\n";
        if (options.verbose) std::cerr << "varnel-convert: " << renderer.LoadError() << "\n";
        return 2;
    }

    std::vector<std::string> inputs = GatherInputs(options.inputs, std::cerr);
    if (inputs.empty()) {
        std::cerr << "varnel-convert: no input file accepted\n";
        return 1;
    }

    // Signals are taken by the signal thread only; block them before any
    // other thread exists so every thread inherits the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that goes away (| head) must not kill the run between a row's
    // status line and the removal of its page folder.
    ::signal(SIGPIPE, SIG_IGN);
    std::thread(SignalThread, set).detach();

    ConsoleView view(inputs, std::cout, std::cerr, options.quiet, options.verbose,
                     ::isatty(STDERR_FILENO) == 1);
    int status = 1;
    {
        Runner runner(view, renderer);
        {
            std::lock_guard<std::mutex> lock(g_signalMutex);
            g_runner = &runner;
            g_renderer = &renderer;
            g_quiet = options.quiet;
        }
        runner.StartStop(window.type, window.mode, settings, window.output);
        runner.Wait();
        std::lock_guard<std::mutex> lock(g_signalMutex);
        g_runner = nullptr;
        g_renderer = nullptr;
    }
    view.ClearProgress();
    status = view.ExitStatus();
    return status;
}
