// Thumbnails of one input file's pages beside the list, so a user sees what a
// job holds before converting it, and of its output files after a run.
//
// The pages are rendered by a renderer binding of the preview's own, on a
// worker thread, at a low resolution, into a private page folder. A watcher
// thread picks up each page as it appears there and scales it to a tile, and
// the window thread only adds the finished tiles, a batch at a time, so the
// window never waits for either thread. Finished
// page folders stay as a cache of the last few inputs (keyed by path, size
// and modification time) and are deleted with the preview. Showing another
// file cancels the render in progress: its folder is moved away, so the
// renderer's next page write fails and the render ends there. The larger view
// of one page renders that page again, at the view's size, through a second
// binding, so it does not wait behind the thumbnails.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QTimer;

namespace varnel {
class Renderer;
}

class CPagePreview : public QWidget {
    Q_OBJECT
public:
    // Resolution of the preview pages, in dots per inch.
    static constexpr int kDpi = 60;
    // Item data role that marks an error tile (value true).
    static constexpr int kErrorRole = Qt::UserRole + 1;

    explicit CPagePreview(QWidget* parent = nullptr);
    ~CPagePreview() override;

    // Binds the renderer library (null: libtarvik.so by name). False when it
    // cannot be bound; the preview then only shows a note.
    bool Bind(const char* rendererPath);

    // Shows the pages of one input file, from the cache or rendered anew.
    void ShowInput(const QByteArray& path);
    // Shows output files of a run (the formats the toolkit can read; a named
    // tile for the others). Read on the worker thread.
    void ShowOutputs(const QByteArray& input, const QList<QByteArray>& files);
    // Shows a note instead of pages (no row, several rows).
    void ShowNote(const QString& text);

    // What is shown: the input whose pages (or outputs) are on view.
    const QByteArray& Shown() const { return m_shown; }
    bool IsBusy() const;
    int PageTiles() const;
    QListWidget* Tiles() const { return m_tiles; }

    // For a program ending on a signal: deletes the page folders every
    // preview keeps. Safe from any thread.
    static void RemoveKeptFoldersForExit();

    // Opens the larger view of one tile (a double-click on it). An input page
    // shows the preview's page scaled until it has been rendered again at
    // the view's size (again when the view is made clearly wider); closing
    // the view cancels that render.
    void ShowLarge(int tile);
    // The larger view's highest resolution: beyond it a page costs much and
    // shows nothing more on a screen.
    static constexpr int kMaxViewDpi = 200;
    // How long the larger view's size must hold before its page is rendered
    // again at the new width.
    static constexpr int kViewSettleMs = 300;

signals:
    // A tile was added to the view (for the speed figures).
    void tileAdded(int count);

private:
    struct Job;
    struct CacheEntry {
        QByteArray key;
        QString folder; // page files, "<folder>/<name>_NNN.bmp"
        QList<QImage> thumbs;
        QStringList files;
        int result = 0;
        // Holds the folder's lock while this process lives, so sweeps of
        // abandoned page folders pass it by, and take it after a crash.
        std::shared_ptr<void> folderLock;
    };

    // A renderer binding and the thread that renders through it.
    struct Lane {
        std::unique_ptr<varnel::Renderer> renderer;
        std::thread thread;
        std::shared_ptr<Job> pending;
    };
    enum class Step { Nothing, Page, Ended };

    // Background threads.
    void WorkerLoop(Lane& lane);
    void RenderJob(Lane& lane, const std::shared_ptr<Job>& job);
    void WatchLoop();
    Step WatchStep(const std::shared_ptr<Job>& job);
    void Deliver(const std::shared_ptr<Job>& job, QString file, QImage image, bool ended);
    // Any thread.
    void CancelJob(const std::shared_ptr<Job>& job);

    // Window thread.
    void OnArrived(const std::shared_ptr<Job>& job);
    void MaybeFinish();
    void FlushTiles();
    void Submit(Lane& lane, std::shared_ptr<Job> job);
    // A render of one input page for the larger view; null without a binding.
    std::shared_ptr<Job> ViewJob(int page, int dpi, qreal ratio);
    void CancelCurrent();
    void FinishLoad(const std::shared_ptr<Job>& job);
    void AddPageTile(const QImage& thumb, const QString& file, int number);
    void AddErrorTile(const QString& text, const QString& why);
    void AddOutputTile(const QImage& thumb, const QString& file);
    void SetTitle(const QString& text);
    void Remember(CacheEntry entry);
    static QByteArray CacheKey(const QByteArray& path);
    static QImage Thumbnail(const QImage& page);
    static QString ReasonText(int result);
    // The title line once a render has ended.
    static QString Outcome(const QString& name, int pages, int result);

    QLabel* m_title = nullptr;
    QListWidget* m_tiles = nullptr;
    QTimer* m_flush = nullptr; // adds the thumbnails that came back, in batches
    QByteArray m_shown;

    Lane m_thumbLane; // the thumbnails, and reading output files
    Lane m_viewLane;  // the larger view's page
    std::mutex m_mutex;
    std::condition_variable m_wake; // lanes: a job or a folder to delete
    bool m_quit = false;
    std::vector<QString> m_trash; // page folders for a lane's thread to delete
    // Renders whose pages the watcher picks up, and a count that tells it
    // something changed (both under m_mutex).
    std::vector<std::shared_ptr<Job>> m_watched;
    unsigned m_watchChanges = 0;
    std::condition_variable m_watchWake;
    std::thread m_watcher;

    // Window thread only.
    std::shared_ptr<Job> m_current; // job on view (rendering or loading)
    QStringList m_pageFiles;        // page files of the current render
    QList<QImage> m_thumbs;         // their thumbnails
    qsizetype m_tilesShown = 0;
    bool m_watchEnded = false; // every page of the current render has arrived
    std::deque<CacheEntry> m_cache;
    std::shared_ptr<Job> m_viewJob; // the larger view's render
    QLabel* m_viewPage = nullptr;
    QLabel* m_viewStatus = nullptr;
};
