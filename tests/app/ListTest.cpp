// The input list: what is accepted, how rows are removed and selected, and
// which labels and buttons each operation updates.
#include "AppTestSupport.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTableView>
#include <QToolButton>
#include <unistd.h>

class ListTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TestDlg> m_dlg;

    QTableView* List() { return m_dlg->Find<QTableView>("fileList"); }
    bool Enabled(const char* name) { return m_dlg->Find<QWidget>(name)->isEnabled(); }
    QByteArray FolderOf(int n, const QByteArray& name = "rows") {
        const QByteArray folder = m_home->NewFolder(name);
        for (int i = 0; i < n; ++i)
            WriteFile(folder + "/" + QByteArray::number(i).rightJustified(2, '0') + ".pcl", "x");
        return folder;
    }
    // Fills the list through the folder command, in name order for the tests.
    void AddRows(int n) {
        const QByteArray folder = FolderOf(n);
        QList<QByteArray> files;
        for (int i = 0; i < n; ++i)
            files.append(folder + "/" + QByteArray::number(i).rightJustified(2, '0') + ".pcl");
        m_dlg->filesToChoose = files;
        m_dlg->OnAddFiles();
        QCOMPARE(m_dlg->RowCount(), n);
    }
    void ClickRow(int row, Qt::KeyboardModifiers mods = Qt::NoModifier,
                  Qt::MouseButton button = Qt::LeftButton) {
        QRect r = List()->visualRect(List()->model()->index(row, 0));
        QTest::mouseClick(List()->viewport(), button, mods, r.center());
    }
    void ClickHeader(int column) {
        QHeaderView* header = List()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    QStringList Names() {
        QStringList names;
        for (int row = 0; row < m_dlg->RowCount(); ++row)
            names << QFileInfo(QFile::decodeName(m_dlg->ListModel()->Path(row))).fileName();
        return names;
    }
    void Drop(const QByteArray& uriList) {
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("text/uri-list"), uriList);
        SendDrop(m_dlg.get(), mime);
        delete mime;
    }

private slots:
    void initTestCase() { m_home = std::make_unique<TestHome>(); }

    void init() {
        QFile::remove(QString::fromUtf8(m_home->profile()));
        m_dlg = std::make_unique<TestDlg>();
        QVERIFY(m_dlg->OnInitDialog());
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    void cleanup() { m_dlg.reset(); }

    void folderAddsOnlyReadablePclFiles() {
        const QByteArray folder = m_home->NewFolder("mixed");
        WriteFile(folder + "/report.PCL", QByteArray(103, 'x'));
        WriteFile(folder + "/notes.txt", "x");
        WriteFile(folder + "/small.pxl", QByteArray(102, 'x'));
        WriteFile(folder + "/two words 'q\" 100%.px3", QByteArray(1127, 'x'));
        const QByteArray raw = folder + "/caf\xe9\xff.pcl"; // Latin-1 bytes, not UTF-8
        WriteFile(raw, "x");
        QVERIFY(::symlink("/nonexistent/target.pcl", (folder + "/dangling.pcl").constData()) == 0);
        QDir().mkpath(QString::fromUtf8(folder + "/sub.pcl"));
        WriteFile(folder + "/sub.pcl/inner.pcl", "x");

        m_dlg->AddFolderFiles(folder);
        QCOMPARE(m_dlg->RowCount(), 4);
        QMap<QByteArray, QByteArray> sizes;
        QList<QByteArray> paths;
        for (int row = 0; row < 4; ++row) {
            const QByteArray path = QByteArray::fromStdString(m_dlg->RowPath(row));
            paths.append(path);
            sizes[path.mid(folder.size() + 1)] = m_dlg->Cell(row, 1);
            QCOMPARE(m_dlg->Cell(row, 2), QByteArray("Ready"));
        }
        QCOMPARE(sizes.value("report.PCL"), QByteArray("1 KB"));
        QCOMPARE(sizes.value("small.pxl"), QByteArray("0 KB"));
        QCOMPARE(sizes.value("two words 'q\" 100%.px3"), QByteArray("2 KB"));
        // The odd name keeps its exact bytes for the conversion.
        QVERIFY(paths.contains(raw));
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 4"));
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 1"));
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});
        QVERIFY(Enabled("removeButton"));
        QVERIFY(Enabled("startButton"));
        QVERIFY(m_dlg->isEnabled());
    }

    void unreadableFolderChangesNothing() {
        AddRows(2);
        ClickRow(1);
        m_dlg->AddFolderFiles(m_home->home() + "/no such folder");
        QCOMPARE(m_dlg->RowCount(), 2);
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{1});
        // A folder that can be listed but holds nothing still ends as an add.
        m_dlg->AddFolderFiles(m_home->NewFolder("empty"));
        QCOMPARE(m_dlg->RowCount(), 2);
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 2"));
    }

    void addFilesKeepsDuplicatesAndRemembersLastChoice() {
        const QByteArray folder = FolderOf(2, "pick");
        const QByteArray a = folder + "/00.pcl";
        const QByteArray other = folder + "/readme.txt";
        WriteFile(other, "x");
        m_dlg->filesToChoose = {a, a, other};
        m_dlg->OnAddFiles();
        QCOMPARE(m_dlg->RowCount(), 2);
        QCOMPARE(m_dlg->RowPath(1), a.toStdString());
        QCOMPARE(m_dlg->chooseFilesStarts.value(0), m_home->home());
        QCOMPARE(ProfileValue(m_home->ProfileText(), "AddFile").value_or("<none>"), other);
        m_dlg->filesToChoose.clear();
        m_dlg->OnAddFiles(); // cancelled
        QCOMPARE(m_dlg->chooseFilesStarts.value(1), other);
        QCOMPARE(m_dlg->RowCount(), 2);
    }

    void delRemovesSelectedRowsAndSelectsTheRowAbove() {
        AddRows(7);
        const std::string row1 = m_dlg->RowPath(1);
        ClickRow(2);
        ClickRow(5, Qt::ControlModifier);
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 2"));
        QTest::keyClick(List(), Qt::Key_Delete);
        QCOMPARE(m_dlg->RowCount(), 5);
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{1});
        QCOMPARE(m_dlg->RowPath(1), row1);
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 5"));
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 1"));
        for (int row = 0; row < 5; ++row)
            QVERIFY(!QByteArray::fromStdString(m_dlg->RowPath(row)).endsWith("/02.pcl") &&
                    !QByteArray::fromStdString(m_dlg->RowPath(row)).endsWith("/05.pcl"));
    }

    void deletingTheTopRowsSelectsTheNewFirstRow() {
        AddRows(3);
        const std::string row2 = m_dlg->RowPath(2);
        ClickRow(0);
        ClickRow(1, Qt::ShiftModifier);
        m_dlg->Find<QToolButton>("removeButton")->click();
        QCOMPARE(m_dlg->RowCount(), 1);
        QCOMPARE(m_dlg->RowPath(0), row2);
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});
    }

    void removingEveryRowDisablesRemoveAndStart() {
        AddRows(3);
        QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(List(), Qt::Key_Delete);
        QCOMPARE(m_dlg->RowCount(), 0);
        QVERIFY(!Enabled("removeButton"));
        QVERIFY(!Enabled("startButton"));
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 0"));
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 0"));
        // Del on an empty list is harmless.
        QTest::keyClick(List(), Qt::Key_Delete);
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 0"));
    }

    void ctrlASelectsEveryRow() {
        AddRows(12);
        QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_dlg->SelectedRows().size(), 12);
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 12"));
        QVERIFY(Enabled("removeButton"));
    }

    void clicksCountTheSelection() {
        AddRows(4);
        ClickRow(3);
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 1"));
        ClickRow(1, Qt::ControlModifier);
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 2"));
        // A click below the last row clears the selection.
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(10, List()->viewport()->height() - 5));
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 0"));
        QVERIFY(!Enabled("removeButton"));
        QVERIFY(Enabled("startButton"));
    }

    void droppedFilesAreAddedWithoutRefreshingTheLabels() {
        AddRows(2);
        const QByteArray folder = m_home->NewFolder("drop");
        WriteFile(folder + "/job.pxl", "x");
        WriteFile(folder + "/na\xefve 50%.pcl", "x");
        WriteFile(folder + "/photo.png", "x");
        QDir().mkpath(QString::fromUtf8(folder + "/dir.pcl"));
        WriteFile(folder + "/dir.pcl/inside.pcl", "x");
        const QByteArray base = "file://" + folder.toPercentEncoding("/");
        Drop(base + "/job.pxl\r\n" + base + "/dir.pcl\r\n" + base + "/photo.png\r\n" + base +
             "/na%EFve%2050%25.pcl\r\n" + base + "/missing.pcl\r\n");
        QCOMPARE(m_dlg->RowCount(), 4);
        QCOMPARE(QByteArray::fromStdString(m_dlg->RowPath(2)), folder + "/job.pxl");
        QCOMPARE(QByteArray::fromStdString(m_dlg->RowPath(3)), folder + "/na\xefve 50%.pcl");
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 2"));
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{0});
    }

    void droppedFolderAddsNothing() {
        const QByteArray folder = FolderOf(3, "dropdir");
        Drop("file://" + folder.toPercentEncoding("/") + "\r\n");
        QCOMPARE(m_dlg->RowCount(), 0);
        QVERIFY(!Enabled("startButton"));
        QVERIFY(!Enabled("removeButton"));
    }

    void contextMenuOnEmptyList() {
        QTest::mouseClick(List()->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(30, 30));
        QMenu* menu = m_dlg->ContextMenu();
        QTRY_VERIFY(menu->isVisible());
        QStringList entries;
        for (QAction* a : menu->actions())
            entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(entries, (QStringList{"Add File(s)...", "Add Folder...", "-",
                                       "Delete Selected Items            Del", "Clear All Items",
                                       "-", "View Original File"}));
        QVERIFY(m_dlg->Find<QAction>("actionAddFiles")->isEnabled());
        QVERIFY(m_dlg->Find<QAction>("actionAddFolder")->isEnabled());
        QVERIFY(!m_dlg->Find<QAction>("actionDelete")->isEnabled());
        QVERIFY(!m_dlg->Find<QAction>("actionClearAll")->isEnabled());
        QVERIFY(!m_dlg->Find<QAction>("actionViewOriginal")->isEnabled());
        QCOMPARE(m_dlg->LabelText("selectedLabel"), QStringLiteral("Selected: 0"));
        menu->close();
    }

    void contextMenuActsOnTheSelection() {
        AddRows(3);
        ClickRow(2);
        ClickRow(1, Qt::ControlModifier);
        ClickRow(1, Qt::NoModifier, Qt::RightButton);
        QMenu* menu = m_dlg->ContextMenu();
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(m_dlg->Find<QAction>("actionDelete")->isEnabled());
        QVERIFY(m_dlg->Find<QAction>("actionClearAll")->isEnabled());
        QVERIFY(m_dlg->Find<QAction>("actionViewOriginal")->isEnabled());
        menu->close();
        m_dlg->Find<QAction>("actionViewOriginal")->trigger();
        QCOMPARE(m_dlg->opened.size(), 1);
        QCOMPARE(m_dlg->opened[0],
                 QByteArray::fromStdString(m_dlg->RowPath(m_dlg->SelectedRows()[0])));
        m_dlg->Find<QAction>("actionClearAll")->trigger();
        QCOMPARE(m_dlg->RowCount(), 0);
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 0"));
        QVERIFY(!Enabled("startButton"));
    }

    void pathBytesSurviveTheToolkit() {
        const QByteArray folder = m_home->NewFolder("bytes\xe4");
        const QByteArray raw = folder + "/r\xe9sum\xff 100%.pcl";
        WriteFile(raw, "x");
        // Decoding for display loses the bytes; the lookup brings them back.
        const QString shown = QFile::decodeName(raw);
        QVERIFY(QFile::encodeName(shown) != raw);
        QCOMPARE(RawPathFromText(shown), raw);
        QCOMPARE(LocalPathsFromUriList(UrlFromRawPath(raw).toEncoded()), QList<QByteArray>{raw});
        QCOMPARE(LocalPathsFromUriList("# comment\r\nhttp://host/a.pcl\r\nfile://other/b.pcl\r\n"
                                       "file://localhost/tmp/c%20d.pcl\r\n"),
                 QList<QByteArray>{"/tmp/c d.pcl"});
    }

    void addFilesDialogOffersThePrintFileFilters() {
        const QByteArray folder = FolderOf(2, "dialog");
        WriteFile(folder + "/other.txt", "x");
        m_home->WriteProfile("[Set]\nAddFile=" + folder + "/01.pcl\n");
        m_dlg->realDialogs = true;
        QString title;
        QStringList filters;
        WhenModalShows([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
            QCOMPARE(QFileInfo(dialog->directory().absolutePath()).canonicalFilePath(),
                     QFileInfo(QString::fromUtf8(folder)).canonicalFilePath());
            // Typed, as a user would: the dialog's view fills in the background.
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"00.pcl\" \"01.pcl\""));
            static_cast<QDialog*>(dialog)->accept();
        });
        m_dlg->OnAddFiles();
        QCOMPARE(title, QStringLiteral("Krellix Varnel"));
        QCOMPARE(filters,
                 (QStringList{"All Supported Formats(*.pcl *.pxl *.px3 *.plt *.hpg *.hpgl *.hp2)",
                              "PCL Files (*.pcl)", "PXL Files (*.pxl)", "PX3 Files (*.px3)",
                              "HP-GL/2 Plot Files (*.plt *.hpg *.hpgl *.hp2)", "All Files (*)"}));
        QCOMPARE(m_dlg->RowCount(), 2);
        QCOMPARE(m_dlg->LabelText("countLabel"), QStringLiteral("Files Count: 2"));
    }

    void addFolderCommandUsesTheChosenFolder() {
        m_dlg->folderToChoose = FolderOf(3, "chosen");
        m_dlg->Find<QToolButton>("addFolderButton")->click();
        QCOMPARE(m_dlg->folderCaptions, QStringList{"Select folder:"});
        QCOMPARE(m_dlg->RowCount(), 3);
        m_dlg->folderToChoose.clear(); // cancelled
        m_dlg->Find<QToolButton>("addFolderButton")->click();
        QCOMPARE(m_dlg->RowCount(), 3);
    }

    void headerClicksSortRowsAndKeepTheSelection() {
        // Sizes whose texts sort otherwise: 9 KB, 10 KB, 100 KB.
        const QByteArray folder = m_home->NewFolder("sorting");
        WriteFile(folder + "/b.pcl", QByteArray(9 * 1024, 'x'));
        WriteFile(folder + "/C.pcl", QByteArray(100 * 1024, 'x'));
        WriteFile(folder + "/a.pcl", QByteArray(10 * 1024, 'x'));
        m_dlg->filesToChoose = {folder + "/b.pcl", folder + "/C.pcl", folder + "/a.pcl"};
        m_dlg->OnAddFiles();
        ClickRow(0);

        ClickHeader(CInputListModel::ColSize);
        QCOMPARE(Names(), QStringList({"b.pcl", "a.pcl", "C.pcl"}));
        ClickHeader(CInputListModel::ColSize);
        QCOMPARE(Names(), QStringList({"C.pcl", "a.pcl", "b.pcl"}));
        QCOMPARE(m_dlg->SelectedRows(), QList<int>{2}); // b.pcl, wherever it went
        ClickHeader(CInputListModel::ColFiles);
        QCOMPARE(Names(), QStringList({"a.pcl", "b.pcl", "C.pcl"}));

        // Equal statuses keep their order.
        m_dlg->SetRowStatus(0, "Succeed");
        m_dlg->SetRowStatus(1, "Failed");
        m_dlg->SetRowStatus(2, "Succeed");
        ClickHeader(CInputListModel::ColStatus);
        QCOMPARE(Names(), QStringList({"b.pcl", "a.pcl", "C.pcl"}));

        // During a run rows are addressed by position: clicks sort nothing.
        m_dlg->EnableControls(false);
        ClickHeader(CInputListModel::ColSize);
        QCOMPARE(Names(), QStringList({"b.pcl", "a.pcl", "C.pcl"}));
        m_dlg->EnableControls(true);
        ClickHeader(CInputListModel::ColSize);
        QCOMPARE(Names().first(), QStringLiteral("b.pcl"));
        QCOMPARE(Names().last(), QStringLiteral("C.pcl"));
    }
};

QTEST_MAIN(ListTest)
#include "ListTest.moc"
