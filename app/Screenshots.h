// A hidden developer option: "--screenshot-dir DIR [input files...]" makes the
// program add the files, save pictures of its windows (main window, each
// settings page, the About box, a run in progress and its end) into DIR as PNG
// files, and close. Used by scripts/screenshots to look at the layout.
#pragma once

#include <QObject>
#include <QStringList>

class CConvertDlg;

class CScreenshots : public QObject {
    Q_OBJECT
public:
    CScreenshots(CConvertDlg& dlg, const QStringList& arguments);

private:
    void Begin();
    void Save(QWidget* widget, const QString& name);
    void WatchRun();

    CConvertDlg& m_dlg;
    QString m_folder;
    QStringList m_files;
    bool m_sawRunning = false;
};
