// The main window: the input list, the output format and folder choices, the
// Start/Stop button, the progress strip, and the buttons for the settings
// sheet and the About box. It is the runner's view: the worker reaches it only
// through calls that block until the window thread has carried them out.
#pragma once

#include "ConvertSettings.h"
#include "ConvertView.h"
#include "Renderer.h"
#include "Runner.h"

#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <QList>
#include <QUrl>
#include <memory>
#include <string>

class CIconButton;
class CFileListView;
class CPagePreview;
class QTimer;
class CInputListModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;

class CConvertDlg : public QDialog, public varnel::ConvertView {
    Q_OBJECT
public:
    // rendererPath: the renderer library to bind, or null for libtarvik.so
    // through the normal library search. api: the converter functions, or null
    // for the conversion engine's own.
    explicit CConvertDlg(const char* rendererPath = nullptr, QWidget* parent = nullptr,
                         const varnel::ConverterApi* api = nullptr);
    ~CConvertDlg() override;

    // Binds the renderer, reads the profile and sets up the controls. False
    // when the renderer could not be bound: the message has been shown and
    // the profile was neither read nor written.
    bool OnInitDialog();

    // Input list.
    void AddFileToList(const QByteArray& path);
    void AddFolderFiles(const QByteArray& folder);
    void AddDroppedFiles(const QList<QByteArray>& paths);
    void RemoveSelected();
    void ClearAll();
    void OnAddFiles();
    // Adds the files chosen in the Add Files dialog and remembers the last one.
    void AddChosenFiles(const QList<QByteArray>& files);
    void OnAddFolder();
    void OnViewOriginalFile();
    void OnListClick();
    void OnListRightClick(const QPoint& globalPos);
    void OnListSelectAll();
    // Files and folders from the command line or a second start: files as by
    // a drop, the print files of a folder as by Add Folder. Ignored while a
    // conversion runs, as drops are.
    void AddArguments(const QList<QByteArray>& paths);
    // Brings the window to the front, restoring it when minimised.
    void BringToFront();

    // Output choices and commands.
    void OnOutputModeChanged();
    void OnBrowse();
    void OnExplore();
    void OnAbout();
    void OnSettings();
    void OnStartStop();
    void OnHelp();
    // Opens the folder of the selected finished row's first output file.
    void OnOpenOutputFolder();

    // The help page: beside the program (the build tree), else in the
    // installed documentation folder; empty when there is none.
    QByteArray HelpPagePath() const;

    bool IsRunning() const;
    const std::string& ProfilePath() const { return m_profilePath; }
    const varnel::ConvertSettings& Settings() const { return m_settings; }
    const QByteArray& OutputFolder() const { return m_outputFolder; }
    CInputListModel* ListModel() const { return m_model; }
    CPagePreview* Preview() const { return m_preview; }
    QMenu* ContextMenu() const { return m_menu; }

    // ConvertView: each call runs on the window thread; from the worker it
    // waits until it has.
    int RowCount() override;
    std::string RowPath(int row) override;
    void SetRowStatus(int row, const std::string& status) override;
    void SelectOnlyItem(int row) override;
    void SetProgress(int position) override;
    void SetSelectedLabel(const std::string& text) override;
    void SetStartStopButton(const std::string& text, bool running) override;
    void EnableControls(bool enable) override;
    void RowFinished(int row, const varnel::RowReport& report) override;
    void SetPageProgress(int row, int page, int pages) override;

protected:
    // Platform dialogs and the desktop's opener, replaceable for tests.
    virtual QList<QByteArray> ChooseFiles(const QByteArray& startAt);
    virtual QByteArray ChooseFolder(const QString& caption, const QByteArray& startAt);
    virtual void OpenWithDesktop(const QByteArray& path);
    virtual void ShowRendererFailed();
    // The question when the window is closed during a run; true: stop and quit.
    virtual bool AskStopAndQuit();
    // A message the user has to acknowledge (a folder or page cannot be opened).
    virtual void ShowMessage(const QString& text);
    // The running program's folder, with its trailing "/".
    virtual QByteArray ProgramFolder() const;

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public:
    // Esc and Enter never end the window; only a close request does.
    void reject() override {}
    void accept() override {}

private:
    void BuildControls();
    void UpdateDataFromLists();
    void UpdateListsFromData();
    void SetCountLabel(int count);
    void SetSelectedCount(int count);
    void EnableListButtons(bool enable);
    void FinishAdding();
    int SelectedRowCount() const;
    template <class F> void OnWindowThread(F&& f);
    int CurrentRow() const;
    void OnSelectionSettled();
    void UpdateDetails();
    bool CheckOutputFolder();
    void RestoreLayout();
    void SaveLayout();

    std::unique_ptr<varnel::Renderer> m_renderer;
    std::unique_ptr<varnel::Runner> m_runner;
    const char* m_rendererPath;
    const varnel::ConverterApi* m_api;
    std::string m_profilePath;
    varnel::ConvertSettings m_settings;
    int m_formatIndex = -1;
    int m_outputMode = -1;
    QByteArray m_outputFolder;
    bool m_initialised = false;

    QIcon m_appIcon;
    QIcon m_startIcon;
    QIcon m_stopIcon;

    CIconButton* m_addFiles = nullptr;
    CIconButton* m_addFolder = nullptr;
    CIconButton* m_remove = nullptr;
    CIconButton* m_settingsButton = nullptr;
    CIconButton* m_about = nullptr;
    CFileListView* m_list = nullptr;
    CInputListModel* m_model = nullptr;
    QComboBox* m_formatList = nullptr;
    QComboBox* m_modeList = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_explore = nullptr;
    QLineEdit* m_outputEdit = nullptr;
    CIconButton* m_startStop = nullptr;
    QLabel* m_countLabel = nullptr;
    QLabel* m_selectedLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_actAddFiles = nullptr;
    QAction* m_actAddFolder = nullptr;
    QAction* m_actDelete = nullptr;
    QAction* m_actClearAll = nullptr;
    QAction* m_actViewOriginal = nullptr;

    CPagePreview* m_preview = nullptr;
    QLabel* m_details = nullptr;
    QPushButton* m_openOutput = nullptr;
    QLabel* m_pageLabel = nullptr;
    QTimer* m_selectionSettle = nullptr;
    QByteArray m_addFolderStart;
    bool m_quitAfterRun = false;
};

// Turns a path the toolkit returned as text back into the bytes of the file
// system's name. Names that are not valid UTF-8 do not survive decoding, so
// each component that does not exist as encoded is looked up in its folder.
QByteArray RawPathFromText(const QString& path);

// file:// address of a path given as bytes, every byte kept.
QUrl UrlFromRawPath(const QByteArray& path);

// Parses a text/uri-list into the local paths it names, bytes kept.
QList<QByteArray> LocalPathsFromUriList(const QByteArray& uriList);

// Renders one of the program's SVG icons at the sizes the window uses.
QIcon LoadSvgIcon(const QString& resource);
