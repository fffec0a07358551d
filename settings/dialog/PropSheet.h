// The modal "Settings" sheet: one tab per page, OK and Cancel at the right.
#pragma once

#include "PropPage.h"

#include <QDialog>
#include <memory>
#include <vector>

class QTabWidget;

class CMyPropSheet : public QDialog {
    Q_OBJECT
public:
    explicit CMyPropSheet(const QString& caption, QWidget* parent = nullptr, int startPage = 0);

    void AddPage(CPropPage* page);
    const std::vector<CPropPage*>& pages() const { return m_pages; }
    QTabWidget* tabs() const { return m_tabs; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTabWidget* m_tabs;
    std::vector<CPropPage*> m_pages;
    int m_startPage;
};

// The "Settings" sheet with the eleven pages in their order, each given a copy
// of settings and the profile path; start page 0.
std::unique_ptr<CMyPropSheet> MakeSettingsSheet(QWidget* parent,
                                                const varnel::ConvertSettings& settings,
                                                const std::string& profilePath);

// Opens the sheet with the eleven pages, each given a copy of settings and
// the profile path. Returns true when it was closed with OK; the shown pages
// have then written their keys to the profile.
bool RunSettingsDialog(QWidget* parent, const varnel::ConvertSettings& settings,
                       const std::string& profilePath);
