// The main window: its start-up from the profile, the output choices, a whole
// run driven from the window, closing, and the start-up checks of the program.
#include "AppTestSupport.h"
#include "ConvertApp.h"
#include "ImgConv.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <map>
#include <mutex>

namespace {

// Converter stand-in: every run writes a small file under the output name.
std::mutex g_mutex;
std::map<int, std::string> g_outputs;
int g_next = 0;
int Create() {
    std::lock_guard lock(g_mutex);
    return ++g_next;
}
int AddFile(int, const char*, int) {
    return 1;
}
int SetOption(int h, int code, const char* text, int, void*) {
    std::lock_guard lock(g_mutex);
    if ((code == OPT_OUTPUT_PATH || code == OPT_MULTIPAGE_PATH) && text) g_outputs[h] = text;
    return 1;
}
int Run(int h) {
    std::string path;
    {
        std::lock_guard lock(g_mutex);
        path = g_outputs[h];
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fputs("image", f);
    return std::fclose(f) == 0;
}
int Destroy(int) {
    return 1;
}
const varnel::ConverterApi kFakeApi{Create, AddFile, SetOption, Run, Destroy};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TestDlg> m_dlg;

    void Open(const QByteArray& profile = {}, const varnel::ConverterApi* api = &kFakeApi) {
        m_dlg.reset();
        QFile::remove(QString::fromUtf8(m_home->profile()));
        if (!profile.isEmpty()) m_home->WriteProfile(profile);
        m_dlg = std::make_unique<TestDlg>(VARNEL_TEST_RENDERER, api);
        QVERIFY(m_dlg->OnInitDialog());
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    bool Enabled(const char* name) { return m_dlg->Find<QWidget>(name)->isEnabled(); }
    QComboBox* Combo(const char* name) { return m_dlg->Find<QComboBox>(name); }
    QToolButton* StartButton() { return m_dlg->Find<QToolButton>("startButton"); }
    QByteArray Key(const char* key) {
        return ProfileValue(m_home->ProfileText(), key).value_or("<absent>");
    }
    // Input files whose text tells the test renderer what to do.
    QList<QByteArray> Jobs(const QList<QByteArray>& scripts) {
        const QByteArray folder = m_home->NewFolder("jobs");
        QList<QByteArray> files;
        for (int i = 0; i < scripts.size(); ++i) {
            files.append(folder + "/job " + QByteArray::number(i) + ".pcl");
            WriteFile(files.back(), scripts[i]);
        }
        return files;
    }

private slots:
    void initTestCase() { m_home = std::make_unique<TestHome>(); }
    void cleanup() {
        if (m_dlg) QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), 20000);
        m_dlg.reset();
    }

    void startsFromAMissingProfileWithTheDefaults() {
        Open();
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Krellix Varnel"));
        QStringList formats;
        for (int i = 0; i < Combo("formatList")->count(); ++i)
            formats << Combo("formatList")->itemText(i);
        QCOMPARE(formats, (QStringList{"JPEG Files(*.jpg)", "TIFF Files(*.tif) ",
                                       "BMP Files(*.bmp)", "PNG Files(*.png)", "GIF Files(*.gif)",
                                       "PCX Files(*.pcx)", "WMF Files(*.wmf)", "EMF Files(*.emf)",
                                       "TGA Files(*.tga)", "JPEG2000 Files(*.jp2)",
                                       "JPEG2000 Files(*.jpc)", "RAS Files(*.ras)"}));
        QCOMPARE(Combo("formatList")->currentIndex(), 0);
        QCOMPARE(Combo("modeList")->currentText(),
                 QStringLiteral("Convert to the specified directory"));
        QCOMPARE(m_dlg->Find<QLineEdit>("outputEdit")->text(),
                 QString::fromUtf8(m_home->home() + "/My Doc/"));
        QVERIFY(Enabled("browseButton") && Enabled("exploreButton"));
        QVERIFY(!Enabled("startButton") && !Enabled("removeButton"));
        QVERIFY(Enabled("addFilesButton") && Enabled("addFolderButton") &&
                Enabled("settingsButton"));
        QVERIFY(!m_dlg->Find<QProgressBar>("progressBar")->isVisible());
        QCOMPARE(StartButton()->text(), QStringLiteral("Start Converting"));
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 0"));
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 0"));
        // Reading alone writes nothing.
        QVERIFY(m_home->ProfileText().isEmpty());
    }

    void modeZeroHidesButKeepsTheFolder() {
        Open("[Set]\ntype=1\nmode=0\noutput=/srv/out put/\n");
        QCOMPARE(Combo("formatList")->currentIndex(), 1);
        QVERIFY(m_dlg->Find<QLineEdit>("outputEdit")->text().isEmpty());
        QVERIFY(!Enabled("browseButton") && !Enabled("exploreButton"));
        Combo("modeList")->setCurrentIndex(1);
        emit Combo("modeList")->activated(1);
        QCOMPARE(m_dlg->Find<QLineEdit>("outputEdit")->text(), QStringLiteral("/srv/out put/"));
        QVERIFY(Enabled("browseButton") && Enabled("exploreButton"));
        Combo("modeList")->setCurrentIndex(0);
        emit Combo("modeList")->activated(0);
        QVERIFY(m_dlg->close());
        QCOMPARE(Key("output"), QByteArray("/srv/out put/"));
        QCOMPARE(Key("type"), QByteArray("1"));
        QCOMPARE(Key("mode"), QByteArray("0"));
    }

    void garbageProfileGivesDefaultsAndLimits() {
        Open("[Set]\ntype=99\nmode=7\nxdpi=50\nydpi=9999\nwidth=abc\nJQu=\ncompress=x\n"
             "tifc=" +
             QByteArray(300, 'z') + "\n\x01\xff=\xfe\n");
        QCOMPARE(Combo("formatList")->currentIndex(), 0);
        QCOMPARE(Combo("modeList")->currentIndex(), 1);
        const varnel::ConvertSettings& s = m_dlg->Settings();
        QCOMPARE(s.xdpi, 72);
        QCOMPARE(s.ydpi, 600);
        QCOMPARE(s.width, 594);
        QCOMPARE(s.compress, 3);
        QVERIFY(m_dlg->close());
        QCOMPARE(Key("type"), QByteArray("0"));
        QCOMPARE(Key("mode"), QByteArray("1"));
    }

    void escAndEnterNeitherCloseNorPress() {
        Open();
        m_dlg->filesToChoose = Jobs({"pages 1"});
        m_dlg->OnAddFiles();
        QVERIFY(StartButton()->isEnabled());
        for (QWidget* target :
             {static_cast<QWidget*>(m_dlg.get()), m_dlg->Find<QWidget>("fileList"),
              m_dlg->Find<QWidget>("browseButton"), m_dlg->Find<QWidget>("outputEdit"),
              m_dlg->Find<QWidget>("startButton")}) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QVERIFY(m_dlg->isVisible());
        QVERIFY(!m_dlg->IsRunning());
        QVERIFY(m_dlg->folderCaptions.isEmpty());
    }

    void wholeRunDrivenFromTheWindow() {
        const QByteArray out = m_home->NewFolder("out") + "/";
        Open("[Set]\nmode=1\noutput=" + out + "\n");
        const QList<QByteArray> jobs =
            Jobs({"pages 1\nsleep 400", "pages 3\nsleep 400", "pages 0"});
        m_dlg->filesToChoose = jobs;
        m_dlg->OnAddFiles();
        QCOMPARE(m_dlg->RowCount(), 3);

        // A fast timer on the window thread shows how long the window is kept busy.
        QElapsedTimer clock;
        qint64 last = 0, worstGap = 0;
        QTimer ticker;
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            worstGap = std::max(worstGap, now - last);
            last = now;
        });

        StartButton()->click();
        clock.start();
        ticker.start();
        QVERIFY(m_dlg->IsRunning());
        QCOMPARE(StartButton()->text(), QStringLiteral("Stop Converting"));
        QVERIFY(StartButton()->isEnabled());
        for (const char* name : {"addFilesButton", "addFolderButton", "removeButton",
                                 "settingsButton", "formatList", "modeList", "browseButton"})
            QVERIFY2(!Enabled(name), name);
        QVERIFY(Enabled("exploreButton") && Enabled("aboutButton") && Enabled("fileList"));
        QVERIFY(m_dlg->Find<QProgressBar>("progressBar")->isVisible());

        // Nothing the user does changes the list or ends the window now.
        auto* list = m_dlg->Find<QTableView>("fileList");
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Delete);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualRect(list->model()->index(2, 0)).center());
        auto* mime = new QMimeData;
        mime->setData("text/uri-list", "file://" + jobs[0].toPercentEncoding("/") + "\r\n");
        SendDrop(m_dlg.get(), mime);
        delete mime;
        QCOMPARE(m_dlg->RowCount(), 3);
        QVERIFY(m_dlg->SelectedRows().size() <= 1);
        QVERIFY(!m_dlg->close());
        QVERIFY(m_dlg->isVisible());
        m_dlg->Find<QToolButton>("aboutButton")->click();
        m_dlg->Find<QPushButton>("exploreButton")->click();
        QCOMPARE(m_dlg->opened.size(), 2);
        QVERIFY(m_dlg->opened[0].endsWith("/help.html"));
        QCOMPARE(m_dlg->opened[1], out);

        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), 20000);
        ticker.stop();
        qInfo("longest pause of the window thread during the run: %lld ms", worstGap);
        QVERIFY2(worstGap < 300, "the window thread was held up during the run");

        QCOMPARE(m_dlg->Cell(0, 2), QByteArray("Succeed"));
        QCOMPARE(m_dlg->Cell(1, 2), QByteArray("Succeed"));
        QCOMPARE(m_dlg->Cell(2, 2), QByteArray("Failed"));
        for (const char* file : {"job 0.jpg", "job 1_001.jpg", "job 1_002.jpg", "job 1_003.jpg"})
            QVERIFY2(QFile::exists(QString::fromUtf8(out + file)), file);
        QCOMPARE(StartButton()->text(), QStringLiteral("Start Converting"));
        for (const char* name : {"addFilesButton", "addFolderButton", "removeButton",
                                 "settingsButton", "formatList", "modeList", "browseButton"})
            QVERIFY2(Enabled(name), name);
        QVERIFY(!m_dlg->Find<QProgressBar>("progressBar")->isVisible());
        QCOMPARE(m_dlg->Find<QProgressBar>("progressBar")->value(), 100);
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 1"));
        QVERIFY(m_dlg->close());
        QCOMPARE(Key("output"), out);
    }

    void stopWhileRenderingAbortsTheRowAndEndsTheRun() {
        Open("[Set]\nmode=0\n");
        m_dlg->filesToChoose = Jobs({"pages 2\nsleep 400", "pages 1", "pages 1"});
        m_dlg->OnAddFiles();
        StartButton()->click();
        QTRY_COMPARE(m_dlg->Cell(0, 2), QByteArray("Converting.."));
        StartButton()->click();
        QVERIFY(m_dlg->IsRunning());
        QCOMPARE(StartButton()->text(), QStringLiteral("Stop Converting"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->IsRunning(), 20000);
        QCOMPARE(m_dlg->Cell(0, 2), QByteArray("Aborted"));
        QCOMPARE(m_dlg->Cell(1, 2), QByteArray("Ready"));
        QCOMPARE(m_dlg->Cell(2, 2), QByteArray("Ready"));
        QCOMPARE(StartButton()->text(), QStringLiteral("Start Converting"));
        // Mode 0 leaves Browse off after the run too.
        QVERIFY(!Enabled("browseButton"));
    }

    void settingsOpenOnCommonAndReloadAfterOk() {
        Open("[Set]\ntype=1\n");
        QString firstPage;
        WhenModalShows([&](QWidget* modal) {
            auto* tabs = modal->findChild<QTabWidget*>();
            firstPage = tabs ? tabs->tabText(tabs->currentIndex()) : QString();
            tabs->setCurrentIndex(3); // JPEG
            modal->findChild<QSlider*>("qualitySlider", Qt::FindChildrenRecursively);
            for (QSlider* s : tabs->widget(3)->findChildren<QSlider*>()) s->setValue(40);
            modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        m_dlg->Find<QToolButton>("settingsButton")->click();
        QCOMPARE(firstPage, QStringLiteral("Common"));
        QCOMPARE(m_dlg->Settings().JQu, 40);
        QCOMPARE(Key("JQu"), QByteArray("40"));
    }

    void aboutBoxNamesTheProgramAndOpensHelp() {
        Open();
        QStringList texts;
        WhenModalShows([&](QWidget* modal) {
            texts << modal->windowTitle();
            for (QLabel* l : modal->findChildren<QLabel*>())
                if (!l->text().isEmpty()) texts << l->text();
            modal->findChild<QPushButton*>("aboutHelp")->click();
            modal->close();
        });
        m_dlg->Find<QToolButton>("aboutButton")->click();
        QCOMPARE(texts, (QStringList{"About...", "Krellix Varnel", "Version: 9.1.0"}));
        QCOMPARE(m_dlg->opened.size(), 1);
        QVERIFY(m_dlg->opened[0].endsWith("/help.html"));
    }

    void browseStoresTheFolderWithASlash() {
        Open();
        const QByteArray chosen = m_home->NewFolder("pick\xe9");
        m_dlg->folderToChoose = chosen;
        m_dlg->Find<QPushButton>("browseButton")->click();
        QCOMPARE(m_dlg->folderCaptions, QStringList{"Please select an output folder..."});
        QCOMPARE(m_dlg->OutputFolder(), chosen + "/");
        m_dlg->Find<QPushButton>("exploreButton")->click();
        QCOMPARE(m_dlg->opened.value(0), chosen + "/");
        QVERIFY(m_dlg->close());
        QCOMPARE(Key("output"), chosen + "/");
    }

    void missingRendererStopsBeforeTheProfile() {
        QDir(QString::fromUtf8(m_home->home() + "/config")).removeRecursively();
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModalShows([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text = box->text();
                title = box->windowTitle();
                icon = box->icon();
            }
            modal->close();
        });
        CConvertDlg dlg(VARNEL_BINARY_DIR "/no-such-renderer/libtarvik.so");
        QVERIFY(!dlg.OnInitDialog());
        QCOMPARE(text, QStringLiteral("Load libtarvik.so failed, please reinstall!"));
        QCOMPARE(title, QStringLiteral("Krellix Varnel"));
        QCOMPARE(icon, QMessageBox::Critical);
        dlg.close();
        QVERIFY(!QFileInfo::exists(QString::fromUtf8(m_home->home() + "/config/Krellix")));
    }

    void secondInstanceEndsSilently() {
        const QByteArray runtime = m_home->NewFolder("run");
        CConvertApp first;
        QVERIFY(first.AcquireInstanceLock(runtime.toStdString() + "/", "varnel"));
        CConvertApp inProcess;
        QVERIFY(!inProcess.AcquireInstanceLock(runtime.toStdString() + "/", "varnel"));

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromUtf8(runtime));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VARNEL_BINARY_DIR "/bin/varnel"), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        QVERIFY(second.readAllStandardError().isEmpty());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
