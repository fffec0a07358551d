#include "ConvertApp.h"

#include "ConvertDlg.h"
#include "ConvertSettings.h"
#include "Screenshots.h"

#include <QApplication>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CConvertApp::~CConvertApp() {
    if (m_lockFd >= 0) ::close(m_lockFd);
}

std::string CConvertApp::LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        std::string folder = runtime;
        if (folder.back() != '/') folder += '/';
        return folder;
    }
    const std::string profile = varnel::ProfilePath();
    return profile.substr(0, profile.rfind('/') + 1);
}

std::string CConvertApp::ApplicationName(const char* argv0) {
    std::string name;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        name.assign(self, static_cast<size_t>(n));
    } else if (argv0) {
        name = argv0;
    }
    name = name.substr(name.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? std::string("varnel") : name;
}

bool CConvertApp::AcquireInstanceLock(const std::string& folder, const std::string& name) {
    const std::string path = folder + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    // Held until the process ends; the kernel drops it even after a crash.
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = fd;
    return true;
}

int CConvertApp::Run(int argc, char** argv) {
    // Checked before any window exists, so a second instance shows nothing.
    if (!AcquireInstanceLock(LockFolder(), ApplicationName(argc > 0 ? argv[0] : nullptr))) return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Krellix Varnel"));
    QApplication::setDesktopFileName(QStringLiteral("varnel"));

    CConvertDlg dlg;
    if (!dlg.OnInitDialog()) return 1;
    QApplication::setWindowIcon(dlg.windowIcon());
    CScreenshots shots(dlg, QApplication::arguments());
    dlg.exec();
    return 0;
}
