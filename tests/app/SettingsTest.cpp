// The settings sheet: page order, the enabling rules, and which keys OK writes.
#include "AppTestSupport.h"
#include "Pages.h"
#include "PropSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

class SettingsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<CMyPropSheet> m_sheet;

    void Open(const QByteArray& profile = {}) {
        QFile::remove(QString::fromUtf8(m_home->profile()));
        if (!profile.isEmpty()) m_home->WriteProfile(profile);
        const std::string path = m_home->profile().toStdString();
        m_sheet = MakeSettingsSheet(nullptr, varnel::LoadSettings(path), path);
        m_sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_sheet.get()));
    }
    QWidget* Page(const char* caption) {
        for (CPropPage* page : m_sheet->pages())
            if (page->caption() == QLatin1String(caption)) {
                m_sheet->tabs()->setCurrentWidget(page);
                return page;
            }
        qFatal("no page %s", caption);
    }
    template <class T> T* In(QWidget* page, const char* name) {
        T* w = page->findChild<T*>(QLatin1String(name));
        if (!w) qFatal("no widget %s", name);
        return w;
    }
    void Pick(QComboBox* list, const QString& entry) {
        const int index = list->findText(entry);
        QVERIFY(index >= 0);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    void Ok() { m_sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); }
    QByteArray Key(const char* key) {
        return ProfileValue(m_home->ProfileText(), key).value_or("<absent>");
    }

private slots:
    void initTestCase() { m_home = std::make_unique<TestHome>(); }
    void cleanup() { m_sheet.reset(); }

    void sheetHasElevenPagesAndOnlyOkAndCancel() {
        Open();
        QCOMPARE(m_sheet->windowTitle(), QStringLiteral("Settings"));
        QStringList captions;
        for (int i = 0; i < m_sheet->tabs()->count(); ++i) captions << m_sheet->tabs()->tabText(i);
        QCOMPARE(captions, (QStringList{"Common", "BMP", "TIFF", "JPEG", "GIF", "PNG", "PCX", "JP2",
                                        "JPC", "RAS", "TGA"}));
        QCOMPARE(m_sheet->tabs()->currentIndex(), 0);
        const auto buttons = m_sheet->findChild<QDialogButtonBox*>()->buttons();
        QCOMPARE(buttons.size(), 2);
    }

    void resizeRuleGreysSizesButKeepsThem() {
        Open("[Set]\nresize=1\nwidth=800\nheight=600\n");
        QWidget* page = Page("Common");
        auto* box = In<QGroupBox>(page, "resizeCheck");
        QVERIFY(box->isChecked());
        QVERIFY(In<QLineEdit>(page, "widthEdit")->isEnabled());
        box->setChecked(false);
        for (const char* name : {"widthEdit", "heightEdit", "widthLabel", "heightLabel"})
            QVERIFY2(!In<QWidget>(page, name)->isEnabled(), name);
        QCOMPARE(In<QLineEdit>(page, "widthEdit")->text(), QStringLiteral("800"));
        Ok();
        QCOMPARE(Key("resize"), QByteArray("0"));
        QCOMPARE(Key("width"), QByteArray("800"));
        QCOMPARE(Key("height"), QByteArray("600"));
    }

    void typedResolutionIsStoredAsTypedAndLimitedOnReading() {
        Open();
        QWidget* page = Page("Common");
        auto* xdpi = In<QComboBox>(page, "xdpiList");
        QCOMPARE(xdpi->currentText(), QStringLiteral("72"));
        xdpi->setEditText(QStringLiteral("1000"));
        Ok();
        QCOMPARE(Key("xdpi"), QByteArray("1000"));
        QCOMPARE(varnel::LoadSettings(m_home->profile().toStdString()).xdpi, 600);
    }

    void tiffCompressionRuleBothWays() {
        Open("[Set]\ncompress=1\ntifc=16 Color\n");
        QWidget* page = Page("TIFF");
        auto* color = In<QComboBox>(page, "colorList");
        auto* compress = In<QComboBox>(page, "compressList");
        auto* slider = In<QSlider>(page, "qualitySlider");
        QCOMPARE(color->currentText(), QStringLiteral("16 Color"));
        QVERIFY(color->isEnabled());
        QVERIFY(!slider->isEnabled());

        Pick(compress, "CCITT FAX4");
        QCOMPARE(color->currentText(), QStringLiteral("B&W"));
        QVERIFY(!color->isEnabled());
        QVERIFY(!slider->isEnabled());
        Pick(compress, "LZW");
        QCOMPARE(color->currentText(), QStringLiteral("True Color"));
        QVERIFY(color->isEnabled());
        Pick(compress, "JPEG");
        QCOMPARE(color->currentText(), QStringLiteral("True Color"));
        QVERIFY(!color->isEnabled());
        QVERIFY(slider->isEnabled());
        QVERIFY(In<QLabel>(page, "qualityLabel")->isEnabled());
        Ok();
        QCOMPARE(Key("compress"), QByteArray("3"));
        QCOMPARE(Key("tifc"), QByteArray("True Color"));
    }

    void tiffStartUpShowsTheStoredModeUnderJpeg() {
        Open("[Set]\ncompress=3\ntifc=256 Grays\nmultpage=1\n");
        QWidget* page = Page("TIFF");
        auto* color = In<QComboBox>(page, "colorList");
        QCOMPARE(color->currentText(), QStringLiteral("256 Grays"));
        QVERIFY(!color->isEnabled());
        QVERIFY(In<QSlider>(page, "qualitySlider")->isEnabled());
        QVERIFY(In<QCheckBox>(page, "mergeCheck")->isChecked());
    }

    void sliderPositionIsShownAndStored() {
        Open();
        QWidget* page = Page("JPEG");
        auto* slider = In<QSlider>(page, "qualitySlider");
        QCOMPARE(slider->minimum(), 1);
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->value(), 75);
        slider->setValue(55);
        QCOMPARE(In<QLabel>(page, "qualityValue")->text(), QStringLiteral("55"));
        Ok();
        QCOMPARE(Key("JQu"), QByteArray("55"));
        QCOMPARE(varnel::LoadSettings(m_home->profile().toStdString()).JQu, 55);
    }

    void onlyShownPagesWriteTheirKeys() {
        Open("[Set]\nother=kept\n");
        Page("JPEG");
        Ok();
        QStringList keys;
        for (const QByteArray& line : m_home->ProfileText().split('\n'))
            if (line.contains('=')) keys << QString::fromUtf8(line.left(line.indexOf('=')));
        keys.sort();
        QCOMPARE(keys, (QStringList{"JQu", "angle", "each", "height", "jpgc", "other", "resize",
                                    "width", "xdpi", "ydpi"}));
    }

    void cancelWritesNothing() {
        Open();
        Page("TIFF");
        Page("BMP");
        m_sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(m_home->ProfileText().isEmpty());
    }

    void storedNamesSelectByPrefix() {
        Open("[Set]\nbmpc=b&w\ngifc=True Color\nangle=27\n");
        QCOMPARE(In<QComboBox>(Page("BMP"), "colorList")->currentText(), QStringLiteral("B&W"));
        auto* gif = In<QComboBox>(Page("GIF"), "colorList");
        QCOMPARE(gif->currentIndex(), -1);
        QCOMPARE(In<QComboBox>(Page("Common"), "angleList")->currentText(), QStringLiteral("270"));
        Ok();
        QCOMPARE(Key("bmpc"), QByteArray("B&W"));
        // Nothing chosen on the GIF page: the stored text stays.
        QCOMPARE(Key("gifc"), QByteArray("True Color"));
    }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
