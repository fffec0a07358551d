#include "PropPage.h"

#include "Profile.h"

#include <QShowEvent>

CPropPage::CPropPage(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption) {}

void CPropPage::SetSettings(const varnel::ConvertSettings& settings,
                            const std::string& profilePath) {
    m_settings = settings;
    m_profilePath = profilePath;
}

void CPropPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        OnInitDialog();
    }
}

void CPropPage::WriteKey(const char* key, const std::string& value) const {
    // A failed write is not reported: the sheet reloads the record from the
    // file afterwards, so the user sees the value that really stuck.
    varnel::WriteProfileString(m_profilePath, varnel::kSection, key, value);
}

void CPropPage::WriteKey(const char* key, const QString& value) const {
    WriteKey(key, value.toStdString());
}

void CPropPage::WriteKey(const char* key, int value) const {
    WriteKey(key, std::to_string(value));
}

int SelectPrefix(QComboBox* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            list->setCurrentIndex(i);
            return i;
        }
    }
    list->setCurrentIndex(-1);
    return -1;
}
