#include "PagePreview.h"

#include "Renderer.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <sys/stat.h>

namespace {

constexpr int kThumbWidth = 120;
constexpr int kTitleRole = Qt::UserRole + 2; // the larger view's title
constexpr int kThumbHeight = 170;            // A4 at the width above
constexpr size_t kCacheInputs = 6;
constexpr int kPollMs = 40;
const char* const kPageBase = "page";

QString Pages(int n) {
    return n == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(n);
}

// Page number of "page_NNN.bmp"; 0 for anything else (temporary files of the
// renderer start with a dot and are skipped).
int PageNumber(const QString& name) {
    if (name.startsWith(QLatin1Char('.')) || !name.endsWith(QLatin1String(".bmp"))) return 0;
    const qsizetype underscore = name.lastIndexOf(QLatin1Char('_'));
    if (underscore < 0) return 0;
    bool ok = false;
    const int n = name.mid(underscore + 1, name.size() - underscore - 5).toInt(&ok);
    return ok && n > 0 ? n : 0;
}

} // namespace

struct CPagePreview::Job {
    enum Kind { Render, Load } kind = Render;
    QByteArray input;
    QByteArray key;
    QList<QByteArray> files; // Load: the files to read

    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};

    // Render: guarded by mutex until done.
    std::mutex mutex;
    bool started = false;
    std::string previousFolder; // the binding's folder before this render
    std::string folder;         // known for certain once done
    int result = 0;

    // Load: filled by the worker before done.
    QList<QImage> thumbs;
};

CPagePreview::CPagePreview(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pagePreview"));
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("previewTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    m_tiles = new QListWidget(this);
    m_tiles->setObjectName(QStringLiteral("previewTiles"));
    m_tiles->setViewMode(QListView::IconMode);
    m_tiles->setIconSize(QSize(kThumbWidth, kThumbHeight));
    m_tiles->setGridSize(QSize(kThumbWidth + 16, kThumbHeight + 2 * fontMetrics().height()));
    m_tiles->setResizeMode(QListView::Adjust);
    m_tiles->setMovement(QListView::Static);
    m_tiles->setWrapping(true);
    m_tiles->setUniformItemSizes(true);
    m_tiles->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tiles->setMinimumWidth(2 * (kThumbWidth + 16) + 2 * m_tiles->frameWidth() +
                             style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_title);
    layout->addWidget(m_tiles, 1);

    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &CPagePreview::Poll);
    connect(m_tiles, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowLarge(m_tiles->row(item)); });
    ShowNote(QStringLiteral("Select a file to see its pages."));
}

CPagePreview::~CPagePreview() {
    CancelCurrent();
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_pending.reset();
        m_loads.clear();
    }
    m_wake.notify_all();
    m_loadWake.notify_all();
    if (m_worker.joinable()) m_worker.join();
    if (m_loader.joinable()) m_loader.join();
    for (const QString& folder : m_trash) QDir(folder).removeRecursively();
    for (const CacheEntry& entry : m_cache) QDir(entry.folder).removeRecursively();
}

bool CPagePreview::Bind(const char* rendererPath) {
    m_renderer = std::make_unique<varnel::Renderer>();
    if (!m_renderer->LoadRenderer(rendererPath)) {
        m_renderer.reset();
        return false;
    }
    m_worker = std::thread([this] { WorkerLoop(); });
    m_loader = std::thread([this] { LoaderLoop(); });
    return true;
}

// ---------------------------------------------------------------- worker thread

void CPagePreview::WorkerLoop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_pending || !m_trash.empty(); });
            if (m_quit) return;
            if (!m_trash.empty()) {
                // Deleting a folder of many pages takes long enough to be
                // felt on the window thread, so it happens here.
                const QString folder = m_trash.back();
                m_trash.pop_back();
                lock.unlock();
                QDir(folder).removeRecursively();
                continue;
            }
            job = std::move(m_pending);
        }
        if (job->kind == Job::Render) {
            {
                std::lock_guard lock(job->mutex);
                if (job->cancelled) continue;
                job->started = true;
                job->previousFolder = m_renderer->PageFolder();
            }
            const int result =
                m_renderer->RenderPages(job->input.toStdString(), kPageBase, kDpi, kDpi);
            std::lock_guard lock(job->mutex);
            job->folder = m_renderer->PageFolder();
            job->result = result;
            if (job->cancelled && !job->folder.empty()) {
                // Both the folder and the place a cancel moved it to.
                std::string base = job->folder;
                base.pop_back();
                QDir(QFile::decodeName(QByteArray::fromStdString(base))).removeRecursively();
                QDir(QFile::decodeName(QByteArray::fromStdString(base + "-cancelled")))
                    .removeRecursively();
            }
        } else {
            for (const QByteArray& file : job->files) {
                if (job->cancelled) break;
                QImageReader reader(QFile::decodeName(file));
                QImage thumb;
                if (reader.canRead()) {
                    const QSize size = reader.size();
                    // Decoders that can scale while decoding (JPEG) do so.
                    if (size.isValid())
                        reader.setScaledSize(
                            size.scaled(kThumbWidth * 2, kThumbHeight * 2, Qt::KeepAspectRatio));
                    thumb = Thumbnail(reader.read());
                }
                job->thumbs.append(thumb);
            }
        }
        job->done = true;
        QMetaObject::invokeMethod(
            this, [this, job] { FinishRender(job); }, Qt::QueuedConnection);
    }
}

void CPagePreview::LoaderLoop() {
    for (;;) {
        Load load;
        {
            std::unique_lock lock(m_mutex);
            m_loadWake.wait(lock, [this] { return m_quit || !m_loads.empty(); });
            if (m_quit) return;
            load = std::move(m_loads.front());
            m_loads.pop_front();
        }
        if (load.job->cancelled) continue;
        QImage thumb = Thumbnail(QImage(load.file));
        QMetaObject::invokeMethod(
            this, [this, job = load.job, thumb] { OnThumb(job, thumb); }, Qt::QueuedConnection);
    }
}

// ---------------------------------------------------------------- window thread

void CPagePreview::Submit(std::shared_ptr<Job> job) {
    m_current = job;
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(job);
    }
    m_wake.notify_one();
}

void CPagePreview::CancelCurrent() {
    m_poll->stop();
    if (!m_current) return;
    std::shared_ptr<Job> job = std::move(m_current);
    std::lock_guard lock(job->mutex);
    job->cancelled = true;
    if (job->kind != Job::Render || !job->started || job->done || !m_renderer) return;
    const std::string folder = m_renderer->PageFolder();
    if (folder.empty() || folder == job->previousFolder) return;
    // The renderer writes each page under a temporary name in its folder; with
    // the folder gone, the next page fails and the render ends early.
    std::string base = folder;
    base.pop_back();
    ::rename(base.c_str(), (base + "-cancelled").c_str());
}

QByteArray CPagePreview::CacheKey(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return {};
    return path + '\0' + QByteArray::number(qint64(st.st_size)) + '\0' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec));
}

QImage CPagePreview::Thumbnail(const QImage& page) {
    if (page.isNull()) return {};
    QImage thumb =
        page.scaled(kThumbWidth, kThumbHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    // A frame, so that a white page shows as a page on a white list.
    QPainter painter(&thumb);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(0, 0, thumb.width() - 1, thumb.height() - 1);
    return thumb;
}

QString CPagePreview::ReasonText(int result) {
    switch (result) {
    case -1:
        return QStringLiteral("The file cannot be read.");
    case -2:
        return QStringLiteral("The file holds no PCL or PCL XL print job.");
    case -3:
        return QStringLiteral("The print job breaks off part-way.");
    case -4:
        return QStringLiteral("The pages could not be written to the temporary folder.");
    default:
        return QStringLiteral("The renderer found no page in the file.");
    }
}

QString CPagePreview::Outcome(const QString& name, int pages, int result) {
    if (pages == 0) return QStringLiteral("%1: no pages. %2").arg(name, ReasonText(result));
    if (result < 0) return QStringLiteral("%1: %2. %3").arg(name, Pages(pages), ReasonText(result));
    return QStringLiteral("%1: %2").arg(name, Pages(pages));
}

void CPagePreview::SetTitle(const QString& text) {
    m_title->setText(text);
}

void CPagePreview::ShowNote(const QString& text) {
    CancelCurrent();
    m_tiles->clear();
    m_shown.clear();
    SetTitle(text);
}

void CPagePreview::ShowInput(const QByteArray& path) {
    if (path == m_shown && m_current && m_current->kind == Job::Render) return;
    CancelCurrent();
    m_tiles->clear();
    m_shown = path;
    m_pageFiles.clear();
    m_thumbs.clear();
    m_allRequested = false;
    const QString name = QFileInfo(QFile::decodeName(path)).fileName();
    const QByteArray key = CacheKey(path);
    if (key.isEmpty()) {
        SetTitle(name);
        AddErrorTile(QStringLiteral("No preview"), ReasonText(-1));
        return;
    }
    auto cached = std::find_if(m_cache.begin(), m_cache.end(),
                               [&](const CacheEntry& e) { return e.key == key; });
    if (cached != m_cache.end()) {
        CacheEntry entry = *cached;
        m_cache.erase(cached);
        for (int i = 0; i < entry.thumbs.size(); ++i)
            AddPageTile(entry.thumbs[i], entry.files[i], i + 1);
        m_pageFiles = entry.files;
        m_thumbs = entry.thumbs;
        const int pages = static_cast<int>(entry.files.size());
        SetTitle(Outcome(name, pages, entry.result));
        if (entry.result < 0 || pages == 0)
            AddErrorTile(pages == 0 ? QStringLiteral("No preview")
                                    : QStringLiteral("Breaks off after page %1").arg(pages),
                         ReasonText(entry.result));
        m_cache.push_front(std::move(entry));
        return;
    }
    if (!m_renderer) {
        SetTitle(name);
        AddErrorTile(QStringLiteral("No preview"),
                     QString::fromLatin1(varnel::kLoadRendererFailed));
        return;
    }
    auto job = std::make_shared<Job>();
    job->kind = Job::Render;
    job->input = path;
    job->key = key;
    SetTitle(QStringLiteral("%1: rendering the pages...").arg(name));
    Submit(job);
    m_poll->start();
}

void CPagePreview::ShowOutputs(const QByteArray& input, const QList<QByteArray>& files) {
    CancelCurrent();
    m_tiles->clear();
    m_shown = input;
    m_pageFiles.clear();
    m_thumbs.clear();
    m_allRequested = false;
    if (!m_renderer) return;
    const QString name = QFileInfo(QFile::decodeName(input)).fileName();
    SetTitle(files.size() == 1 ? QStringLiteral("%1: 1 output file").arg(name)
                               : QStringLiteral("%1: %2 output files").arg(name).arg(files.size()));
    auto job = std::make_shared<Job>();
    job->kind = Job::Load;
    job->input = input;
    job->files = files;
    Submit(job);
}

void CPagePreview::Poll() {
    const std::shared_ptr<Job> job = m_current;
    if (!job || job->kind != Job::Render) {
        m_poll->stop();
        return;
    }
    std::string folder;
    bool finished = false; // read before listing: then every page is listed
    {
        std::lock_guard lock(job->mutex);
        if (job->done) {
            finished = true;
            folder = job->folder;
        } else if (job->started && m_renderer) {
            folder = m_renderer->PageFolder();
            if (folder == job->previousFolder) folder.clear();
        }
    }
    if (folder.empty()) return;
    const QString dirPath = QFile::decodeName(QByteArray::fromStdString(folder));
    QList<std::pair<int, QString>> pages;
    for (const QString& name : QDir(dirPath).entryList(QDir::Files)) {
        const int number = PageNumber(name);
        if (number > 0) pages.append({number, name});
    }
    std::sort(pages.begin(), pages.end());
    for (const auto& [number, name] : pages) {
        if (number <= m_pageFiles.size()) continue;
        if (number != m_pageFiles.size() + 1) break; // pages appear in order
        const QString file = dirPath + name;
        m_pageFiles.append(file);
        {
            std::lock_guard lock(m_mutex);
            m_loads.push_back({job, file});
        }
        m_loadWake.notify_one();
    }
    m_folderPath = dirPath;
    if (finished) {
        m_allRequested = true;
        m_poll->stop();
    }
    MaybeFinish();
}

void CPagePreview::OnThumb(const std::shared_ptr<Job>& job, const QImage& thumb) {
    if (job != m_current) return;
    const int index = static_cast<int>(m_thumbs.size());
    m_thumbs.append(thumb);
    AddPageTile(thumb, m_pageFiles.value(index), index + 1);
    MaybeFinish();
}

void CPagePreview::MaybeFinish() {
    const std::shared_ptr<Job> job = m_current;
    if (!job || job->kind != Job::Render || !m_allRequested || m_thumbs.size() < m_pageFiles.size())
        return;
    // Everything is on view: the outcome, and the folder becomes a cache entry.
    m_current.reset();
    const int count = static_cast<int>(m_pageFiles.size());
    const QString name = QFileInfo(QFile::decodeName(job->input)).fileName();
    SetTitle(Outcome(name, count, job->result));
    if (job->result < 0 || count == 0)
        AddErrorTile(count == 0 ? QStringLiteral("No preview")
                                : QStringLiteral("Breaks off after page %1").arg(count),
                     ReasonText(job->result));
    // A kept folder is the cache's, not an abandoned render's: without its
    // lock file, no sweep of abandoned page folders takes it.
    QFile::remove(m_folderPath + QLatin1String(varnel::kPageFolderLock));
    CacheEntry entry;
    entry.key = job->key;
    entry.folder = m_folderPath;
    entry.thumbs = m_thumbs;
    entry.files = m_pageFiles;
    entry.result = job->result;
    Remember(std::move(entry));
}

void CPagePreview::FinishRender(const std::shared_ptr<Job>& job) {
    if (job != m_current) return; // cancelled meanwhile
    if (job->kind == Job::Render) {
        Poll();
        return;
    }
    m_current.reset();
    for (int i = 0; i < job->files.size(); ++i)
        AddOutputTile(job->thumbs.value(i), QFile::decodeName(job->files[i]));
}

void CPagePreview::Remember(CacheEntry entry) {
    m_cache.push_front(std::move(entry));
    while (m_cache.size() > kCacheInputs) {
        {
            std::lock_guard lock(m_mutex);
            m_trash.push_back(m_cache.back().folder);
        }
        m_wake.notify_one();
        m_cache.pop_back();
    }
}

void CPagePreview::AddPageTile(const QImage& thumb, const QString& file, int number) {
    auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(thumb)), QString::number(number));
    item->setData(Qt::UserRole, file);
    item->setData(kTitleRole, QStringLiteral("Page %1 of the input").arg(number));
    item->setToolTip(QStringLiteral("Page %1 (double-click for a larger view)").arg(number));
    m_tiles->addItem(item);
    emit tileAdded(m_tiles->count());
}

void CPagePreview::AddOutputTile(const QImage& thumb, const QString& file) {
    const QString name = QFileInfo(file).fileName();
    QIcon icon;
    if (thumb.isNull())
        icon = style()->standardIcon(QStyle::SP_FileIcon);
    else
        icon = QIcon(QPixmap::fromImage(thumb));
    auto* item = new QListWidgetItem(icon, name);
    item->setData(Qt::UserRole, file);
    item->setData(kTitleRole, name);
    item->setToolTip(thumb.isNull() ? file + QStringLiteral("\n(no preview for this format)")
                                    : file);
    m_tiles->addItem(item);
    emit tileAdded(m_tiles->count());
}

void CPagePreview::AddErrorTile(const QString& text, const QString& why) {
    auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxWarning), text);
    item->setData(kErrorRole, true);
    item->setToolTip(why);
    m_tiles->addItem(item);
    emit tileAdded(m_tiles->count());
}

bool CPagePreview::IsBusy() const {
    return m_current != nullptr;
}

int CPagePreview::PageTiles() const {
    int n = 0;
    for (int i = 0; i < m_tiles->count(); ++i)
        if (!m_tiles->item(i)->data(kErrorRole).toBool()) ++n;
    return n;
}

void CPagePreview::ShowLarge(int tile) {
    QListWidgetItem* item = m_tiles->item(tile);
    if (!item || item->data(kErrorRole).toBool()) return;
    const QString file = item->data(Qt::UserRole).toString();
    QImageReader reader(file);
    // A page of a large output is read at screen size, not at print size.
    const QSize size = reader.size();
    const QSize room = screen() ? screen()->availableSize() * 0.85 : QSize(1000, 1000);
    if (size.isValid() && (size.width() > room.width() || size.height() > room.height()))
        reader.setScaledSize(size.scaled(room, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) return;

    QDialog view(this);
    view.setObjectName(QStringLiteral("pageViewer"));
    view.setWindowTitle(QStringLiteral("%1 - %2").arg(
        item->data(kTitleRole).toString(), QFileInfo(QFile::decodeName(m_shown)).fileName()));
    auto* label = new QLabel;
    label->setPixmap(QPixmap::fromImage(image));
    auto* scroll = new QScrollArea;
    scroll->setWidget(label);
    scroll->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(&view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    view.resize(image.size().boundedTo(room) + QSize(24, 24));
    view.exec();
}
