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
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kThumbWidth = 120;
constexpr int kTitleRole = Qt::UserRole + 2; // the larger view's title
constexpr int kPageRole = Qt::UserRole + 3;  // number of an input page; none for outputs
constexpr int kThumbHeight = 170;            // A4 at the width above
constexpr size_t kCacheInputs = 6;
constexpr int kPollMs = 40;
const char* const kPageBase = "page";

QString Pages(int n) {
    return n == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(n);
}

// Page folders the previews keep (cache entries, and evicted ones not yet
// deleted), for the exit on a signal. Folders of renders under way are the
// renderer binding's own to remove.
std::mutex g_keptMutex;
std::set<QString> g_kept;

void Keep(const QString& folder) {
    std::lock_guard lock(g_keptMutex);
    g_kept.insert(folder);
}

void RemoveKept(const QString& folder) {
    QDir(folder).removeRecursively();
    std::lock_guard lock(g_keptMutex);
    g_kept.erase(folder);
}

} // namespace

void CPagePreview::RemoveKeptFoldersForExit() {
    std::lock_guard lock(g_keptMutex);
    for (const QString& folder : g_kept) QDir(folder).removeRecursively();
    g_kept.clear();
}

struct CPagePreview::Job {
    enum Kind { Render, Load } kind = Render;
    QByteArray input;
    QByteArray key;
    QList<QByteArray> files; // Load: the files to read

    // Render: the binding it goes through, its resolution, and for the larger
    // view the one page wanted (0: every page, as thumbnails).
    varnel::Renderer* renderer = nullptr;
    int dpi = kDpi;
    int onlyPage = 0;
    qreal pixelRatio = 1;

    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};

    // Render: guarded by mutex.
    std::mutex mutex;
    bool started = false;
    std::string previousFolder; // the binding's folder before this render
    std::string folder;         // known for certain once done
    int result = 0;
    std::shared_ptr<void> folderLock; // a thumbnail render's, for the cache
    // Pages the watcher has read and the window thread has not yet taken.
    QStringList arrivedFiles;
    QList<QImage> arrivedImages;
    bool watchEnded = false; // no more pages will arrive
    bool posted = false;     // a call to the window thread is on its way

    int nextPage = 1; // the watcher's only

    // Load: filled by the worker before done.
    QList<QImage> thumbs;
};

namespace {

// The folder a render writes to: empty until the renderer has made it.
// Called with the job's mutex held.
template <class J> std::string LiveFolder(J& job) {
    if (job.done || !job.started) return job.folder;
    std::string folder = job.renderer->PageFolder();
    return folder == job.previousFolder ? std::string() : folder;
}

QString PageName(int number) {
    return QStringLiteral("%1_%2.bmp")
        .arg(QLatin1String(kPageBase))
        .arg(number, 3, 10, QLatin1Char('0'));
}

// The larger view; tells of each resize, so its page can follow the width.
class PageViewDialog : public QDialog {
public:
    using QDialog::QDialog;
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QDialog::resizeEvent(event);
        if (onResize) onResize();
    }
};

// Removes a render's folder and the name a cancel may have moved it to.
void RemoveRenderFolder(std::string folder) {
    folder.pop_back();
    QDir(QFile::decodeName(QByteArray::fromStdString(folder))).removeRecursively();
    QDir(QFile::decodeName(QByteArray::fromStdString(folder + "-cancelled"))).removeRecursively();
}

} // namespace

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

    m_flush = new QTimer(this);
    m_flush->setSingleShot(true);
    m_flush->setInterval(150);
    connect(m_flush, &QTimer::timeout, this, &CPagePreview::FlushTiles);
    connect(m_tiles, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowLarge(m_tiles->row(item)); });
    ShowNote(QStringLiteral("Select a file to see its pages."));
}

CPagePreview::~CPagePreview() {
    CancelCurrent();
    if (m_viewJob) CancelJob(m_viewJob);
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_thumbLane.pending.reset();
        m_viewLane.pending.reset();
        m_watched.clear();
    }
    m_wake.notify_all();
    m_watchWake.notify_all();
    for (Lane* lane : {&m_thumbLane, &m_viewLane})
        if (lane->thread.joinable()) lane->thread.join();
    if (m_watcher.joinable()) m_watcher.join();
    for (const QString& folder : m_trash) RemoveKept(folder);
    for (const CacheEntry& entry : m_cache) RemoveKept(entry.folder);
}

bool CPagePreview::Bind(const char* rendererPath) {
    for (Lane* lane : {&m_thumbLane, &m_viewLane}) {
        lane->renderer = std::make_unique<varnel::Renderer>();
        if (!lane->renderer->LoadRenderer(rendererPath)) {
            m_thumbLane.renderer.reset();
            m_viewLane.renderer.reset();
            return false;
        }
    }
    for (Lane* lane : {&m_thumbLane, &m_viewLane})
        lane->thread = std::thread([this, lane] { WorkerLoop(*lane); });
    m_watcher = std::thread([this] { WatchLoop(); });
    return true;
}

// ---------------------------------------------------------------- background threads

void CPagePreview::WorkerLoop(Lane& lane) {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || lane.pending || !m_trash.empty(); });
            if (m_quit) return;
            if (!m_trash.empty()) {
                // Deleting a folder of many pages takes long enough to be
                // felt on the window thread, so it happens here.
                const QString folder = m_trash.back();
                m_trash.pop_back();
                lock.unlock();
                RemoveKept(folder);
                continue;
            }
            job = std::move(lane.pending);
        }
        if (job->kind == Job::Render) {
            RenderJob(lane, job);
            continue;
        }
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
        job->done = true;
        QMetaObject::invokeMethod(
            this, [this, job] { FinishLoad(job); }, Qt::QueuedConnection);
    }
}

void CPagePreview::RenderJob(Lane& lane, const std::shared_ptr<Job>& job) {
    {
        std::lock_guard lock(job->mutex);
        if (job->cancelled) return;
        job->started = true;
        job->previousFolder = lane.renderer->PageFolder();
    }
    // The pages before the wanted one are read but neither drawn nor written.
    varnel::PageCanvas canvas;
    if (job->onlyPage > 0)
        canvas.switches.push_back("-dTarvikFirstPage=" + std::to_string(job->onlyPage));
    lane.renderer->SetCanvas(canvas);
    const int result =
        lane.renderer->RenderPages(job->input.toStdString(), kPageBase, job->dpi, job->dpi);
    std::shared_ptr<void> folderLock;
    if (job->onlyPage == 0) {
        const int fd = lane.renderer->ReleasePageFolderLock();
        if (fd >= 0) folderLock = std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
    }
    std::string cancelledFolder;
    {
        std::lock_guard lock(job->mutex);
        job->folderLock = std::move(folderLock);
        job->folder = lane.renderer->PageFolder();
        job->result = result;
        job->done = true;
        if (job->cancelled) cancelledFolder = job->folder;
    }
    if (!cancelledFolder.empty()) RemoveRenderFolder(cancelledFolder);
    {
        std::lock_guard lock(m_mutex);
        ++m_watchChanges;
    }
    m_watchWake.notify_one();
}

void CPagePreview::WatchLoop() {
    for (;;) {
        std::vector<std::shared_ptr<Job>> jobs;
        unsigned changes = 0;
        {
            std::unique_lock lock(m_mutex);
            m_watchWake.wait(lock, [this] { return m_quit || !m_watched.empty(); });
            if (m_quit) return;
            jobs = m_watched;
            changes = m_watchChanges;
        }
        bool progressed = false;
        for (const std::shared_ptr<Job>& job : jobs) {
            const Step step = job->cancelled ? Step::Ended : WatchStep(job);
            if (step == Step::Ended) {
                std::lock_guard lock(m_mutex);
                std::erase(m_watched, job);
            }
            progressed |= step != Step::Nothing;
        }
        if (progressed) continue;
        // Nothing new: look again shortly, or when a render ends.
        std::unique_lock lock(m_mutex);
        m_watchWake.wait_for(lock, std::chrono::milliseconds(kPollMs),
                             [&] { return m_quit || m_watchChanges != changes; });
    }
}

CPagePreview::Step CPagePreview::WatchStep(const std::shared_ptr<Job>& job) {
    std::string folder;
    bool finished = false; // read before looking: then every page is seen
    {
        std::lock_guard lock(job->mutex);
        finished = job->done;
        folder = LiveFolder(*job);
    }
    const int number = job->onlyPage > 0 ? job->onlyPage : job->nextPage;
    QString file;
    QImage image;
    if (!folder.empty()) {
        file = QFile::decodeName(QByteArray::fromStdString(folder)) + PageName(number);
        if (QFileInfo::exists(file)) image = QImage(file);
    }
    if (image.isNull() && !finished) return Step::Nothing; // not there, or not complete
    if (image.isNull() && !QFileInfo::exists(file)) {
        Deliver(job, {}, {}, true);
        return Step::Ended;
    }
    if (job->onlyPage > 0) {
        image = image.convertToFormat(QImage::Format_RGB32);
        image.setDevicePixelRatio(job->pixelRatio);
        Deliver(job, file, std::move(image), true);
        // The rest of the job is not wanted.
        CancelJob(job);
        return Step::Ended;
    }
    ++job->nextPage;
    Deliver(job, file, Thumbnail(image), false);
    return Step::Page;
}

void CPagePreview::Deliver(const std::shared_ptr<Job>& job, QString file, QImage image,
                           bool ended) {
    bool post = false;
    {
        std::lock_guard lock(job->mutex);
        if (!file.isEmpty()) {
            job->arrivedFiles.append(std::move(file));
            job->arrivedImages.append(std::move(image));
        }
        job->watchEnded = job->watchEnded || ended;
        // One call takes every page that arrived until it runs.
        post = !job->posted;
        job->posted = true;
    }
    if (post)
        QMetaObject::invokeMethod(
            this, [this, job] { OnArrived(job); }, Qt::QueuedConnection);
}

void CPagePreview::CancelJob(const std::shared_ptr<Job>& job) {
    std::lock_guard lock(job->mutex);
    if (job->cancelled.exchange(true)) return;
    if (job->kind != Job::Render || !job->started) return;
    if (job->done) {
        // The render has ended and its folder was not kept: the worker saw no
        // cancel, so the folder goes to the trash.
        if (!job->folder.empty()) {
            {
                std::lock_guard trash(m_mutex);
                m_trash.push_back(QFile::decodeName(QByteArray::fromStdString(job->folder)));
            }
            m_wake.notify_all();
        }
        return;
    }
    const std::string folder = LiveFolder(*job);
    if (folder.empty()) return;
    // The renderer writes each page under a temporary name in its folder; with
    // the folder gone, the next page fails and the render ends early.
    std::string base = folder;
    base.pop_back();
    ::rename(base.c_str(), (base + "-cancelled").c_str());
}

// ---------------------------------------------------------------- window thread

void CPagePreview::Submit(Lane& lane, std::shared_ptr<Job> job) {
    const bool watch = job->kind == Job::Render;
    {
        std::lock_guard lock(m_mutex);
        if (lane.pending) lane.pending->cancelled = true;
        lane.pending = job;
        if (watch) {
            m_watched.push_back(job);
            ++m_watchChanges;
        }
    }
    m_wake.notify_all();
    if (watch) m_watchWake.notify_one();
}

void CPagePreview::CancelCurrent() {
    m_flush->stop();
    m_watchEnded = false;
    if (!m_current) return;
    CancelJob(std::exchange(m_current, nullptr));
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
    m_tilesShown = 0;
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
        m_tilesShown = m_thumbs.size();
        const int pages = static_cast<int>(entry.files.size());
        SetTitle(Outcome(name, pages, entry.result));
        if (entry.result < 0 || pages == 0)
            AddErrorTile(pages == 0 ? QStringLiteral("No preview")
                                    : QStringLiteral("Breaks off after page %1").arg(pages),
                         ReasonText(entry.result));
        m_cache.push_front(std::move(entry));
        return;
    }
    if (!m_thumbLane.renderer) {
        SetTitle(name);
        AddErrorTile(QStringLiteral("No preview"),
                     QString::fromLatin1(varnel::kLoadRendererFailed));
        return;
    }
    auto job = std::make_shared<Job>();
    job->kind = Job::Render;
    job->input = path;
    job->key = key;
    job->renderer = m_thumbLane.renderer.get();
    SetTitle(QStringLiteral("%1: rendering the pages...").arg(name));
    m_current = job;
    Submit(m_thumbLane, std::move(job));
}

void CPagePreview::ShowOutputs(const QByteArray& input, const QList<QByteArray>& files) {
    CancelCurrent();
    m_tiles->clear();
    m_shown = input;
    m_pageFiles.clear();
    m_thumbs.clear();
    m_tilesShown = 0;
    if (!m_thumbLane.renderer) return;
    const QString name = QFileInfo(QFile::decodeName(input)).fileName();
    SetTitle(files.size() == 1 ? QStringLiteral("%1: 1 output file").arg(name)
                               : QStringLiteral("%1: %2 output files").arg(name).arg(files.size()));
    auto job = std::make_shared<Job>();
    job->kind = Job::Load;
    job->input = input;
    job->files = files;
    m_current = job;
    Submit(m_thumbLane, std::move(job));
}

void CPagePreview::OnArrived(const std::shared_ptr<Job>& job) {
    if (job != m_current && job != m_viewJob) return; // cancelled meanwhile
    QStringList files;
    QList<QImage> images;
    bool ended = false;
    {
        std::lock_guard lock(job->mutex);
        files.swap(job->arrivedFiles);
        images.swap(job->arrivedImages);
        ended = job->watchEnded;
        job->posted = false;
    }
    if (job == m_viewJob) {
        if (!images.isEmpty() && !images.front().isNull()) {
            m_viewPage->setPixmap(QPixmap::fromImage(std::move(images.front())));
            m_viewStatus->setText(QStringLiteral("Rendered at %1 dpi.").arg(job->dpi));
        } else if (ended) {
            m_viewStatus->setText(QStringLiteral("The page could not be rendered again; "
                                                 "this is the preview's page, enlarged."));
        }
        return;
    }
    m_pageFiles += files;
    m_thumbs += images;
    m_watchEnded = ended;
    // The first page at once; later ones in batches, since every added tile
    // repaints the list and its scroll bar.
    if (m_tilesShown == 0)
        FlushTiles();
    else if (!m_flush->isActive())
        m_flush->start();
    MaybeFinish();
}

void CPagePreview::FlushTiles() {
    m_flush->stop();
    if (m_tilesShown >= m_thumbs.size()) return;
    m_tiles->setUpdatesEnabled(false);
    for (; m_tilesShown < m_thumbs.size(); ++m_tilesShown)
        AddPageTile(m_thumbs[m_tilesShown], m_pageFiles.value(m_tilesShown), m_tilesShown + 1);
    m_tiles->setUpdatesEnabled(true);
}

void CPagePreview::MaybeFinish() {
    const std::shared_ptr<Job> job = m_current;
    if (!job || job->kind != Job::Render || !m_watchEnded) return;
    // Everything is on view: the outcome, and the folder becomes a cache entry.
    m_current.reset();
    FlushTiles();
    const int count = static_cast<int>(m_pageFiles.size());
    const QString name = QFileInfo(QFile::decodeName(job->input)).fileName();
    SetTitle(Outcome(name, count, job->result));
    if (job->result < 0 || count == 0)
        AddErrorTile(count == 0 ? QStringLiteral("No preview")
                                : QStringLiteral("Breaks off after page %1").arg(count),
                     ReasonText(job->result));
    std::string folder;
    CacheEntry entry;
    {
        std::lock_guard lock(job->mutex);
        folder = job->folder;
        entry.folderLock = job->folderLock;
    }
    if (folder.empty()) return; // nothing was rendered, nothing to keep
    const QString folderPath = QFile::decodeName(QByteArray::fromStdString(folder));
    entry.key = job->key;
    entry.folder = folderPath;
    entry.thumbs = m_thumbs;
    entry.files = m_pageFiles;
    entry.result = job->result;
    Remember(std::move(entry));
}

void CPagePreview::FinishLoad(const std::shared_ptr<Job>& job) {
    if (job != m_current) return; // cancelled meanwhile
    m_current.reset();
    for (int i = 0; i < job->files.size(); ++i)
        AddOutputTile(job->thumbs.value(i), QFile::decodeName(job->files[i]));
}

void CPagePreview::Remember(CacheEntry entry) {
    Keep(entry.folder);
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
    item->setData(kPageRole, number);
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
    const int page = item->data(kPageRole).toInt();
    const QSize room = screen() ? screen()->availableSize() * 0.85 : QSize(1000, 1000);
    const qreal ratio = devicePixelRatioF();
    QImage image;
    std::shared_ptr<Job> job;
    if (page > 0) {
        // An input page fills the view's width (the view scrolls down); until
        // it has been rendered at that size, the preview's page stands in.
        const int width = room.width() - 24 - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const int dpi =
            std::clamp(int(width * ratio / varnel::PageCanvas{}.widthInches), kDpi, kMaxViewDpi);
        const varnel::PageCanvas a4;
        const QSize pixels(int(a4.widthInches * dpi), int(a4.heightInches * dpi));
        image = QImage(file).scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        image.setDevicePixelRatio(ratio);
        if (dpi > kDpi) job = ViewJob(page, dpi, ratio);
    } else {
        QImageReader reader(file);
        // A page of a large output is read at screen size, not at print size.
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > room.width() || size.height() > room.height()))
            reader.setScaledSize(size.scaled(room, Qt::KeepAspectRatio));
        image = reader.read();
    }
    if (image.isNull()) return;

    PageViewDialog view(this);
    view.setObjectName(QStringLiteral("pageViewer"));
    view.setWindowTitle(QStringLiteral("%1 - %2").arg(
        item->data(kTitleRole).toString(), QFileInfo(QFile::decodeName(m_shown)).fileName()));
    const QSize shown = image.deviceIndependentSize().toSize();
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("pageViewImage"));
    label->setPixmap(QPixmap::fromImage(std::move(image)));
    auto* scroll = new QScrollArea;
    scroll->setWidget(label);
    scroll->setAlignment(Qt::AlignCenter);
    auto* status = new QLabel(job ? QStringLiteral("Rendering the page at %1 dpi...").arg(job->dpi)
                                  : QString());
    status->setObjectName(QStringLiteral("pageViewStatus"));
    status->setContentsMargins(6, 0, 6, 4);
    status->setVisible(job != nullptr);
    auto* layout = new QVBoxLayout(&view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    layout->addWidget(status);
    view.resize(shown.boundedTo(room) + QSize(24 + style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                                              24 + status->sizeHint().height()));
    if (job) {
        m_viewJob = job;
        m_viewPage = label;
        m_viewStatus = status;
        Submit(m_viewLane, job);
    }
    // A view made clearly wider gets its page rendered again at the new
    // width, once the resizing has settled.
    QTimer settle;
    settle.setSingleShot(true);
    settle.setInterval(kViewSettleMs);
    connect(&settle, &QTimer::timeout, &view, [&, page, ratio] {
        if (!m_viewJob) return;
        const int dpi =
            std::clamp(int(scroll->viewport()->width() * ratio / varnel::PageCanvas{}.widthInches),
                       kDpi, kMaxViewDpi);
        const int shownDpi = m_viewJob->dpi;
        if (dpi < shownDpi + std::max(8, shownDpi / 8)) return;
        std::shared_ptr<Job> wider = ViewJob(page, dpi, ratio);
        if (!wider) return;
        CancelJob(m_viewJob);
        m_viewJob = wider;
        status->setText(QStringLiteral("Rendering the page at %1 dpi...").arg(dpi));
        Submit(m_viewLane, wider);
    });
    view.onResize = [&settle] { settle.start(); };
    view.exec();
    view.onResize = nullptr;
    settle.stop();
    if (m_viewJob) {
        CancelJob(m_viewJob);
        m_viewJob.reset();
        m_viewPage = nullptr;
        m_viewStatus = nullptr;
    }
}

std::shared_ptr<CPagePreview::Job> CPagePreview::ViewJob(int page, int dpi, qreal ratio) {
    if (!m_viewLane.renderer) return nullptr;
    auto job = std::make_shared<Job>();
    job->kind = Job::Render;
    job->input = m_shown;
    job->renderer = m_viewLane.renderer.get();
    job->dpi = dpi;
    job->onlyPage = page;
    job->pixelRatio = ratio;
    return job;
}
