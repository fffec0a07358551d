// What the desktop program does before its window exists: the command line,
// the display check, and the hand-over to an instance that already runs (a
// second start passes its files to the running window over a local socket,
// which then adds them and comes to the front).
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLocalServer;

struct StartArguments {
    bool help = false;
    bool version = false;
    QList<QByteArray> files; // as given; made absolute by AbsoluteFiles
    QString error;           // an option the program does not know
};

// Reads argv without a QApplication. Options of the window toolkit
// ("-platform offscreen", "-style X" and the like) and the developer option
// "--screenshot-dir DIR" are skipped with their values; "--" ends options.
StartArguments ParseStartArguments(int argc, char** argv);

// The --help text.
QByteArray UsageText(const char* program);
// The --version line.
QByteArray VersionText();

// Relative paths joined to the current folder, bytes kept.
QList<QByteArray> AbsoluteFiles(const QList<QByteArray>& files);

// False when no window system can be reached: no platform named in
// QT_QPA_PLATFORM and neither DISPLAY nor WAYLAND_DISPLAY set.
bool DisplayNamed();

// The socket the running instance listens on: "<folder><name>.socket".
std::string InstanceSocketPath(const std::string& folder, const std::string& name);

// Second start: sends the files to the running instance and waits for its
// answer. False when no instance answered within timeoutMs.
bool HandOverToRunningInstance(const std::string& socketPath, const QList<QByteArray>& files,
                               int timeoutMs);

// First start: listens for later starts and calls receive with their files
// on the window thread.
class CInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit CInstanceServer(std::function<void(const QList<QByteArray>&)> receive,
                             QObject* parent = nullptr);
    // The caller holds the instance lock, so a socket file left behind by a
    // crashed instance is removed first.
    bool Listen(const std::string& socketPath);

private:
    void Accept();

    QLocalServer* m_server;
    std::function<void(const QList<QByteArray>&)> m_receive;
};
