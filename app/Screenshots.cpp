#include "Screenshots.h"

#include "AboutDlg.h"
#include "ConvertDlg.h"
#include "PropSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    Save(&m_dlg, QStringLiteral("main"));

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
    m_dlg.close();
}
