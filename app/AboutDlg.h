// The small "About..." box: program name, version and a way to the help page.
#pragma once

#include <QDialog>
#include <functional>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const QIcon& icon, std::function<void()> openHelp, QWidget* parent = nullptr);
};
