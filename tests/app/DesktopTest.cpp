// What the window adds for a desktop user: the page preview, explained row
// outcomes, the page counter, the hand-over from a second start and the
// program's command line.
#include "AppTestSupport.h"
#include "ConvertApp.h"
#include "PagePreview.h"
#include "Renderer.h"
#include "StartUp.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <thread>

namespace {

// Longest gap between ticks of a 5 ms timer while it lives: how long the
// event loop was kept from running.
class StallMeter {
public:
    StallMeter() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_timer.start(5);
    }
    qint64 Longest() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

QProcessEnvironment WithoutDisplay(const QByteArray& runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    env.insert("XDG_RUNTIME_DIR", QString::fromUtf8(runtime));
    return env;
}

struct Ran {
    int code = -1;
    bool crashed = true;
    QByteArray out, err;
};

Ran RunProgram(const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VARNEL_BINARY_DIR "/bin/varnel"), args);
    Ran r;
    if (!p.waitForFinished(10000)) return r;
    r.code = p.exitCode();
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TestDlg> m_dlg;
    QByteArray m_tmp;

    void Open() {
        m_dlg = std::make_unique<TestDlg>();
        QVERIFY(m_dlg->OnInitDialog());
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    CPagePreview* Preview() { return m_dlg->Preview(); }
    QListWidgetItem* Tile(int i) { return Preview()->Tiles()->item(i); }
    QByteArray Job(const QByteArray& name, const QByteArray& script) {
        const QByteArray path = m_home->NewFolder("jobs-" + name) + "/" + name;
        WriteFile(path, script);
        return path;
    }
    QStringList PageFolders() {
        return QDir(QString::fromUtf8(m_tmp)).entryList({QStringLiteral("mtmp-*")}, QDir::Dirs);
    }

private slots:
    void initTestCase() {
        m_home = std::make_unique<TestHome>();
        // Page folders land here, where the test can count them.
        m_tmp = m_home->NewFolder("tmp");
        qputenv("TMPDIR", m_tmp);
    }
    void cleanup() { m_dlg.reset(); }

    void previewRendersAsideCachesCancelsAndShowsBrokenJobs() {
        Open();
        // The stand-in renderer sleeps before it writes: a window that waited
        // for it would stall for the whole sleep.
        const QByteArray slow = Job("slow.pcl", "pages 5\nsleep 600\n");
        const QByteArray broken = Job("broken.pcl", "pages 0\nrun -2\n");
        const QByteArray stuck = Job("stuck.pcl", "pages 3\nsleep 1500\n");
        m_dlg->AddArguments({slow, broken, stuck});
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});

        QElapsedTimer clock;
        clock.start();
        {
            StallMeter meter;
            QTRY_COMPARE_WITH_TIMEOUT(Preview()->PageTiles(), 5, 10000);
            QVERIFY2(meter.Longest() < 250, qPrintable(QString::number(meter.Longest())));
        }
        QVERIFY(clock.elapsed() >= 550);
        QTRY_VERIFY(!Preview()->IsBusy());
        QCOMPARE(Preview()->Tiles()->count(), 5);
        QVERIFY(!Tile(0)->icon().isNull());
        QCOMPARE(Tile(4)->text(), QStringLiteral("5"));

        m_dlg->SelectOnlyItem(1);
        QTRY_COMPARE(Preview()->Tiles()->count(), 1);
        QTRY_VERIFY(!Preview()->IsBusy());
        QVERIFY(Tile(0)->data(CPagePreview::kErrorRole).toBool());
        QCOMPARE(Preview()->PageTiles(), 0);
        QVERIFY(m_dlg->Find<QLabel>("previewTitle")->text().contains("no PCL or PCL XL"));

        // Back to the first row: from the cache, long before a render's sleep.
        clock.restart();
        m_dlg->SelectOnlyItem(0);
        QTRY_COMPARE(Preview()->PageTiles(), 5);
        QVERIFY(!Preview()->IsBusy());
        QVERIFY(clock.elapsed() < 450);

        // Moving on while a render runs: the stale render leaves no tiles and
        // no page folder behind, and the cache goes with the window.
        m_dlg->SelectOnlyItem(2);
        QTRY_VERIFY(Preview()->IsBusy());
        QTest::qWait(200);
        m_dlg->SelectOnlyItem(1);
        QTRY_VERIFY_WITH_TIMEOUT(!Preview()->IsBusy(), 5000);
        QCOMPARE(Preview()->Tiles()->count(), 1);
        QVERIFY(Tile(0)->data(CPagePreview::kErrorRole).toBool());
        QTRY_COMPARE(PageFolders().size(), 2); // slow.pcl and broken.pcl, cached
        // Cached folders stay locked: a sweep passes them by while the window
        // lives, and would take them once a crash had dropped the lock.
        for (const QString& folder : PageFolders())
            QVERIFY(QFileInfo::exists(QString::fromUtf8(m_tmp) + "/" + folder + "/" +
                                      QLatin1String(varnel::kPageFolderLock)));
        varnel::SweepAbandonedPageFolders(m_tmp.toStdString());
        QCOMPARE(PageFolders().size(), 2);
        m_dlg.reset();
        QCOMPARE(PageFolders(), QStringList());
    }

    void largerViewRendersThePageAgainAndStopsWhenClosed() {
        Open();
        // Pages of the canvas size, so a render at the view's size is larger
        // than the preview's page.
        const QByteArray job = Job("view.pcl", "pages 2\nsize page\nsleep 300\n");
        m_dlg->AddArguments({job});
        QTRY_COMPARE_WITH_TIMEOUT(Preview()->PageTiles(), 2, 10000);
        QTRY_VERIFY(!Preview()->IsBusy());
        const QStringList cached = PageFolders();
        QCOMPARE(cached.size(), 1);

        QString status, widerStatus;
        QSize page, widerPage;
        WhenModalShows([&](QWidget* view) {
            auto* text = view->findChild<QLabel*>(QStringLiteral("pageViewStatus"));
            auto* image = view->findChild<QLabel*>(QStringLiteral("pageViewImage"));
            QTRY_VERIFY_WITH_TIMEOUT(text->text().startsWith("Rendered at"), 10000);
            status = text->text();
            page = image->pixmap().size();
            // A few pixels more are not worth a render; twice the width is.
            view->resize(view->width() + 10, view->height());
            QTest::qWait(CPagePreview::kViewSettleMs * 2);
            QCOMPARE(text->text(), status);
            view->resize(view->width() * 2, view->height());
            QTRY_VERIFY_WITH_TIMEOUT(
                text->text() != status && text->text().startsWith("Rendered at"), 10000);
            widerStatus = text->text();
            widerPage = image->pixmap().size();
            view->close();
        });
        Preview()->ShowLarge(1);
        const int dpi = status.section(QLatin1Char(' '), 2, 2).toInt();
        QVERIFY2(dpi > CPagePreview::kDpi && dpi <= CPagePreview::kMaxViewDpi, qPrintable(status));
        QCOMPARE(page, QSize(int(8.27 * dpi), int(11.69 * dpi)));
        const int wider = widerStatus.section(QLatin1Char(' '), 2, 2).toInt();
        QVERIFY2(wider > dpi && wider <= CPagePreview::kMaxViewDpi, qPrintable(widerStatus));
        QCOMPARE(widerPage, QSize(int(8.27 * wider), int(11.69 * wider)));
        // Its page folder goes once the page is read; the cache's stays.
        QTRY_COMPARE(PageFolders(), cached);

        // Closed before the page came: that render ends early and leaves
        // nothing behind.
        WriteFile(job, "pages 2\nsize page\nsleep 1500\n");
        Preview()->ShowInput(job);
        QTRY_COMPARE_WITH_TIMEOUT(Preview()->PageTiles(), 2, 10000);
        QTRY_VERIFY(!Preview()->IsBusy());
        const QStringList both = PageFolders();
        QCOMPARE(both.size(), 2);
        QElapsedTimer clock;
        qint64 closedAt = -1;
        WhenModalShows([&](QWidget* view) {
            // Closed once the render has made its folder, well inside its sleep.
            QTRY_COMPARE(PageFolders().size(), 3);
            status = view->findChild<QLabel*>(QStringLiteral("pageViewStatus"))->text();
            closedAt = clock.elapsed();
            view->close();
        });
        clock.start();
        Preview()->ShowLarge(0);
        QVERIFY(status.startsWith("Rendering the page at"));
        QVERIFY(closedAt >= 0 && clock.elapsed() - closedAt < 500); // no wait for the render
        // The render's folder is moved away at once, so its next page fails.
        QTRY_VERIFY_WITH_TIMEOUT(PageFolders().filter("-cancelled").size() == 1, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(PageFolders(), both, 5000);
    }

    void rowOutcomesAreExplained() {
        Open();
        const QByteArray a = Job("a.pcl", "pages 1\n");
        const QByteArray b = Job("b.pcl", "pages 1\n");
        m_dlg->AddArguments({a, b});
        const QByteArray out = m_home->NewFolder("out");
        WriteFile(out + "/b.jpg", "x");
        CInputListModel* model = m_dlg->ListModel();
        QLabel* pageLabel = m_dlg->Find<QLabel>("pageLabel");
        // As the runner does it: from its own thread, each call waiting.
        std::thread worker([&] {
            m_dlg->SetRowStatus(0, "Converting.");
            m_dlg->SetPageProgress(0, 3, 60);
        });
        QTRY_COMPARE(pageLabel->text(), QStringLiteral("page 3 of 60"));
        worker.join();
        worker = std::thread([&] {
            varnel::RowReport failed;
            failed.status = "Failed";
            failed.reason = "the output folder /nowhere/ cannot be made <here>";
            m_dlg->SetRowStatus(0, "Failed");
            m_dlg->RowFinished(0, failed);
            varnel::RowReport warned;
            warned.status = "Succeed";
            warned.warnings = {"font \"Univers\" replaced", "unsupported raster operation"};
            warned.pagesRendered = 1;
            warned.outputs = {(out + "/b.jpg").toStdString()};
            m_dlg->SetRowStatus(1, "Succeed");
            m_dlg->RowFinished(1, warned);
        });
        QTRY_VERIFY(model->RowOutcome(1));
        worker.join();

        // The status texts stay as they are; the why is beside them.
        QCOMPARE(m_dlg->Cell(0, 2), QByteArray("Failed"));
        const QModelIndex failedCell = model->index(0, CInputListModel::ColStatus);
        QVERIFY(
            model->data(failedCell, Qt::ToolTipRole).toString().contains("cannot be made <here>"));
        QVERIFY(model->data(failedCell, Qt::DecorationRole).isNull());
        m_dlg->SelectOnlyItem(0);
        QLabel* details = m_dlg->Find<QLabel>("detailsPane");
        QTRY_VERIFY(details->text().contains("cannot be made &lt;here&gt;"));
        QVERIFY(!m_dlg->Find<QPushButton>("openOutputButton")->isEnabled());

        const QModelIndex warnedCell = model->index(1, CInputListModel::ColStatus);
        QVERIFY(!model->data(warnedCell, Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(model->data(warnedCell, Qt::ToolTipRole).toString().contains("unsupported raster"));
        m_dlg->SelectOnlyItem(1);
        QTRY_VERIFY(details->text().contains("Univers"));
        auto* open = m_dlg->Find<QPushButton>("openOutputButton");
        QVERIFY(open->isEnabled());
        open->click();
        QCOMPARE(m_dlg->opened.value(0), out + "/");
        // A converted row shows its output files.
        QTRY_COMPARE(Preview()->Tiles()->count(), 1);
        QCOMPARE(Preview()->Tiles()->item(0)->text(), QStringLiteral("b.jpg"));

        // A row that starts again forgets its outcome and the last row's page
        // count; the end of a run clears the counter too.
        m_dlg->SetPageProgress(0, 60, 60);
        m_dlg->SetRowStatus(1, "Converting.");
        QCOMPARE(pageLabel->text(), QString());
        QVERIFY(model->data(warnedCell, Qt::ToolTipRole).toString().isEmpty());
        QVERIFY(!model->RowOutcome(1));
        m_dlg->SetPageProgress(1, 1, 2);
        m_dlg->EnableControls(true);
        QCOMPARE(pageLabel->text(), QString());
    }

    void openFailuresAreExplained() {
        Open();
        // No desktop program to open anything with.
        m_dlg->realOpener = true;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_home->NewFolder("no-programs"));
        const QByteArray job = Job("open me.pcl", "pages 1\n");
        m_dlg->AddArguments({job});
        m_dlg->SelectOnlyItem(0);
        m_dlg->Find<QAction>("actionViewOriginal")->trigger();
        m_dlg->OnHelp();
        const QByteArray out = m_home->home() + "/later/out/";
        m_dlg->Find<QComboBox>("modeList")->setCurrentIndex(1);
        m_dlg->OnOutputModeChanged();
        m_dlg->folderToChoose = out;
        m_dlg->OnBrowse();
        m_dlg->Find<QPushButton>("exploreButton")->click();
        QVERIFY(QDir().mkpath(QString::fromUtf8(out)));
        m_dlg->Find<QPushButton>("exploreButton")->click();
        // A finished row whose output folder has gone since.
        std::thread worker([&] {
            varnel::RowReport done;
            done.status = "Succeed";
            done.outputs = {(m_home->home() + "/gone/open me.png").toStdString()};
            m_dlg->SetRowStatus(0, "Succeed");
            m_dlg->RowFinished(0, done);
        });
        QTRY_VERIFY(m_dlg->ListModel()->RowOutcome(0));
        worker.join();
        QTRY_VERIFY(m_dlg->Find<QPushButton>("openOutputButton")->isEnabled());
        m_dlg->Find<QPushButton>("openOutputButton")->click();
        qputenv("PATH", path);

        const QStringList& m = m_dlg->messages;
        QCOMPARE(m.size(), 5);
        QVERIFY2(m[0].contains("open me.pcl") && m[0].contains("no program"), qPrintable(m[0]));
        QVERIFY2(m[1].contains("help.html") && m[1].contains("no program"), qPrintable(m[1]));
        QVERIFY2(m[2].contains("later/out") && m[2].contains("does not exist yet"),
                 qPrintable(m[2]));
        QVERIFY2(m[3].contains("later/out") && m[3].contains("no program"), qPrintable(m[3]));
        QVERIFY2(m[4].contains("/gone/") && m[4].contains("is gone"), qPrintable(m[4]));
    }

    void typedFolderCheckedStopAndQuitAskedLayoutRemembered() {
        Open();
        m_dlg->AddArguments({Job("long.pcl", "pages 1\nsleep 800\n")});
        m_dlg->resize(900, 640);
        m_dlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
        QTest::keyClick(m_dlg.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_dlg->chooseFilesStarts.size(), 1);
        QTest::keyClick(m_dlg.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(m_dlg->folderCaptions, QStringList{QStringLiteral("Select folder:")});
        QTest::keyClick(m_dlg.get(), Qt::Key_F1);
        QVERIFY(m_dlg->opened.value(0).endsWith("/help.html"));
        // Installed: the page is found under the prefix's documentation
        // folder; missing, the user is told instead of nothing happening.
        const QByteArray prefix = m_home->NewFolder("prefix");
        QVERIFY(QDir().mkpath(QString::fromUtf8(prefix + "/bin")));
        m_dlg->programFolder = prefix + "/bin/";
        QTest::keyClick(m_dlg.get(), Qt::Key_F1);
        QCOMPARE(m_dlg->opened.size(), 1);
        QCOMPARE(m_dlg->messages.size(), 1);
        QVERIFY2(m_dlg->messages[0].contains("help.html is missing"),
                 qPrintable(m_dlg->messages[0]));
        m_dlg->messages.clear();
        const QByteArray doc = prefix + "/share/doc/varnel";
        QVERIFY(QDir().mkpath(QString::fromUtf8(doc)));
        WriteFile(doc + "/help.html", "<html></html>");
        QTest::keyClick(m_dlg.get(), Qt::Key_F1);
        QCOMPARE(m_dlg->opened.value(1), doc + "/help.html");
        m_dlg->programFolder.clear();
        auto* header = m_dlg->Find<QTableView>("fileList")->horizontalHeader();
        header->resizeSection(CInputListModel::ColSize, 77);
        header->resizeSection(CInputListModel::ColStatus, 140);

        // The output folder is typed: a relative path is refused before the
        // run, a "~/" path is made and used.
        auto* edit = m_dlg->Find<QLineEdit>("outputEdit");
        QVERIFY(!edit->isReadOnly());
        edit->selectAll();
        QTest::keyClicks(edit, "relative/out");
        m_dlg->OnStartStop();
        QVERIFY(!m_dlg->IsRunning());
        QCOMPARE(m_dlg->messages.size(), 1);
        QVERIFY(m_dlg->messages[0].contains("full path"));
        edit->selectAll();
        QTest::keyClicks(edit, "~/typed/out");
        // F5 starts, as the button does.
        QTest::keyClick(m_dlg.get(), Qt::Key_F5);
        QVERIFY(m_dlg->IsRunning());
        QCOMPARE(m_dlg->OutputFolder(), m_home->home() + "/typed/out/");
        QVERIFY(QFileInfo(QString::fromUtf8(m_home->home() + "/typed/out")).isDir());
        QVERIFY(edit->isReadOnly());

        // Closing during the run asks; "No" keeps window and run, "Yes"
        // stops the run and closes once it has ended.
        QTRY_COMPARE(m_dlg->Cell(0, 2), QByteArray("Converting.."));
        QTest::keyClick(m_dlg.get(), Qt::Key_Q, Qt::ControlModifier); // the close box's path
        QCOMPARE(m_dlg->stopAndQuitAsked, 1);
        QVERIFY(m_dlg->isVisible());
        QVERIFY(m_dlg->IsRunning());
        m_dlg->stopAndQuitAnswer = true;
        m_dlg->close();
        QCOMPARE(m_dlg->stopAndQuitAsked, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 5000);
        QVERIFY(!m_dlg->IsRunning());
        QCOMPARE(m_dlg->Cell(0, 2), QByteArray("Aborted"));

        const QByteArray profile = m_home->ProfileText();
        QCOMPARE(ProfileValue(profile, "columns").value_or("<absent>"), QByteArray("77,140"));
        QCOMPARE(ProfileValue(profile, "output").value_or("<absent>"),
                 m_home->home() + "/typed/out/");
        Open();
        header = m_dlg->Find<QTableView>("fileList")->horizontalHeader();
        QCOMPARE(header->sectionSize(CInputListModel::ColSize), 77);
        QCOMPARE(header->sectionSize(CInputListModel::ColStatus), 140);
        QCOMPARE(m_dlg->size(), QSize(900, 640));
    }

    void secondStartHandsItsFilesOver() {
        Open();
        const QByteArray runtime = m_home->NewFolder("run-handover");
        const std::string folder = runtime.toStdString() + "/";
        CConvertApp first;
        QVERIFY(first.AcquireInstanceLock(folder, "varnel"));
        CInstanceServer server([this](const QList<QByteArray>& files) {
            m_dlg->AddArguments(files);
            m_dlg->BringToFront();
        });
        QVERIFY(server.Listen(InstanceSocketPath(folder, "varnel")));

        const QByteArray jobs = m_home->NewFolder("handed");
        QVERIFY(QDir().mkdir(QString::fromUtf8(jobs + "/sub")));
        WriteFile(jobs + "/one.pcl", "pages 1\n");
        WriteFile(jobs + "/sub/two.pxl", "pages 1\n");
        WriteFile(jobs + "/sub/three.PCL", "pages 1\n");
        WriteFile(jobs + "/sub/notes.txt", "x");
        QProcess second;
        second.setProcessEnvironment(WithoutDisplay(runtime));
        second.setWorkingDirectory(QString::fromUtf8(jobs));
        second.start(QStringLiteral(VARNEL_BINARY_DIR "/bin/varnel"),
                     {QStringLiteral("one.pcl"), QString::fromUtf8(jobs + "/sub")});
        // The event loop runs meanwhile, so this window can answer.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(m_dlg->ListModel()->rowCount(), 3);
        QCOMPARE(m_dlg->ListModel()->Path(0), jobs + "/one.pcl");
        QStringList rest{QString::fromUtf8(m_dlg->ListModel()->Path(1)),
                         QString::fromUtf8(m_dlg->ListModel()->Path(2))};
        rest.sort();
        QCOMPARE(rest, QStringList({QString::fromUtf8(jobs + "/sub/three.PCL"),
                                    QString::fromUtf8(jobs + "/sub/two.pxl")}));
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 3"));
    }

    void commandLineWorksWithoutADisplay() {
        const QProcessEnvironment env = WithoutDisplay(m_home->NewFolder("run-cli"));
        Ran help = RunProgram({QStringLiteral("--help")}, env);
        QVERIFY(!help.crashed);
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.startsWith("Usage: varnel"));
        Ran version = RunProgram({QStringLiteral("--version")}, env);
        QCOMPARE(version.code, 0);
        QCOMPARE(version.out, QByteArray("Krellix Varnel 9.1.0\n"));
        Ran wrong = RunProgram({QStringLiteral("--frobnicate")}, env);
        QCOMPARE(wrong.code, 2);
        QVERIFY(wrong.err.contains("--frobnicate"));

        Ran none = RunProgram({}, env);
        QVERIFY(!none.crashed);
        QCOMPARE(none.code, 1);
        QVERIFY(none.err.contains("no display"));
        // A display that is named but cannot be reached ends the same way,
        // without a core dump.
        QProcessEnvironment gone = WithoutDisplay(m_home->NewFolder("run-gone"));
        gone.insert("DISPLAY", ":97");
        Ran unreachable = RunProgram({}, gone);
        QVERIFY(!unreachable.crashed);
        QCOMPARE(unreachable.code, 1);
        QVERIFY(unreachable.err.contains("no display"));
    }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
