// varnel-convert: the command-line front end on the conversion runner.
#include "CommandLine.h"
#include "ConvertSettings.h"
#include "ExitSignals.h"
#include "InputFiles.h"
#include "Renderer.h"
#include "Runner.h"

#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

using namespace varnel;

std::mutex g_signalMutex;
Runner* g_runner = nullptr;
bool g_quiet = false;

// The first Ctrl+C stops the run at its next test point; a second one,
// SIGTERM or SIGHUP ends the program at once, leaving nothing half-made.
bool KeepRunningOn(int sig) {
    static int interrupts = 0;
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (sig == SIGINT && ++interrupts == 1 && g_runner) {
        g_runner->RequestStop();
        if (!g_quiet)
            std::cerr << "\nvarnel-convert: stopping after the current step "
                         "(Ctrl+C again to quit now)\n";
        return true;
    }
    return false;
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

    // Before any other thread exists, so every thread leaves the signals to
    // the signal thread.
    HandleExitSignals(KeepRunningOn);
    // A reader that goes away (| head) must not kill the run between a row's
    // status line and the removal of its page folder.
    ::signal(SIGPIPE, SIG_IGN);

    ConsoleView view(inputs, std::cout, std::cerr, options.quiet, options.verbose,
                     ::isatty(STDERR_FILENO) == 1);
    int status = 1;
    {
        Runner runner(view, renderer);
        {
            std::lock_guard<std::mutex> lock(g_signalMutex);
            g_runner = &runner;
            g_quiet = options.quiet;
        }
        runner.StartStop(window.type, window.mode, settings, window.output);
        runner.Wait();
        std::lock_guard<std::mutex> lock(g_signalMutex);
        g_runner = nullptr;
    }
    view.ClearProgress();
    status = view.ExitStatus();
    return status;
}
