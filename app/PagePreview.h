// Thumbnails of one input file's pages beside the list, so a user sees what a
// job holds before converting it, and of its output files after a run.
//
// The pages are rendered by a renderer binding of the preview's own, on a
// worker thread, at a low resolution, into a private page folder; the window
// thread only lists that folder on a timer; a second thread scales the pages
// that have appeared, so the window never waits for either. Finished
// page folders stay as a cache of the last few inputs (keyed by path, size
// and modification time) and are deleted with the preview. Showing another
// file cancels the render in progress: its folder is moved away, so the
// renderer's next page write fails and the render ends there.
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

    // Opens the larger view of one tile (a double-click on it).
    void ShowLarge(int tile);

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
    };

    void WorkerLoop();
    void LoaderLoop();
    void OnThumb(const std::shared_ptr<Job>& job, const QImage& thumb);
    void MaybeFinish();
    void Submit(std::shared_ptr<Job> job);
    void CancelCurrent();
    void Poll();
    void FinishRender(const std::shared_ptr<Job>& job);
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
    QTimer* m_poll = nullptr;
    QByteArray m_shown;

    std::unique_ptr<varnel::Renderer> m_renderer;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Job> m_pending; // next job for the worker
    std::shared_ptr<Job> m_current; // job on view (rendering or loading)
    bool m_quit = false;
    std::vector<QString> m_trash; // page folders for the worker to delete
    // Page files to scale into thumbnails, on a thread of their own so that
    // neither the window nor the renderer waits for it.
    struct Load {
        std::shared_ptr<Job> job;
        QString file;
    };
    std::deque<Load> m_loads;
    std::condition_variable m_loadWake;
    std::thread m_loader;

    // Window thread only.
    QStringList m_pageFiles; // page files of the current render, sent for scaling
    QList<QImage> m_thumbs;  // their thumbnails, as they come back
    QString m_folderPath;
    bool m_allRequested = false; // the render ended and every page was sent
    std::deque<CacheEntry> m_cache;
};
