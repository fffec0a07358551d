// The application object: one instance at a time, then the main window run
// modally; the program ends when the window closes.
#pragma once

#include <string>

class CConvertApp {
public:
    CConvertApp() = default;
    ~CConvertApp();
    CConvertApp(const CConvertApp&) = delete;
    CConvertApp& operator=(const CConvertApp&) = delete;

    // Returns the process's exit status.
    int Run(int argc, char** argv);

    // Takes the single-instance lock "<name>.lock" in folder. False when
    // another process holds it. A lock file that cannot be made at all does
    // not keep the program from running.
    bool AcquireInstanceLock(const std::string& folder, const std::string& name);

    // $XDG_RUNTIME_DIR, else the profile's folder.
    static std::string LockFolder();
    // The executable's file name without its extension.
    static std::string ApplicationName(const char* argv0);

private:
    int m_lockFd = -1;
};
