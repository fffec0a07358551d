#include "ConvertApp.h"

#include "ConvertDlg.h"
#include "ConvertSettings.h"
#include "Screenshots.h"
#include "StartUp.h"

#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
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

namespace {

// The window system plugin ends the program with a fatal message (and a core
// dump) when the display cannot be reached; this says so and exits instead.
void FatalWithoutDisplay(QtMsgType type, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg) {
        std::fputs("varnel: cannot open the window: no display can be reached.\n", stderr);
        std::_Exit(1);
    }
}

} // namespace

int CConvertApp::Run(int argc, char** argv) {
    // Start-up: the command line, the hand-over to a running instance and the
    // display check, all before any window exists.
    const StartArguments args = ParseStartArguments(argc, argv);
    if (args.help) {
        std::fputs(UsageText(argc > 0 ? argv[0] : nullptr).constData(), stdout);
        return 0;
    }
    if (args.version) {
        std::fputs(VersionText().constData(), stdout);
        return 0;
    }
    if (!args.error.isEmpty()) {
        std::fprintf(stderr, "varnel: %s\nTry \"varnel --help\".\n", qPrintable(args.error));
        return 2;
    }
    const QList<QByteArray> files = AbsoluteFiles(args.files);
    const std::string lockFolder = LockFolder();
    const std::string name = ApplicationName(argc > 0 ? argv[0] : nullptr);
    const std::string socketPath = InstanceSocketPath(lockFolder, name);
    if (!AcquireInstanceLock(lockFolder, name)) {
        // The running window takes the files and comes forward; no window here.
        QCoreApplication core(argc, argv);
        HandOverToRunningInstance(socketPath, files, 2000);
        return 0;
    }
    if (!DisplayNamed()) {
        std::fputs("varnel: no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set).\nConversions without a display: varnel-convert\n",
                   stderr);
        return 1;
    }
    const QtMessageHandler previous = qInstallMessageHandler(FatalWithoutDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Krellix Varnel"));
    QApplication::setDesktopFileName(QStringLiteral("varnel"));

    // Under a file size limit (ulimit -f) a write fails and the row says so,
    // instead of the window being killed.
    ::signal(SIGXFSZ, SIG_IGN);
    CConvertDlg dlg;
    if (!dlg.OnInitDialog()) return 1;
    QApplication::setWindowIcon(dlg.windowIcon());
    CInstanceServer server([&dlg](const QList<QByteArray>& handed) {
        dlg.AddArguments(handed);
        dlg.BringToFront();
    });
    server.Listen(socketPath);
    if (!files.isEmpty()) dlg.AddArguments(files);
    CScreenshots shots(dlg, QApplication::arguments());
    dlg.exec();
    return 0;
}
