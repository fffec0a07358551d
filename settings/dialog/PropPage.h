// Base of the settings pages. Each page works on its own copy of the settings
// record and writes its keys straight into the profile when the sheet is
// confirmed, but only if the user has looked at it: a page never shown keeps
// whatever the file holds.
#pragma once

#include "ConvertSettings.h"

#include <QComboBox>
#include <QWidget>
#include <string>

class CPropPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropPage(const QString& caption, QWidget* parent = nullptr);

    QString caption() const { return m_caption; }

    // Copy of the record and of the profile path, given right after the page
    // is added to the sheet.
    void SetSettings(const varnel::ConvertSettings& settings, const std::string& profilePath);

    bool WasShown() const { return m_shown; }

    // Writes the page's keys; called by the sheet on OK for shown pages only.
    virtual void OnOK() = 0;

protected:
    // Fills the controls from the copy, once, the first time the page shows.
    virtual void OnInitDialog() = 0;

    void showEvent(QShowEvent* event) override;

    void WriteKey(const char* key, const std::string& value) const;
    void WriteKey(const char* key, const QString& value) const;
    void WriteKey(const char* key, int value) const;

    varnel::ConvertSettings m_settings{};
    std::string m_profilePath;

private:
    QString m_caption;
    bool m_shown = false;
};

// Selects the first entry that starts with text, ignoring letter case; no
// entry matching leaves the list without a selection. Returns the index or -1.
int SelectPrefix(QComboBox* list, const QString& text);
