#include "ConvertDlg.h"

#include "AboutDlg.h"
#include "FileListView.h"
#include "IconButton.h"
#include "InputFiles.h"
#include "InputListModel.h"
#include "OutputFormats.h"
#include "PropSheet.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSvgRenderer>
#include <QThread>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>

namespace {

const char* const kTitle = "Krellix Varnel";
const char* const kStart = "Start Converting";

// Widths of the list's three columns, in pixels.
constexpr int kFilesWidth = 300;
constexpr int kSizeWidth = 100;
constexpr int kStatusWidth = 150;

bool IsFolderBytes(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ExistsBytes(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0;
}

QFrame* Line(QFrame::Shape shape) {
    auto* line = new QFrame;
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

QIcon LoadSvgIcon(const QString& resource) {
    QSvgRenderer svg(resource);
    QIcon icon;
    if (!svg.isValid()) return icon;
    for (int size : {16, 20, 24, 32, 40, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QByteArray RawPathFromText(const QString& path) {
    QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty() || ExistsBytes(encoded)) return encoded;
    // Walk the components, and where the encoded name is not there, find the
    // folder entry whose shown name is the text the toolkit gave us.
    const QStringList parts = path.split(QLatin1Char('/'));
    QByteArray result;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        if (i > 0) result += '/';
        if (part.isEmpty()) continue;
        QByteArray name = QFile::encodeName(part);
        QByteArray candidate = result + name;
        if (!ExistsBytes(candidate)) {
            const QByteArray folder = result.isEmpty() ? QByteArray(".") : result;
            if (DIR* dir = ::opendir(folder.constData())) {
                while (dirent* entry = ::readdir(dir)) {
                    if (QFile::decodeName(entry->d_name) == part) {
                        name = entry->d_name;
                        break;
                    }
                }
                ::closedir(dir);
            }
        }
        result += name;
    }
    return result;
}

QUrl UrlFromRawPath(const QByteArray& path) {
    QByteArray absolute = path;
    if (!absolute.startsWith('/'))
        absolute = QFile::encodeName(QDir::currentPath()) + '/' + absolute;
    return QUrl::fromEncoded("file://" + absolute.toPercentEncoding("/"), QUrl::StrictMode);
}

QList<QByteArray> LocalPathsFromUriList(const QByteArray& uriList) {
    QList<QByteArray> paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (!line.toLower().startsWith("file://")) continue;
        QByteArray rest = line.mid(7);
        const qsizetype slash = rest.indexOf('/');
        if (slash < 0) continue;
        // Only this machine's files: an empty host or "localhost".
        const QByteArray host = rest.left(slash);
        if (!host.isEmpty() && host.toLower() != "localhost") continue;
        paths.append(QByteArray::fromPercentEncoding(rest.mid(slash)));
    }
    return paths;
}

// ---------------------------------------------------------------- construction

CConvertDlg::CConvertDlg(const char* rendererPath, QWidget* parent, const varnel::ConverterApi* api)
    : QDialog(parent), m_rendererPath(rendererPath), m_api(api) {
    // The icons live in a static library, whose resources are not registered
    // by themselves.
    Q_INIT_RESOURCE(resources);
    setObjectName(QStringLiteral("convertDlg"));
    m_appIcon = LoadSvgIcon(QStringLiteral(":/icons/varnel.svg"));
    m_startIcon = LoadSvgIcon(QStringLiteral(":/icons/start.svg"));
    m_stopIcon = LoadSvgIcon(QStringLiteral(":/icons/stop.svg"));
    // A window of its own with close and minimise boxes, but no maximise box
    // and no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    BuildControls();
}

CConvertDlg::~CConvertDlg() {
    // The runner's destructor waits for a worker that has made its last call;
    // the window refuses to close earlier, so this never blocks for long.
    m_runner.reset();
}

void CConvertDlg::BuildControls() {
    auto makeButton = [this](const char* name, const char* text, CIconButton::Layout layout) {
        auto* button = new CIconButton(QString::fromLatin1(text), layout, this);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    m_addFiles = makeButton("addFilesButton", "Add File(s)", CIconButton::IconBeside);
    m_addFolder = makeButton("addFolderButton", "Add Folder", CIconButton::IconBeside);
    m_remove = makeButton("removeButton", "Remove", CIconButton::IconBeside);
    m_settingsButton = makeButton("settingsButton", "Settings", CIconButton::IconBeside);
    m_about = makeButton("aboutButton", "", CIconButton::IconOnly);
    m_startStop = makeButton("startButton", kStart, CIconButton::IconAbove);
    m_remove->setEnabled(false);
    m_startStop->setEnabled(false);
    for (CIconButton* b : {m_addFiles, m_addFolder, m_remove, m_settingsButton})
        b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_model = new CInputListModel(this);
    m_list = new CFileListView(this);
    m_list->setObjectName(QStringLiteral("fileList"));
    m_list->setModel(m_model);
    m_list->setBusyTest([this] { return IsRunning(); });
    m_list->setMinimumSize(kFilesWidth + kSizeWidth + kStatusWidth + 40, 240);

    m_formatList = new QComboBox;
    m_formatList->setObjectName(QStringLiteral("formatList"));
    for (int i = 0; i < varnel::kFormatCount; ++i)
        m_formatList->addItem(QString::fromLatin1(varnel::FormatListEntry(i)));
    m_modeList = new QComboBox;
    m_modeList->setObjectName(QStringLiteral("modeList"));
    m_modeList->addItems({QStringLiteral("Convert to the source file folder"),
                          QStringLiteral("Convert to the specified directory")});
    m_browse = new QPushButton(QStringLiteral("Browse..."));
    m_browse->setObjectName(QStringLiteral("browseButton"));
    m_explore = new QPushButton(QStringLiteral("Explore..."));
    m_explore->setObjectName(QStringLiteral("exploreButton"));
    for (QPushButton* b : {m_browse, m_explore}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    m_outputEdit = new QLineEdit;
    m_outputEdit->setObjectName(QStringLiteral("outputEdit"));
    m_outputEdit->setReadOnly(true);

    m_countLabel = new QLabel(QStringLiteral("Files Count: 0"));
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    m_selectedLabel = new QLabel(QStringLiteral("Selected: 0"));
    m_selectedLabel->setObjectName(QStringLiteral("selectedLabel"));
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(fontMetrics().height());
    // Keep its place in the strip while hidden, so nothing shifts at a run.
    QSizePolicy keep = m_progress->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_progress->setSizePolicy(keep);
    m_progress->hide();

    // Layout: buttons, list, format and folder choices beside Start, status strip.
    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    top->addWidget(m_addFiles);
    top->addWidget(m_addFolder);
    top->addWidget(m_remove);
    top->addWidget(m_settingsButton);
    top->addStretch(1);
    top->addWidget(m_about, 0, Qt::AlignTop);

    auto* group = new QGroupBox(QStringLiteral("Image Format && Output Folder"));
    group->setObjectName(QStringLiteral("outputGroup"));
    auto* grid = new QGridLayout(group);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_formatList, 0, 0);
    grid->addWidget(m_modeList, 1, 0, 1, 2);
    grid->addWidget(m_browse, 1, 2);
    grid->addWidget(m_explore, 1, 3);
    grid->addWidget(m_outputEdit, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    m_formatList->setMinimumWidth(m_formatList->sizeHint().width());

    m_startStop->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_startStop->setMinimumWidth(150);
    auto* middle = new QHBoxLayout;
    middle->addWidget(group, 1);
    auto* startColumn = new QVBoxLayout;
    startColumn->addSpacing(fontMetrics().height() / 2);
    startColumn->addWidget(m_startStop, 1);
    middle->addLayout(startColumn);

    auto* strip = new QHBoxLayout;
    strip->setContentsMargins(4, 0, 0, 0);
    strip->addWidget(m_countLabel, 1);
    strip->addWidget(Line(QFrame::VLine));
    strip->addWidget(m_selectedLabel, 1);
    strip->addWidget(Line(QFrame::VLine));
    strip->addWidget(m_progress, 1);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 4);
    page->setSpacing(6);
    page->addLayout(top);
    page->addWidget(m_list, 1);
    page->addLayout(middle);
    page->addWidget(Line(QFrame::HLine));
    page->addLayout(strip);
    page->setSizeConstraint(QLayout::SetFixedSize);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("listMenu"));
    m_actAddFiles = m_menu->addAction(QStringLiteral("Add File(s)..."));
    m_actAddFolder = m_menu->addAction(QStringLiteral("Add Folder..."));
    m_menu->addSeparator();
    m_actDelete = m_menu->addAction(QStringLiteral("Delete Selected Items            Del"));
    m_actClearAll = m_menu->addAction(QStringLiteral("Clear All Items"));
    m_menu->addSeparator();
    m_actViewOriginal = m_menu->addAction(QStringLiteral("View Original File"));
    m_actAddFiles->setObjectName(QStringLiteral("actionAddFiles"));
    m_actAddFolder->setObjectName(QStringLiteral("actionAddFolder"));
    m_actDelete->setObjectName(QStringLiteral("actionDelete"));
    m_actClearAll->setObjectName(QStringLiteral("actionClearAll"));
    m_actViewOriginal->setObjectName(QStringLiteral("actionViewOriginal"));

    connect(m_addFiles, &QToolButton::clicked, this, &CConvertDlg::OnAddFiles);
    connect(m_addFolder, &QToolButton::clicked, this, &CConvertDlg::OnAddFolder);
    connect(m_remove, &QToolButton::clicked, this, &CConvertDlg::RemoveSelected);
    connect(m_settingsButton, &QToolButton::clicked, this, &CConvertDlg::OnSettings);
    connect(m_about, &QToolButton::clicked, this, &CConvertDlg::OnAbout);
    connect(m_startStop, &QToolButton::clicked, this, &CConvertDlg::OnStartStop);
    connect(m_browse, &QPushButton::clicked, this, &CConvertDlg::OnBrowse);
    connect(m_explore, &QPushButton::clicked, this, &CConvertDlg::OnExplore);
    connect(m_modeList, &QComboBox::activated, this, &CConvertDlg::OnOutputModeChanged);
    connect(m_list, &CFileListView::listClicked, this, &CConvertDlg::OnListClick);
    connect(m_list, &CFileListView::listRightClicked, this, &CConvertDlg::OnListRightClick);
    connect(m_list, &CFileListView::deletePressed, this, &CConvertDlg::RemoveSelected);
    connect(m_list, &CFileListView::selectAllPressed, this, &CConvertDlg::OnListSelectAll);
    connect(m_actAddFiles, &QAction::triggered, this, &CConvertDlg::OnAddFiles);
    connect(m_actAddFolder, &QAction::triggered, this, &CConvertDlg::OnAddFolder);
    connect(m_actDelete, &QAction::triggered, this, &CConvertDlg::RemoveSelected);
    connect(m_actClearAll, &QAction::triggered, this, &CConvertDlg::ClearAll);
    connect(m_actViewOriginal, &QAction::triggered, this, &CConvertDlg::OnViewOriginalFile);
}

bool CConvertDlg::OnInitDialog() {
    setWindowIcon(m_appIcon);
    m_renderer = std::make_unique<varnel::Renderer>();
    if (!m_renderer->LoadRenderer(m_rendererPath)) {
        ShowRendererFailed();
        return false;
    }
    m_profilePath = varnel::ProfilePath();

    m_addFiles->setIcon(LoadSvgIcon(QStringLiteral(":/icons/addfile.svg")));
    m_addFolder->setIcon(LoadSvgIcon(QStringLiteral(":/icons/addfolder.svg")));
    m_remove->setIcon(LoadSvgIcon(QStringLiteral(":/icons/remove.svg")));
    m_settingsButton->setIcon(LoadSvgIcon(QStringLiteral(":/icons/settings.svg")));
    m_about->setIcon(LoadSvgIcon(QStringLiteral(":/icons/about.svg")));
    m_startStop->setIcon(m_startIcon);
    m_startStop->setIconLayout(CIconButton::IconAbove);

    setWindowTitle(QString::fromLatin1(kTitle));

    QHeaderView* header = m_list->horizontalHeader();
    header->resizeSection(CInputListModel::ColFiles, kFilesWidth);
    header->resizeSection(CInputListModel::ColSize, kSizeWidth);
    header->resizeSection(CInputListModel::ColStatus, kStatusWidth);

    const varnel::WindowSettings window = varnel::LoadWindowSettings(m_profilePath);
    // A stored index the list does not hold would leave the run without a
    // format; it means the first entry instead.
    m_formatIndex = window.type >= 0 && window.type < varnel::kFormatCount ? window.type : 0;
    m_outputMode = window.mode == 0 ? 0 : 1;
    m_outputFolder = QByteArray::fromStdString(window.output);
    m_outputEdit->setText(QFile::decodeName(m_outputFolder));
    UpdateListsFromData();

    UpdateDataFromLists();
    m_settings = varnel::LoadSettings(m_profilePath);
    UpdateListsFromData();
    OnOutputModeChanged();

    m_runner = std::make_unique<varnel::Runner>(*this, *m_renderer,
                                                m_api ? *m_api : varnel::EngineConverterApi());
    m_initialised = true;
    return true;
}

void CConvertDlg::UpdateDataFromLists() {
    m_formatIndex = m_formatList->currentIndex();
    m_outputMode = m_modeList->currentIndex();
}

void CConvertDlg::UpdateListsFromData() {
    m_formatList->setCurrentIndex(m_formatIndex);
    m_modeList->setCurrentIndex(m_outputMode);
}

bool CConvertDlg::IsRunning() const {
    return m_runner && m_runner->IsRunning();
}

// ---------------------------------------------------------------- labels and buttons

void CConvertDlg::SetCountLabel(int count) {
    m_countLabel->setText(QStringLiteral("Files Count: %1").arg(count));
}

void CConvertDlg::SetSelectedCount(int count) {
    m_selectedLabel->setText(QStringLiteral("Selected: %1").arg(count));
}

void CConvertDlg::EnableListButtons(bool enable) {
    m_remove->setEnabled(enable);
    m_startStop->setEnabled(enable);
}

int CConvertDlg::SelectedRowCount() const {
    return static_cast<int>(m_list->selectionModel()->selectedRows().size());
}

void CConvertDlg::FinishAdding() {
    if (m_model->rowCount() == 0) return;
    SetCountLabel(m_model->rowCount());
    SetSelectedCount(1);
    SelectOnlyItem(0);
    EnableListButtons(true);
}

// ---------------------------------------------------------------- input list

void CConvertDlg::AddFileToList(const QByteArray& path) {
    const std::string bytes = path.toStdString();
    if (!varnel::IsAcceptedInput(bytes)) return;
    const QString size = QStringLiteral("%1 KB").arg(varnel::FileSizeKB(bytes));
    const int row = m_model->AppendRow(path, size, QStringLiteral("Ready"));
    SelectOnlyItem(row);
}

void CConvertDlg::AddFolderFiles(const QByteArray& folder) {
    QByteArray path = folder;
    if (!path.endsWith('/')) path += '/';
    // A folder that cannot be listed changes nothing; an empty one lists
    // nothing either, which has the same effect.
    DIR* probe = ::opendir(path.constData());
    if (!probe) return;
    ::closedir(probe);
    const std::vector<std::string> files = varnel::FolderFiles(path.toStdString());
    setEnabled(false);
    for (const std::string& file : files) AddFileToList(QByteArray::fromStdString(file));
    setEnabled(true);
    FinishAdding();
}

void CConvertDlg::AddDroppedFiles(const QList<QByteArray>& paths) {
    if (IsRunning() || paths.isEmpty()) return;
    setEnabled(false);
    for (const QByteArray& path : paths)
        if (ExistsBytes(path) && !IsFolderBytes(path)) AddFileToList(path);
    setEnabled(true);
    // A drop leaves the two labels as they were; they catch up at the next
    // operation that sets them.
    if (m_model->rowCount() > 0) {
        SelectOnlyItem(0);
        EnableListButtons(true);
    }
}

void CConvertDlg::RemoveSelected() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(selected.size()));
    for (const QModelIndex& index : selected) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    const int lowest = rows.back();
    m_model->RemoveRowsDescending(rows);
    const int remaining = m_model->rowCount();
    SetCountLabel(remaining);
    if (remaining > 0) {
        SelectOnlyItem(lowest > 0 ? lowest - 1 : 0);
        SetSelectedCount(1);
    } else {
        EnableListButtons(false);
        SetSelectedCount(0);
    }
}

void CConvertDlg::ClearAll() {
    if (m_model->rowCount() == 0) return;
    m_model->Clear();
    EnableListButtons(false);
    SetCountLabel(0);
    SetSelectedCount(0);
}

QList<QByteArray> CConvertDlg::ChooseFiles(const QByteArray& startAt) {
    QFileDialog dialog(this, QString::fromLatin1(kTitle));
    dialog.setObjectName(QStringLiteral("addFilesDialog"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QStringLiteral("All Supported Formats(*.pcl *.pxl *.px3)"),
                           QStringLiteral("PCL Files (*.pcl)"), QStringLiteral("PXL Files (*.pxl)"),
                           QStringLiteral("PX3 Files (*.px3)"), QStringLiteral("All Files (*)")});
    // The key holds the last file added; start in its folder with it chosen.
    const QString start = QFile::decodeName(startAt);
    if (IsFolderBytes(startAt)) {
        dialog.setDirectory(start);
    } else if (!startAt.isEmpty()) {
        const QFileInfo info(start);
        dialog.setDirectory(info.absolutePath());
        if (ExistsBytes(startAt)) dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    QList<QByteArray> paths;
    for (const QString& file : dialog.selectedFiles()) paths.append(RawPathFromText(file));
    return paths;
}

QByteArray CConvertDlg::ChooseFolder(const QString& caption, const QByteArray& startAt) {
    const QString folder = QFileDialog::getExistingDirectory(
        this, caption, QFile::decodeName(startAt), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return {};
    return RawPathFromText(folder);
}

void CConvertDlg::OpenWithDesktop(const QByteArray& path) {
    // Failures are the desktop's to show; nothing here waits or checks.
    QDesktopServices::openUrl(UrlFromRawPath(path));
}

void CConvertDlg::ShowRendererFailed() {
    QMessageBox::critical(this, QString::fromLatin1(kTitle),
                          QString::fromLatin1(varnel::kLoadRendererFailed));
}

void CConvertDlg::OnAddFiles() {
    if (IsRunning()) return;
    const QByteArray start = QByteArray::fromStdString(varnel::LoadAddFile(m_profilePath));
    AddChosenFiles(ChooseFiles(start));
}

void CConvertDlg::AddChosenFiles(const QList<QByteArray>& files) {
    if (files.isEmpty()) return;
    setEnabled(false);
    for (const QByteArray& file : files) {
        AddFileToList(file);
        // Let the list grow visibly while a long selection is added.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    varnel::SaveAddFile(m_profilePath, files.last().toStdString());
    setEnabled(true);
    FinishAdding();
}

void CConvertDlg::OnAddFolder() {
    if (IsRunning()) return;
    const QByteArray folder = ChooseFolder(QStringLiteral("Select folder:"),
                                           QByteArray::fromStdString(varnel::HomeFolder()));
    if (!folder.isEmpty()) AddFolderFiles(folder);
}

void CConvertDlg::OnViewOriginalFile() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    int first = selected.front().row();
    for (const QModelIndex& index : selected) first = std::min(first, index.row());
    OpenWithDesktop(m_model->Path(first));
}

void CConvertDlg::OnListClick() {
    if (IsRunning() || m_model->rowCount() == 0) return;
    const int count = SelectedRowCount();
    SetSelectedCount(count);
    m_remove->setEnabled(count > 0);
}

void CConvertDlg::OnListRightClick(const QPoint& globalPos) {
    if (IsRunning()) return;
    const int count = SelectedRowCount();
    SetSelectedCount(count);
    m_remove->setEnabled(count > 0);
    m_actDelete->setEnabled(count > 0);
    m_actViewOriginal->setEnabled(count > 0);
    m_actClearAll->setEnabled(m_model->rowCount() > 0);
    m_menu->popup(globalPos);
}

void CConvertDlg::OnListSelectAll() {
    if (IsRunning()) return;
    m_list->selectAll();
    m_remove->setEnabled(m_model->rowCount() > 0);
    SetSelectedCount(m_model->rowCount());
}

// ---------------------------------------------------------------- output choices and commands

void CConvertDlg::OnOutputModeChanged() {
    UpdateDataFromLists();
    const bool specified = m_outputMode == 1;
    m_browse->setEnabled(specified);
    m_explore->setEnabled(specified);
    m_outputEdit->setText(specified ? QFile::decodeName(m_outputFolder) : QString());
}

void CConvertDlg::OnBrowse() {
    QByteArray folder =
        ChooseFolder(QStringLiteral("Please select an output folder..."), m_outputFolder);
    if (folder.isEmpty()) return;
    if (!folder.endsWith('/')) folder += '/';
    m_outputFolder = folder;
    m_outputEdit->setText(QFile::decodeName(folder));
}

void CConvertDlg::OnExplore() {
    // The field shows the folder only in mode 1; an empty field opens nothing.
    if (m_outputEdit->text().isEmpty()) return;
    OpenWithDesktop(m_outputFolder);
}

void CConvertDlg::OnAbout() {
    const QByteArray help = QByteArray::fromStdString(varnel::ModuleFilePath("help.html"));
    if (IsRunning()) {
        OpenWithDesktop(help);
        return;
    }
    CAboutDlg about(
        m_appIcon, [this, help] { OpenWithDesktop(help); }, this);
    about.exec();
}

void CConvertDlg::OnSettings() {
    if (IsRunning()) return;
    if (RunSettingsDialog(this, m_settings, m_profilePath)) {
        UpdateDataFromLists();
        m_settings = varnel::LoadSettings(m_profilePath);
    }
}

void CConvertDlg::OnStartStop() {
    if (!m_runner) return;
    UpdateDataFromLists();
    m_runner->StartStop(m_formatIndex, m_outputMode, m_settings, m_outputFolder.toStdString());
}

// ---------------------------------------------------------------- runner's view

template <class F> void CConvertDlg::OnWindowThread(F&& f) {
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

int CConvertDlg::RowCount() {
    int count = 0;
    OnWindowThread([&] { count = m_model->rowCount(); });
    return count;
}

std::string CConvertDlg::RowPath(int row) {
    std::string path;
    OnWindowThread([&] { path = m_model->Path(row).toStdString(); });
    return path;
}

void CConvertDlg::SetRowStatus(int row, const std::string& status) {
    OnWindowThread([&] { m_model->SetStatus(row, QString::fromStdString(status)); });
}

void CConvertDlg::SelectOnlyItem(int row) {
    OnWindowThread([&] {
        QItemSelectionModel* selection = m_list->selectionModel();
        if (row < 0 || row >= m_model->rowCount()) {
            selection->clearSelection();
            return;
        }
        const QModelIndex index = m_model->index(row, 0);
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->setFocus();
        m_list->scrollTo(index);
    });
}

void CConvertDlg::SetProgress(int position) {
    OnWindowThread([&] { m_progress->setValue(position); });
}

void CConvertDlg::SetSelectedLabel(const std::string& text) {
    OnWindowThread([&] { m_selectedLabel->setText(QString::fromStdString(text)); });
}

void CConvertDlg::SetStartStopButton(const std::string& text, bool running) {
    OnWindowThread([&] {
        m_startStop->setText(QString::fromStdString(text));
        m_startStop->setIcon(running ? m_stopIcon : m_startIcon);
    });
}

void CConvertDlg::EnableControls(bool enable) {
    OnWindowThread([&] {
        m_progress->setVisible(!enable);
        for (QWidget* w : {static_cast<QWidget*>(m_addFiles), static_cast<QWidget*>(m_addFolder),
                           static_cast<QWidget*>(m_remove), static_cast<QWidget*>(m_settingsButton),
                           static_cast<QWidget*>(m_formatList), static_cast<QWidget*>(m_modeList)})
            w->setEnabled(enable);
        if (m_outputMode == 1) m_browse->setEnabled(enable);
    });
}

// ---------------------------------------------------------------- events

void CConvertDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CConvertDlg::closeEvent(QCloseEvent* event) {
    if (IsRunning()) {
        event->ignore();
        return;
    }
    if (m_initialised) {
        UpdateDataFromLists();
        varnel::WindowSettings window;
        window.type = m_formatIndex;
        window.mode = m_outputMode;
        window.output = m_outputFolder.toStdString();
        varnel::SaveWindowSettings(m_profilePath, window);
        m_runner.reset();
        m_renderer->FreeRenderer();
        m_initialised = false;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CConvertDlg::dragEnterEvent(QDragEnterEvent* event) {
    // Refused during a run, so the pointer tells the user before the drop.
    if (!IsRunning() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CConvertDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!IsRunning() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CConvertDlg::dropEvent(QDropEvent* event) {
    if (IsRunning()) {
        event->ignore();
        return;
    }
    const QMimeData* mime = event->mimeData();
    QList<QByteArray> paths = LocalPathsFromUriList(mime->data(QStringLiteral("text/uri-list")));
    if (paths.isEmpty()) {
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) paths.append(QFile::encodeName(url.toLocalFile()));
    }
    event->acceptProposedAction();
    AddDroppedFiles(paths);
}
