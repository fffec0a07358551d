#include "PropSheet.h"

#include "Pages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CMyPropSheet::CMyPropSheet(const QString& caption, QWidget* parent, int startPage)
    : QDialog(parent), m_startPage(startPage) {
    setObjectName(QStringLiteral("settingsSheet"));
    setWindowTitle(caption);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    // All eleven captions stay visible instead of hiding behind scroll arrows.
    m_tabs->setUsesScrollButtons(false);
    m_tabs->tabBar()->setExpanding(false);
    // No Apply and no Help: the pages write their keys only on OK.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("sheetButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

void CMyPropSheet::AddPage(CPropPage* page) {
    m_pages.push_back(page);
    m_tabs->addTab(page, page->caption());
}

void CMyPropSheet::showEvent(QShowEvent* event) {
    // The start page is chosen when the sheet opens, not by the order in which
    // pages were added, so the first page shown is always the one asked for.
    if (m_startPage >= 0 && m_startPage < m_tabs->count()) m_tabs->setCurrentIndex(m_startPage);
    m_startPage = -1;
    QDialog::showEvent(event);
}

void CMyPropSheet::accept() {
    for (CPropPage* page : m_pages)
        if (page->WasShown()) page->OnOK();
    QDialog::accept();
}

std::unique_ptr<CMyPropSheet> MakeSettingsSheet(QWidget* parent,
                                                const varnel::ConvertSettings& settings,
                                                const std::string& profilePath) {
    auto sheet = std::make_unique<CMyPropSheet>(QStringLiteral("Settings"), parent, 0);
    CPropPage* pages[] = {new CComn, new CBmpp, new CTiff, new CJpg, new CGif, new CPng,
                          new CPcx,  new CJp2,  new CJpc,  new CRas, new CTga};
    for (CPropPage* page : pages) {
        sheet->AddPage(page);
        page->SetSettings(settings, profilePath);
    }
    return sheet;
}

bool RunSettingsDialog(QWidget* parent, const varnel::ConvertSettings& settings,
                       const std::string& profilePath) {
    return MakeSettingsSheet(parent, settings, profilePath)->exec() == QDialog::Accepted;
}
