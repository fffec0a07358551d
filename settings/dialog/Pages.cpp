#include "Pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const QStringList kAllModes = {QStringLiteral("True Color"), QStringLiteral("256 Color"),
                               QStringLiteral("256 Grays"),  QStringLiteral("16 Color"),
                               QStringLiteral("16 Grays"),   QStringLiteral("B&W")};
const QStringList kTrueOrGray = {QStringLiteral("True Color"), QStringLiteral("256 Grays")};

const QStringList kResolutions = {"72", "96", "150", "200", "300", "500", "600"};

// Entry indices of the TIFF compression list that the rule looks at.
constexpr int kCompressJpeg = 3;
constexpr int kCompressFax3 = 5;
constexpr int kCompressFax4 = 6;
constexpr int kColorBlackWhite = 5;

QLabel* AddDescription(QVBoxLayout* page, const QString& objectName) {
    page->addWidget(new QLabel(QStringLiteral("Introduce:")));
    auto* text = new QLabel;
    text->setObjectName(objectName);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setContentsMargins(0, 0, 0, 6);
    page->addWidget(text);
    return text;
}

QComboBox* AddColorBox(QVBoxLayout* page, const QStringList& modes) {
    auto* box = new QGroupBox(QStringLiteral("Color"));
    auto* list = new QComboBox;
    list->setObjectName(QStringLiteral("colorList"));
    list->addItems(modes);
    auto* layout = new QHBoxLayout(box);
    layout->addWidget(list);
    page->addWidget(box);
    return list;
}

QSlider* MakeQualitySlider(QLabel** valueLabel) {
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(QStringLiteral("qualitySlider"));
    slider->setRange(1, 100);
    slider->setPageStep(10);
    slider->setTickInterval(10);
    slider->setTickPosition(QSlider::TicksAbove);
    auto* value = new QLabel;
    value->setObjectName(QStringLiteral("qualityValue"));
    value->setAlignment(Qt::AlignCenter);
    // Wide enough for "100" so the layout does not shift as the value changes.
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
    QObject::connect(slider, &QSlider::valueChanged, value,
                     [value](int v) { value->setText(QString::number(v)); });
    *valueLabel = value;
    return slider;
}

void SetUpSlider(QSlider* slider, QLabel* value, int position) {
    slider->setValue(position);
    // Set the label even when the position did not change the slider's value.
    value->setText(QString::number(slider->value()));
}

// The entry's text, or nothing when the list has no selection: writing an
// empty text would silently replace the stored choice with "any other text".
bool SelectedText(const QComboBox* list, QString* text) {
    if (list->currentIndex() < 0) return false;
    *text = list->currentText();
    return true;
}

QString Str(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

// ---------------------------------------------------------------- Common page

CComn::CComn(QWidget* parent) : CPropPage(QStringLiteral("Common"), parent) {
    setObjectName(QStringLiteral("pageCommon"));
    auto* page = new QVBoxLayout(this);

    m_resizeBox = new QGroupBox(QStringLiteral("Resize image (Pixel)"));
    m_resizeBox->setObjectName(QStringLiteral("resizeCheck"));
    m_resizeBox->setCheckable(true);
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto makeSizeBox = [&](const char* name) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QLatin1String(name));
        edit->setAlignment(Qt::AlignRight);
        edit->setMaxLength(4);
        edit->setValidator(digits);
        return edit;
    };
    m_widthLabel = new QLabel(QStringLiteral("Width"));
    m_widthLabel->setObjectName(QStringLiteral("widthLabel"));
    m_width = makeSizeBox("widthEdit");
    m_heightLabel = new QLabel(QStringLiteral("Height"));
    m_heightLabel->setObjectName(QStringLiteral("heightLabel"));
    m_height = makeSizeBox("heightEdit");
    auto* resize = new QGridLayout(m_resizeBox);
    resize->addWidget(m_widthLabel, 0, 0);
    resize->addWidget(m_width, 0, 1);
    resize->setColumnMinimumWidth(2, 16);
    resize->addWidget(m_heightLabel, 0, 3);
    resize->addWidget(m_height, 0, 4);
    page->addWidget(m_resizeBox);

    auto* resolution = new QGroupBox(QStringLiteral("Resolution"));
    auto makeDpiBox = [&](const char* name) {
        auto* list = new QComboBox;
        list->setObjectName(QLatin1String(name));
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        list->addItems(kResolutions);
        return list;
    };
    m_xdpi = makeDpiBox("xdpiList");
    m_ydpi = makeDpiBox("ydpiList");
    auto* dpi = new QGridLayout(resolution);
    dpi->addWidget(new QLabel(QStringLiteral("X-DPI")), 0, 0);
    dpi->addWidget(m_xdpi, 0, 1);
    dpi->setColumnMinimumWidth(2, 16);
    dpi->addWidget(new QLabel(QStringLiteral("Y-DPI")), 0, 3);
    dpi->addWidget(m_ydpi, 0, 4);
    // Same label column widths in both boxes, so the fields line up.
    for (QGridLayout* grid : {resize, dpi}) {
        grid->setColumnStretch(1, 1);
        grid->setColumnStretch(4, 1);
        grid->setColumnMinimumWidth(0, fontMetrics().horizontalAdvance(QStringLiteral("Height")));
        grid->setColumnMinimumWidth(3, fontMetrics().horizontalAdvance(QStringLiteral("Height")));
    }
    page->addWidget(resolution);

    auto* bottom = new QHBoxLayout;
    auto* output = new QGroupBox(QStringLiteral("Convert Output"));
    m_each = new QCheckBox(QStringLiteral("Create directories for each file"));
    m_each->setObjectName(QStringLiteral("eachCheck"));
    (new QVBoxLayout(output))->addWidget(m_each);
    bottom->addWidget(output, 2);
    auto* rotate = new QGroupBox(QStringLiteral("Rotate"));
    m_angle = new QComboBox;
    m_angle->setObjectName(QStringLiteral("angleList"));
    m_angle->addItems({"0", "90", "180", "270"});
    (new QVBoxLayout(rotate))->addWidget(m_angle);
    bottom->addWidget(rotate, 1);
    page->addLayout(bottom);
    page->addStretch(1);

    connect(m_resizeBox, &QGroupBox::toggled, this, [this] { ApplyResizeRule(); });
}

void CComn::OnInitDialog() {
    m_xdpi->setEditText(QString::number(m_settings.xdpi));
    m_ydpi->setEditText(QString::number(m_settings.ydpi));
    SelectPrefix(m_angle, QString::number(m_settings.angle));
    m_width->setText(QString::number(m_settings.width));
    m_height->setText(QString::number(m_settings.height));
    m_resizeCheck = m_settings.resize == 1;
    m_eachCheck = m_settings.each == 1;
    m_resizeBox->setChecked(m_resizeCheck);
    m_each->setChecked(m_eachCheck);
    ApplyResizeRule();
}

void CComn::ApplyResizeRule() {
    // A checkable group box greys its children by itself; say it anyway so
    // the rule does not depend on that.
    const bool on = m_resizeBox->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(m_width), static_cast<QWidget*>(m_height),
                       static_cast<QWidget*>(m_widthLabel), static_cast<QWidget*>(m_heightLabel)})
        w->setEnabled(on);
}

void CComn::OnOK() {
    QString angle;
    if (SelectedText(m_angle, &angle)) WriteKey("angle", angle);
    WriteKey("width", m_width->text());
    WriteKey("height", m_height->text());
    WriteKey("resize", m_resizeBox->isChecked() ? 1 : 0);
    WriteKey("each", m_each->isChecked() ? 1 : 0);
    WriteKey("xdpi", m_xdpi->currentText());
    WriteKey("ydpi", m_ydpi->currentText());
}

// ---------------------------------------------------------------- colour pages

CColorPage::CColorPage(const QString& caption, const QString& description, const QStringList& modes,
                       const char* key, Getter stored, QWidget* parent)
    : CPropPage(caption, parent), m_description(description), m_key(key),
      m_stored(std::move(stored)) {
    setObjectName(QStringLiteral("page") + caption);
    auto* page = new QVBoxLayout(this);
    m_text = AddDescription(page, QStringLiteral("description"));
    m_color = AddColorBox(page, modes);
    page->addStretch(1);
}

void CColorPage::OnInitDialog() {
    m_text->setText(m_description);
    SelectPrefix(m_color, Str(m_stored(m_settings)));
}

void CColorPage::OnOK() {
    QString mode;
    if (SelectedText(m_color, &mode)) WriteKey(m_key, mode);
}

CBmpp::CBmpp(QWidget* parent)
    : CColorPage(
          QStringLiteral("BMP"),
          QStringLiteral("The BMP file format, also known as bitmap or Device Independent "
                         "Bitmap (DIB) file format, is a image file format used to store "
                         "bitmap digital images, especially on Microsoft Windows and OS/2 "
                         "operating systems."),
          kAllModes, "bmpc", [](const varnel::ConvertSettings& s) { return std::string(s.bmpc); },
          parent) {}

CGif::CGif(QWidget* parent)
    : CColorPage(
          QStringLiteral("GIF"),
          QStringLiteral("The Graphics Interchange Format (GIF) is a bitmap image format "
                         "that was introduced by CompuServe in 1987 and has since come into "
                         "widespread usage on the World Wide Web due to its wide support "
                         "and portability."),
          kAllModes.mid(1), "gifc",
          [](const varnel::ConvertSettings& s) { return std::string(s.gifc); }, parent) {}

CPng::CPng(QWidget* parent)
    : CColorPage(
          QStringLiteral("PNG"),
          QStringLiteral("Portable Network Graphics is a bitmapped image format that "
                         "employs lossless data compression."),
          kAllModes, "pngc", [](const varnel::ConvertSettings& s) { return std::string(s.pngc); },
          parent) {}

CPcx::CPcx(QWidget* parent)
    : CColorPage(
          QStringLiteral("PCX"),
          QStringLiteral("PCX is the native file format for PC Paintbrush (PCX = 'Personal "
                         "Computer eXchange') and became one of the first widely accepted "
                         "DOS imaging standards."),
          kAllModes, "pcxc", [](const varnel::ConvertSettings& s) { return std::string(s.pcxc); },
          parent) {}

CTga::CTga(QWidget* parent)
    : CColorPage(
          QStringLiteral("TGA"),
          QStringLiteral("Truevision TGA, often referred to as TARGA, is a raster graphics "
                         "file format. TARGA is an acronym for Truevision Advanced Raster "
                         "Graphics Adapter; TGA is an initialism for Truevision Graphics "
                         "Adapter."),
          kAllModes.mid(0, 3), "tgac",
          [](const varnel::ConvertSettings& s) { return std::string(s.tgac); }, parent) {}

CJp2::CJp2(QWidget* parent)
    : CColorPage(
          QStringLiteral("JP2"),
          QStringLiteral("JPEG 2000 is an image compression standard and coding system. It "
                         "was created by the Joint Photographic Experts Group committee in "
                         "2000 with the intention of superseding their original discrete "
                         "cosine transform-based JPEG standard (created in 1992) with a "
                         "newly designed, wavelet-based method."),
          kTrueOrGray, "jp2c", [](const varnel::ConvertSettings& s) { return std::string(s.jp2c); },
          parent) {}

CJpc::CJpc(QWidget* parent)
    : CColorPage(
          QStringLiteral("JPC"),
          QStringLiteral("JPC is an image file similar to JPEG-1, and it is in connection "
                         "with File containing JPEG 2000 Code. There is no standardized "
                         "extension for code-stream data because code-stream data is not "
                         "to be considered to be stored in files in first place, though "
                         "when done for testing purposes, the extension .JPC or .J2K "
                         "appear frequently."),
          kTrueOrGray, "jpcc", [](const varnel::ConvertSettings& s) { return std::string(s.jpcc); },
          parent) {}

CRas::CRas(QWidget* parent)
    : CColorPage(
          QStringLiteral("RAS"),
          QStringLiteral("The RAS file extension is related to Sun Raster format. The Sun "
                         "Raster format is the native bitmap format on the Sun UNIX "
                         "platforms. It is a simple bitmap format with wide distribution, "
                         "particularly in the UNIX world. The default extension for Sun "
                         "Raster files is RAS."),
          kTrueOrGray, "rasc", [](const varnel::ConvertSettings& s) { return std::string(s.rasc); },
          parent) {}

// ---------------------------------------------------------------- JPEG page

CJpg::CJpg(QWidget* parent) : CPropPage(QStringLiteral("JPEG"), parent) {
    setObjectName(QStringLiteral("pageJPEG"));
    auto* page = new QVBoxLayout(this);
    m_text = AddDescription(page, QStringLiteral("description"));
    m_color = AddColorBox(page, kTrueOrGray);

    auto* box = new QGroupBox(QStringLiteral("Quality"));
    m_quality = MakeQualitySlider(&m_value);
    auto* grid = new QGridLayout(box);
    grid->addWidget(new QLabel(QStringLiteral("Small Size")), 0, 0);
    grid->addWidget(m_quality, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("High Quality")), 0, 2);
    grid->addWidget(m_value, 1, 1, Qt::AlignHCenter);
    grid->setColumnStretch(1, 1);
    page->addWidget(box);
    page->addStretch(1);
}

void CJpg::OnInitDialog() {
    m_text->setText(QStringLiteral(
        "JPEG is a compression method specifically intended for continuous-tone images."));
    SelectPrefix(m_color, Str(std::string(m_settings.jpgc)));
    SetUpSlider(m_quality, m_value, m_settings.JQu);
}

void CJpg::OnOK() {
    QString mode;
    if (SelectedText(m_color, &mode)) WriteKey("jpgc", mode);
    WriteKey("JQu", m_quality->value());
}

// ---------------------------------------------------------------- TIFF page

CTiff::CTiff(QWidget* parent) : CPropPage(QStringLiteral("TIFF"), parent) {
    setObjectName(QStringLiteral("pageTIFF"));
    auto* page = new QVBoxLayout(this);
    m_text = AddDescription(page, QStringLiteral("description"));
    m_color = AddColorBox(page, kAllModes);

    auto* box = new QGroupBox(QStringLiteral("Compress"));
    m_compress = new QComboBox;
    m_compress->setObjectName(QStringLiteral("compressList"));
    m_compress->addItems(
        {"Uncompressed", "LZW", "RLE", "JPEG", "PACKBITS", "CCITT FAX3", "CCITT FAX4"});
    m_qualityLabel = new QLabel(QStringLiteral("Quality"));
    m_qualityLabel->setObjectName(QStringLiteral("qualityLabel"));
    m_quality = MakeQualitySlider(&m_value);
    auto* row = new QHBoxLayout(box);
    row->addWidget(m_compress, 3);
    row->addSpacing(8);
    row->addWidget(m_qualityLabel);
    row->addWidget(m_quality, 2);
    row->addWidget(m_value);
    page->addWidget(box);

    m_merge = new QCheckBox(QStringLiteral("Merge images into one TIFF file"));
    m_merge->setObjectName(QStringLiteral("mergeCheck"));
    page->addWidget(m_merge);
    page->addStretch(1);

    // Only the user's picks reset the colour mode; start-up applies the rule
    // itself and then restores the stored mode.
    connect(m_compress, &QComboBox::activated, this, [this] { ApplyCompressionRule(); });
}

void CTiff::OnInitDialog() {
    m_text->setText(QStringLiteral("Tagged Image File Format (abbreviated TIFF) is a file format "
                                   "for storing images, including photographs and line art."));
    m_compressIndex = m_settings.compress;
    m_mergeCheck = m_settings.multpage;
    SetUpSlider(m_quality, m_value, m_settings.TJQu);
    m_compress->setCurrentIndex(
        m_compressIndex >= 0 && m_compressIndex < m_compress->count() ? m_compressIndex : -1);
    m_merge->setChecked(m_mergeCheck == 1);
    ApplyCompressionRule();
    SelectPrefix(m_color, Str(std::string(m_settings.tifc)));
}

void CTiff::ApplyCompressionRule() {
    m_compressIndex = m_compress->currentIndex();
    m_color->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(m_quality), static_cast<QWidget*>(m_value),
                       static_cast<QWidget*>(m_qualityLabel)})
        w->setEnabled(false);
    switch (m_compressIndex) {
    case kCompressJpeg:
        m_color->setEnabled(false);
        m_color->setCurrentIndex(0);
        for (QWidget* w : {static_cast<QWidget*>(m_quality), static_cast<QWidget*>(m_value),
                           static_cast<QWidget*>(m_qualityLabel)})
            w->setEnabled(true);
        break;
    case kCompressFax3:
    case kCompressFax4:
        m_color->setEnabled(false);
        m_color->setCurrentIndex(kColorBlackWhite);
        break;
    default:
        m_color->setCurrentIndex(0);
        break;
    }
}

void CTiff::OnOK() {
    QString mode;
    if (SelectedText(m_color, &mode)) WriteKey("tifc", mode);
    WriteKey("TJQu", m_quality->value());
    // An index the list does not hold keeps the stored value rather than
    // writing -1, which would read back as a compression nobody chose.
    if (m_compress->currentIndex() >= 0) WriteKey("compress", m_compress->currentIndex());
    WriteKey("multpage", m_merge->isChecked() ? 1 : 0);
}
