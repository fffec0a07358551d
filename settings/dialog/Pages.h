// The eleven pages of the settings sheet: common options, and one page per
// output format with options of its own (EMF and WMF have none).
#pragma once

#include "PropPage.h"

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;

// Resize, resolution, per-file folders and rotation.
class CComn : public CPropPage {
    Q_OBJECT
public:
    explicit CComn(QWidget* parent = nullptr);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void ApplyResizeRule();

    QGroupBox* m_resizeBox;
    QLabel* m_widthLabel;
    QLineEdit* m_width;
    QLabel* m_heightLabel;
    QLineEdit* m_height;
    QComboBox* m_xdpi;
    QComboBox* m_ydpi;
    QCheckBox* m_each;
    QComboBox* m_angle;
    int m_resizeCheck = 0;
    int m_eachCheck = 0;
};

// A description and one colour-mode list; shared by eight formats.
class CColorPage : public CPropPage {
    Q_OBJECT
public:
    using Getter = std::function<std::string(const varnel::ConvertSettings&)>;

    CColorPage(const QString& caption, const QString& description, const QStringList& modes,
               const char* key, Getter stored, QWidget* parent = nullptr);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    QString m_description;
    const char* m_key;
    Getter m_stored;
    QLabel* m_text;
    QComboBox* m_color;
};

class CBmpp : public CColorPage {
    Q_OBJECT
public:
    explicit CBmpp(QWidget* parent = nullptr);
};
class CGif : public CColorPage {
    Q_OBJECT
public:
    explicit CGif(QWidget* parent = nullptr);
};
class CPng : public CColorPage {
    Q_OBJECT
public:
    explicit CPng(QWidget* parent = nullptr);
};
class CPcx : public CColorPage {
    Q_OBJECT
public:
    explicit CPcx(QWidget* parent = nullptr);
};
class CTga : public CColorPage {
    Q_OBJECT
public:
    explicit CTga(QWidget* parent = nullptr);
};
class CJp2 : public CColorPage {
    Q_OBJECT
public:
    explicit CJp2(QWidget* parent = nullptr);
};
class CJpc : public CColorPage {
    Q_OBJECT
public:
    explicit CJpc(QWidget* parent = nullptr);
};
class CRas : public CColorPage {
    Q_OBJECT
public:
    explicit CRas(QWidget* parent = nullptr);
};

// Colour mode and quality.
class CJpg : public CPropPage {
    Q_OBJECT
public:
    explicit CJpg(QWidget* parent = nullptr);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    QLabel* m_text;
    QComboBox* m_color;
    QSlider* m_quality;
    QLabel* m_value;
};

// Colour mode, compression, quality of JPEG compression and page merging.
class CTiff : public CPropPage {
    Q_OBJECT
public:
    explicit CTiff(QWidget* parent = nullptr);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void ApplyCompressionRule();

    QLabel* m_text;
    QComboBox* m_color;
    QComboBox* m_compress;
    QLabel* m_qualityLabel;
    QSlider* m_quality;
    QLabel* m_value;
    QCheckBox* m_merge;
    int m_compressIndex = -1;
    int m_mergeCheck = 0;
};
