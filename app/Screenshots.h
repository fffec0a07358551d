// A hidden developer option: "--screenshot-dir DIR [input files...]" makes the
// program add the files, save pictures of its windows (main window with the
// pages of the file with most pages, each settings page, the About box, a run
// in progress, its end, a failed row's details and a converted row's output
// pages) into DIR as PNG files, and close. Used by scripts/screenshots.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class CConvertDlg;

class CScreenshots : public QObject {
    Q_OBJECT
public:
    CScreenshots(CConvertDlg& dlg, const QStringList& arguments);

private:
    void Begin();
    void Continue();
    void Save(QWidget* widget, const QString& name);
    void WatchRun();
    // Selects the row, waits for its preview, saves the window, then goes on.
    void ShowRow(int row, const QString& name, std::function<void()> then);
    int RowWithStatus(const QString& status) const;

    CConvertDlg& m_dlg;
    QString m_folder;
    QStringList m_files;
    bool m_sawRunning = false;
};
