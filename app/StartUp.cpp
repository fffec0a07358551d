#include "StartUp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cstdlib>
#include <cstring>

namespace {

// The message is the files, each ended by a NUL byte (a file name cannot hold
// one), and an empty name ends the message. The answer is "OK".
constexpr char kEnd = '\0';

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

StartArguments ParseStartArguments(int argc, char** argv) {
    // Toolkit options that take a value; the toolkit reads them itself.
    static const char* const kWithValue[] = {
        "-platform",   "-platformpluginpath", "-platformtheme", "-plugin",      "-style",
        "-stylesheet", "-qwindowgeometry",    "-qwindowtitle",  "-qwindowicon", "-display",
        "-session",    "-geometry",           "-title"};
    StartArguments args;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (optionsEnd || a[0] != '-' || a[1] == '\0') {
            args.files.append(QByteArray(a));
            continue;
        }
        if (std::strcmp(a, "--screenshot-dir") == 0) {
            break; // the rest belongs to the screenshot run
        } else if (std::strcmp(a, "--") == 0) {
            optionsEnd = true;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            args.help = true;
        } else if (std::strcmp(a, "--version") == 0) {
            args.version = true;
        } else {
            bool known = false;
            for (const char* option : kWithValue) {
                if (std::strcmp(a, option) == 0) {
                    known = true;
                    ++i; // its value
                    break;
                }
            }
            // The toolkit's flag options ("-reverse", "-nograb" ...) start
            // with a single dash; unknown double-dash options are mistakes.
            if (!known && a[1] == '-' && args.error.isEmpty())
                args.error = QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(a));
        }
    }
    return args;
}

QByteArray UsageText(const char* program) {
    const QByteArray name = QByteArray(program ? program : "varnel").split('/').last();
    return "Usage: " + name +
           " [FILE|FOLDER]...\n"
           "Krellix Varnel: converts PCL, PCL XL and HP-GL/2 print files into image files.\n"
           "\n"
           "Files (.pcl, .pxl, .px3, and plot files .plt, .hpg, .hpgl, .hp2) are added to\n"
           "the list as if dropped on the window; the print files of a folder are added\n"
           "as by Add Folder. When the program already runs, the files go to its window,\n"
           "which comes to the front.\n"
           "\n"
           "  -h, --help     show this text and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Conversions without a window: varnel-convert --help\n";
}

QByteArray VersionText() {
    return "Krellix Varnel 9.1.0\n";
}

QList<QByteArray> AbsoluteFiles(const QList<QByteArray>& files) {
    const QByteArray here = QFile::encodeName(QDir::currentPath());
    QList<QByteArray> absolute;
    for (const QByteArray& f : files) absolute.append(f.startsWith('/') ? f : here + '/' + f);
    return absolute;
}

bool DisplayNamed() {
    return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

std::string InstanceSocketPath(const std::string& folder, const std::string& name) {
    return folder + name + ".socket";
}

bool HandOverToRunningInstance(const std::string& socketPath, const QList<QByteArray>& files,
                               int timeoutMs) {
    QByteArray message;
    for (const QByteArray& f : files) message += f + kEnd;
    message += kEnd;
    QElapsedTimer clock;
    clock.start();
    // The running instance may still be starting (it holds the lock before it
    // listens), so connecting is tried again for a while.
    while (clock.elapsed() < timeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromLocal8Bit(socketPath.c_str()));
        if (!socket.waitForConnected(200)) {
            QThread::msleep(50);
            continue;
        }
        socket.write(message);
        socket.flush();
        QByteArray answer;
        while (answer.size() < 2 && clock.elapsed() < timeoutMs &&
               socket.waitForReadyRead(static_cast<int>(timeoutMs - clock.elapsed())))
            answer += socket.readAll();
        return answer.startsWith("OK");
    }
    return false;
}

CInstanceServer::CInstanceServer(std::function<void(const QList<QByteArray>&)> receive,
                                 QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_receive(std::move(receive)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &CInstanceServer::Accept);
}

bool CInstanceServer::Listen(const std::string& socketPath) {
    const QString path = QString::fromLocal8Bit(socketPath.c_str());
    QLocalServer::removeServer(path);
    return m_server->listen(path);
}

void CInstanceServer::Accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            // Complete once it ends in an empty name.
            if (!buffer->endsWith(QByteArray(2, kEnd)) && *buffer != QByteArray(1, kEnd)) return;
            QList<QByteArray> files = buffer->split(kEnd);
            while (!files.isEmpty() && files.last().isEmpty()) files.removeLast();
            buffer->clear();
            socket->write("OK");
            socket->flush();
            m_receive(files);
        });
    }
}
