#include "ConvertDlg.h"

#include "AboutDlg.h"
#include "FileListView.h"
#include "IconButton.h"
#include "InputFiles.h"
#include "InputListModel.h"
#include "OutputFormats.h"
#include "PagePreview.h"
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
#include <QShortcut>
#include <QSplitter>
#include <QSvgRenderer>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // A window of its own; it can be resized so the list and the preview
    // can use a large screen.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
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
    m_list->setMinimumSize(kFilesWidth + kSizeWidth + kStatusWidth + 20, 240);
    // Long paths lose their middle, where the folders that matter least are,
    // and only when the column is too narrow for them.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setWordWrap(false);

    m_preview = new CPagePreview(this);
    m_details = new QLabel;
    m_details->setObjectName(QStringLiteral("detailsPane"));
    m_details->setTextFormat(Qt::RichText);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_details->setFrameShape(QFrame::StyledPanel);
    m_details->setMargin(4);
    m_details->setMinimumHeight(4 * fontMetrics().height());
    m_openOutput = new QPushButton(QStringLiteral("Open Output Folder"));
    m_openOutput->setObjectName(QStringLiteral("openOutputButton"));
    m_openOutput->setAutoDefault(false);
    m_openOutput->setEnabled(false);
    m_pageLabel = new QLabel;
    m_pageLabel->setObjectName(QStringLiteral("pageLabel"));

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
    strip->addWidget(m_pageLabel);

    // The list and, beside it, the pages and the outcome of the chosen row.
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->setSpacing(4);
    sideLayout->addWidget(m_preview, 1);
    sideLayout->addWidget(m_details);
    sideLayout->addWidget(m_openOutput, 0, Qt::AlignRight);
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("listSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_list);
    splitter->addWidget(side);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 4);
    page->setSpacing(6);
    page->addLayout(top);
    page->addWidget(splitter, 1);
    page->addLayout(middle);
    page->addWidget(Line(QFrame::HLine));
    page->addLayout(strip);

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
    connect(m_openOutput, &QPushButton::clicked, this, &CConvertDlg::OnOpenOutputFolder);
    connect(m_outputEdit, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_outputFolder = QFile::encodeName(text); });

    // The selection moves in bursts (arrow keys held, Ctrl+A, a run); the
    // preview follows once it has settled.
    m_selectionSettle = new QTimer(this);
    m_selectionSettle->setSingleShot(true);
    m_selectionSettle->setInterval(60);
    connect(m_selectionSettle, &QTimer::timeout, this, &CConvertDlg::OnSelectionSettled);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, m_selectionSettle,
            qOverload<>(&QTimer::start));
    connect(m_model, &QAbstractItemModel::modelReset, m_selectionSettle,
            qOverload<>(&QTimer::start));

    auto shortcut = [this](QKeySequence keys, auto slot) {
        auto* s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), &CConvertDlg::OnAddFiles);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &CConvertDlg::OnAddFolder);
    shortcut(QKeySequence(Qt::Key_F1), &CConvertDlg::OnHelp);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &QWidget::close);
    shortcut(QKeySequence(Qt::Key_F5), [this] {
        if (!IsRunning() && m_startStop->isEnabled()) OnStartStop();
    });
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
    // The path column takes the spare width; the others keep what the user set.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(CInputListModel::ColFiles, QHeaderView::Stretch);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true); // the list view itself starts with them off
    m_list->setSortingEnabled(true);
    m_preview->Bind(m_rendererPath);

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
    RestoreLayout();
    UpdateDetails();
    m_initialised = true;
    return true;
}

void CConvertDlg::RestoreLayout() {
    const varnel::WindowLayout layout = varnel::LoadWindowLayout(m_profilePath);
    m_addFolderStart = QByteArray::fromStdString(layout.addFolder);
    const QList<QByteArray> widths = QByteArray::fromStdString(layout.columns).split(',');
    if (widths.size() == 2) {
        QHeaderView* header = m_list->horizontalHeader();
        const int columns[] = {CInputListModel::ColSize, CInputListModel::ColStatus};
        for (int i = 0; i < 2; ++i) {
            const int w = widths[i].trimmed().toInt();
            if (w >= 20 && w <= 2000) header->resizeSection(columns[i], w);
        }
    }
    const QByteArray geometry = QByteArray::fromHex(QByteArray::fromStdString(layout.geometry));
    // The first time, room for the list and two columns of pages.
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(sizeHint().expandedTo(QSize(1040, 700)));
}

void CConvertDlg::SaveLayout() {
    varnel::WindowLayout layout;
    layout.geometry = saveGeometry().toHex().toStdString();
    const QHeaderView* header = m_list->horizontalHeader();
    layout.columns = std::to_string(header->sectionSize(CInputListModel::ColSize)) + "," +
                     std::to_string(header->sectionSize(CInputListModel::ColStatus));
    layout.addFolder = m_addFolderStart.toStdString();
    varnel::SaveWindowLayout(m_profilePath, layout);
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
    // "All Supported" is the list a drop or a folder scan takes.
    QStringList patterns;
    for (const char* ext : varnel::kInputExtensions)
        patterns.append(QLatin1Char('*') + QLatin1String(ext));
    dialog.setNameFilters({QStringLiteral("All Supported Formats(%1)").arg(patterns.join(' ')),
                           QStringLiteral("PCL Files (*.pcl)"), QStringLiteral("PXL Files (*.pxl)"),
                           QStringLiteral("PX3 Files (*.px3)"),
                           QStringLiteral("HP-GL/2 Plot Files (*.plt *.hpg *.hpgl *.hp2)"),
                           QStringLiteral("All Files (*)")});
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
    // Nothing waits for the program that opens it; but when the desktop has
    // no program for it at all, the user hears why nothing happened.
    if (!QDesktopServices::openUrl(UrlFromRawPath(path)))
        ShowMessage(QStringLiteral("%1 cannot be opened: the desktop has no program set up "
                                   "to open it.")
                        .arg(QFile::decodeName(path)));
}

bool CConvertDlg::AskStopAndQuit() {
    return QMessageBox::question(this, QString::fromLatin1(kTitle),
                                 QStringLiteral("A conversion is running. Stop it and quit?"),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CConvertDlg::ShowMessage(const QString& text) {
    QMessageBox::warning(this, QString::fromLatin1(kTitle), text);
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
    const QByteArray start = m_addFolderStart.isEmpty()
                                 ? QByteArray::fromStdString(varnel::HomeFolder())
                                 : m_addFolderStart;
    const QByteArray folder = ChooseFolder(QStringLiteral("Select folder:"), start);
    if (folder.isEmpty()) return;
    m_addFolderStart = folder;
    AddFolderFiles(folder);
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
    m_outputEdit->setReadOnly(!specified);
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
    if (!IsFolderBytes(m_outputFolder)) {
        ShowMessage(QStringLiteral("The output folder %1 does not exist yet; it is made when "
                                   "a conversion starts.")
                        .arg(QFile::decodeName(m_outputFolder)));
        return;
    }
    OpenWithDesktop(m_outputFolder);
}

QByteArray CConvertDlg::ProgramFolder() const {
    return QByteArray::fromStdString(varnel::ModuleFilePath(""));
}

QByteArray CConvertDlg::HelpPagePath() const {
    for (const char* place : {"help.html", "../share/doc/varnel/help.html"}) {
        const QByteArray path = ProgramFolder() + place;
        if (ExistsBytes(path))
            return QFile::encodeName(
                QDir::cleanPath(QFileInfo(QFile::decodeName(path)).absoluteFilePath()));
    }
    return {};
}

void CConvertDlg::OnHelp() {
    const QByteArray help = HelpPagePath();
    if (help.isEmpty()) {
        ShowMessage(QStringLiteral("The help page help.html is missing; please reinstall."));
        return;
    }
    OpenWithDesktop(help);
}

void CConvertDlg::OnAbout() {
    if (IsRunning()) {
        OnHelp();
        return;
    }
    CAboutDlg about(
        m_appIcon, [this] { OnHelp(); }, this);
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
    if (!IsRunning() && m_outputMode == 1 && !CheckOutputFolder()) return;
    m_runner->StartStop(m_formatIndex, m_outputMode, m_settings, m_outputFolder.toStdString());
}

bool CConvertDlg::CheckOutputFolder() {
    // The field may have been typed or pasted into: a full path, "~/" for
    // the home folder, made now when missing, and writable.
    QString text = m_outputEdit->text().trimmed();
    if (text.isEmpty()) {
        ShowMessage(QStringLiteral("Please choose an output folder first."));
        return false;
    }
    if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/")))
        text = QString::fromStdString(varnel::HomeFolder()) + text.mid(1);
    if (!text.startsWith(QLatin1Char('/'))) {
        ShowMessage(QStringLiteral("The output folder \"%1\" is not a full path; it must "
                                   "start with \"/\".")
                        .arg(text));
        return false;
    }
    QByteArray folder = RawPathFromText(text);
    if (!folder.endsWith('/')) folder += '/';
    m_outputFolder = folder;
    m_outputEdit->setText(QFile::decodeName(folder));
    varnel::MakeDirs(folder.toStdString());
    if (!IsFolderBytes(folder) || ::access(folder.constData(), W_OK | X_OK) != 0) {
        ShowMessage(QStringLiteral("The output folder %1 cannot be made or written to.")
                        .arg(QFile::decodeName(folder)));
        return false;
    }
    return true;
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
    OnWindowThread([&] {
        m_model->SetStatus(row, QString::fromStdString(status));
        // A row that starts has no page counted yet.
        if (status == "Converting.") m_pageLabel->clear();
    });
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
        // The runner addresses rows by their place, so the order holds still
        // during a run, and so does the folder it writes to.
        m_list->horizontalHeader()->setSectionsClickable(enable);
        m_outputEdit->setReadOnly(!enable || m_outputMode != 1);
        m_pageLabel->clear();
    });
}

void CConvertDlg::RowFinished(int row, const varnel::RowReport& report) {
    OnWindowThread([&] {
        CInputListModel::Outcome outcome;
        outcome.reason = QString::fromStdString(report.reason);
        for (const std::string& w : report.warnings)
            outcome.warnings.append(QString::fromStdString(w));
        for (const std::string& o : report.outputs)
            outcome.outputs.append(QByteArray::fromStdString(o));
        outcome.pages = report.pagesRendered;
        m_model->SetOutcome(row, outcome);
        if (row == CurrentRow()) OnSelectionSettled();
    });
}

void CConvertDlg::SetPageProgress(int /*row*/, int page, int pages) {
    OnWindowThread(
        [&] { m_pageLabel->setText(QStringLiteral("page %1 of %2").arg(page).arg(pages)); });
}

// ---------------------------------------------------------------- details and preview

int CConvertDlg::CurrentRow() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.front().row() : -1;
}

void CConvertDlg::OnSelectionSettled() {
    UpdateDetails();
    const int row = CurrentRow();
    if (row < 0) {
        const auto selected = m_list->selectionModel()->selectedRows().size();
        m_preview->ShowNote(selected > 1 ? QStringLiteral("%1 files selected.").arg(selected)
                                         : QStringLiteral("Select a file to see its pages."));
        return;
    }
    const CInputListModel::Outcome* outcome = m_model->RowOutcome(row);
    const bool converted =
        outcome && !outcome->outputs.isEmpty() &&
        m_model->Text(row, CInputListModel::ColStatus) == QLatin1String("Succeed");
    if (converted)
        m_preview->ShowOutputs(m_model->Path(row), outcome->outputs);
    else
        m_preview->ShowInput(m_model->Path(row));
}

void CConvertDlg::UpdateDetails() {
    const int row = CurrentRow();
    m_openOutput->setEnabled(false);
    if (row < 0) {
        m_details->setText(QStringLiteral("<i>Select one file to see its details.</i>"));
        return;
    }
    const QString path = QFile::decodeName(m_model->Path(row));
    const QString status = m_model->Text(row, CInputListModel::ColStatus);
    QString html = QStringLiteral("<b>%1</b><br>%2<br>Status: %3")
                       .arg(QFileInfo(path).fileName().toHtmlEscaped(),
                            QFileInfo(path).path().toHtmlEscaped(), status.toHtmlEscaped());
    if (const CInputListModel::Outcome* o = m_model->RowOutcome(row)) {
        if (!o->reason.isEmpty())
            html += QStringLiteral("<br>Reason: %1").arg(o->reason.toHtmlEscaped());
        html += QStringLiteral("<br>Pages rendered: %1, output files: %2")
                    .arg(o->pages)
                    .arg(o->outputs.size());
        if (!o->warnings.isEmpty()) {
            html += QStringLiteral("<br>Warnings:<ul style=\"margin:0\">");
            for (const QString& w : o->warnings)
                html += QStringLiteral("<li>%1</li>").arg(w.toHtmlEscaped());
            html += QStringLiteral("</ul>");
        }
        m_openOutput->setEnabled(!o->outputs.isEmpty());
    }
    m_details->setText(html);
}

void CConvertDlg::OnOpenOutputFolder() {
    const int row = CurrentRow();
    const CInputListModel::Outcome* o = m_model->RowOutcome(row);
    if (!o || o->outputs.isEmpty()) return;
    const QByteArray& first = o->outputs.front();
    const QByteArray folder = first.left(first.lastIndexOf('/') + 1);
    if (!IsFolderBytes(folder)) {
        ShowMessage(QStringLiteral("The output folder %1 is gone.").arg(QFile::decodeName(folder)));
        return;
    }
    OpenWithDesktop(folder);
}

void CConvertDlg::AddArguments(const QList<QByteArray>& paths) {
    if (IsRunning() || paths.isEmpty()) return;
    setEnabled(false);
    for (const QByteArray& path : paths) {
        if (IsFolderBytes(path)) {
            QByteArray folder = path;
            if (!folder.endsWith('/')) folder += '/';
            for (const std::string& file : varnel::FolderFiles(folder.toStdString()))
                AddFileToList(QByteArray::fromStdString(file));
        } else if (ExistsBytes(path)) {
            AddFileToList(path);
        }
    }
    setEnabled(true);
    FinishAdding();
}

void CConvertDlg::BringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
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
        // The window outlives the run; with the user's consent the run is
        // stopped and the window closes once the worker has ended.
        event->ignore();
        if (m_quitAfterRun || !AskStopAndQuit()) return;
        m_quitAfterRun = true;
        m_runner->RequestStop();
        auto* wait = new QTimer(this);
        connect(wait, &QTimer::timeout, this, [this, wait] {
            if (IsRunning()) return;
            wait->deleteLater();
            close();
        });
        wait->start(50);
        return;
    }
    if (m_initialised) {
        SaveLayout();
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
