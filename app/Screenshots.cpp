#include "Screenshots.h"

#include "AboutDlg.h"
#include "ConvertDlg.h"
#include "InputListModel.h"
#include "PagePreview.h"
#include "PropSheet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

CScreenshots::CScreenshots(CConvertDlg& dlg, const QStringList& arguments) : m_dlg(dlg) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--screenshot-dir"));
    if (at < 0 || at + 1 >= arguments.size()) return;
    m_folder = arguments[at + 1];
    m_files = arguments.mid(at + 2);
    QDir().mkpath(m_folder);
    QTimer::singleShot(300, this, &CScreenshots::Begin);
}

void CScreenshots::Save(QWidget* widget, const QString& name) {
    const QString path = m_folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget->grab().save(path)) std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
}

void CScreenshots::Begin() {
    QList<QByteArray> files;
    for (const QString& file : m_files) files.append(RawPathFromText(file));
    m_dlg.AddChosenFiles(files);
    QCoreApplication::processEvents();
    // The largest file is the one with most pages to show.
    int largest = 0;
    for (int row = 1; row < m_dlg.ListModel()->rowCount(); ++row)
        if (QFileInfo(QFile::decodeName(m_dlg.ListModel()->Path(row))).size() >
            QFileInfo(QFile::decodeName(m_dlg.ListModel()->Path(largest))).size())
            largest = row;
    ShowRow(largest, QStringLiteral("main"), [this] {
        // The larger view of the first page, saved once its page has been
        // rendered at the view's size (ten seconds at most).
        auto* poll = new QTimer(this);
        auto waited = std::make_shared<int>(0);
        connect(poll, &QTimer::timeout, this, [this, poll, waited] {
            QWidget* view = QApplication::activeModalWidget();
            auto* status =
                view ? view->findChild<QLabel*>(QStringLiteral("pageViewStatus")) : nullptr;
            if (!view || (status && status->text().startsWith(QLatin1String("Rendering")) &&
                          ++*waited < 100))
                return;
            poll->deleteLater();
            Save(view, QStringLiteral("page-view"));
            view->close();
        });
        poll->start(100);
        m_dlg.Preview()->ShowLarge(0);
        Continue();
    });
}

void CScreenshots::ShowRow(int row, const QString& name, std::function<void()> then) {
    if (row < 0 || row >= m_dlg.ListModel()->rowCount()) {
        then();
        return;
    }
    m_dlg.SelectOnlyItem(row);
    auto waited = std::make_shared<int>(0);
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, waited, name, then] {
        // The selection settles, then the pages come; ten seconds at most.
        if ((++*waited < 4 || m_dlg.Preview()->IsBusy()) && *waited < 100) return;
        poll->deleteLater();
        Save(&m_dlg, name);
        then();
    });
    poll->start(100);
}

int CScreenshots::RowWithStatus(const QString& status) const {
    for (int row = 0; row < m_dlg.ListModel()->rowCount(); ++row)
        if (m_dlg.ListModel()->Text(row, CInputListModel::ColStatus) == status) return row;
    return -1;
}

void CScreenshots::Continue() {
    auto sheet = MakeSettingsSheet(&m_dlg, m_dlg.Settings(), m_dlg.ProfilePath());
    sheet->show();
    QTabWidget* tabs = sheet->tabs();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        Save(
            sheet.get(),
            QStringLiteral("settings-%1-%2").arg(i, 2, 10, QLatin1Char('0')).arg(tabs->tabText(i)));
    }
    sheet->close();

    CAboutDlg about(m_dlg.windowIcon(), {}, &m_dlg);
    about.show();
    QCoreApplication::processEvents();
    Save(&about, QStringLiteral("about"));
    about.close();

    if (m_dlg.RowCount() == 0) {
        m_dlg.close();
        return;
    }
    m_dlg.OnStartStop();
    QTimer::singleShot(400, this, &CScreenshots::WatchRun);
}

void CScreenshots::WatchRun() {
    if (m_dlg.IsRunning()) {
        if (!m_sawRunning) Save(&m_dlg, QStringLiteral("running"));
        m_sawRunning = true;
        QTimer::singleShot(200, this, &CScreenshots::WatchRun);
        return;
    }
    Save(&m_dlg, QStringLiteral("finished"));
    ShowRow(RowWithStatus(QStringLiteral("Failed")), QStringLiteral("failed-details"), [this] {
        ShowRow(RowWithStatus(QStringLiteral("Succeed")), QStringLiteral("converted-preview"),
                [this] { m_dlg.close(); });
    });
}
