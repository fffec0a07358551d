#include "AppTestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QTimer>
#include <sys/stat.h>

TestHome::TestHome() {
    const QByteArray root = m_dir.path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    QDir().mkpath(QString::fromUtf8(root + "/runtime"));
    qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    // The desktop folder's parent is the default output folder's base.
    qunsetenv("XDG_DESKTOP_DIR");
}

TestHome::~TestHome() {
    // Names that are not UTF-8 defeat QDir's removal; the shell's does not.
    QProcess::execute(QStringLiteral("chmod"), {"-R", "u+rwx", m_dir.path()});
    QProcess::execute(QStringLiteral("rm"), {"-rf", m_dir.path()});
}

QByteArray TestHome::profile() const {
    return home() + "/config/Krellix/Varnel/Profile.ini";
}

QByteArray TestHome::ProfileText() const {
    QFile f(QString::fromUtf8(profile()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void TestHome::WriteProfile(const QByteArray& text) const {
    QDir().mkpath(QString::fromUtf8(home() + "/config/Krellix/Varnel"));
    WriteFile(profile(), text);
}

QByteArray TestHome::NewFolder(const QByteArray& name) const {
    static int serial = 0;
    const QByteArray folder = home() + "/" + name + QByteArray::number(++serial);
    // By its bytes: QDir would decode a name that is not UTF-8 and lose it.
    if (::mkdir(folder.constData(), 0755) != 0) qFatal("cannot make %s", folder.constData());
    return folder;
}

void WriteFile(const QByteArray& path, const QByteArray& content) {
    std::FILE* f = std::fopen(path.constData(), "wb");
    QVERIFY2(f, path.constData());
    std::fwrite(content.constData(), 1, static_cast<size_t>(content.size()), f);
    std::fclose(f);
}

QString TestDlg::LabelText(const char* name) const {
    return Find<QLabel>(name)->text();
}

QList<int> TestDlg::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index :
         Find<QAbstractItemView>("fileList")->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void SendDrop(QWidget* window, QMimeData* mime) {
    const QPointF at(window->width() / 2.0, window->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
}

void WhenModalShows(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->stop();
        timer->deleteLater();
        check(modal);
    });
    timer->start();
}

std::optional<QByteArray> ProfileValue(const QByteArray& profileText, const QByteArray& key) {
    for (const QByteArray& line : profileText.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed().toLower() == key.toLower())
            return line.mid(eq + 1).trimmed();
    }
    return std::nullopt;
}
