// Times the window's costly moments: adding a folder of 10,000 print files,
// the preview of a 60-page job, and how long the window thread is held up
// while a run goes on (the preview following the row being converted).
// Prints the figures; not a test, so a loaded machine fails nothing.
#include "AppTestSupport.h"
#include "PagePreview.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <ctime>

namespace {
qint64 ThreadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// Times every event the window thread handles, so a long gap can be told
// apart: the window's own work, or a wait for a processor.
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --m_depth;
            return r;
        }
        QElapsedTimer clock;
        clock.start();
        const qint64 cpu0 = ThreadCpuUs();
        const bool r = QApplication::notify(receiver, event);
        --m_depth;
        const qint64 us = clock.nsecsElapsed() / 1000;
        const qint64 cpu = ThreadCpuUs() - cpu0;
        if (us > 3000 && qEnvironmentVariableIsSet("SPEED_EVENTS"))
            std::fprintf(stderr, "event %d to %s: %lld us (%lld us of processor)\n",
                         int(event->type()), receiver->metaObject()->className(), us, cpu);
        if (us > longestUs) {
            longestUs = us;
            longestWhat = QByteArray(receiver->metaObject()->className()) + " event " +
                          QByteArray::number(int(event->type())) + ", " + QByteArray::number(cpu) +
                          " us of processor";
        }
        longestCpuUs = std::max(longestCpuUs, cpu);
        return r;
    }
    void Reset() {
        longestUs = 0;
        longestCpuUs = 0;
        longestWhat.clear();
    }
    qint64 longestUs = 0;
    qint64 longestCpuUs = 0; // the most processor time one event took
    QByteArray longestWhat;

private:
    int m_depth = 0;
};

int Create() {
    static std::atomic<int> next{0};
    return ++next;
}
int AddFile(int, const char*, int) {
    return 1;
}
int SetOption(int, int, const char*, int, void*) {
    return 1;
}
int Run(int) {
    return 1;
}
int Destroy(int) {
    return 1;
}
const varnel::ConverterApi kQuietApi{Create, AddFile, SetOption, Run, Destroy};
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IONBF, 0); // in order with the event lines on stderr
    TimedApp app(argc, argv);
    TestHome home;
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    // A second argument names a folder made by an earlier call, to time the
    // adding alone.
    QByteArray folder = argc > 2 ? QByteArray(argv[2]) : home.NewFolder("many");
    if (argc <= 2 || !QFileInfo::exists(QString::fromLocal8Bit(folder))) {
        QDir().mkpath(QString::fromLocal8Bit(folder));
        for (int i = 0; i < files; ++i)
            WriteFile(folder + "/page " + QByteArray::number(i) + ".pcl", QByteArray(2000, 'x'));
    }

    TestDlg dlg(VARNEL_TEST_RENDERER, &kQuietApi);
    if (!dlg.OnInitDialog()) return 1;
    dlg.show();
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    dlg.AddFolderFiles(folder);
    QCoreApplication::processEvents(); // the repaint that follows belongs to the cost
    std::printf("add folder of %d files: %lld ms (%d rows)\n", files, clock.elapsed(),
                dlg.RowCount());

    if (qEnvironmentVariableIsSet("SPEED_ADD_ONLY")) return 0;
    clock.restart();
    dlg.Find<QAbstractItemView>("fileList")->selectAll();
    dlg.RemoveSelected();
    QCoreApplication::processEvents();
    std::printf("remove all %d rows: %lld ms\n", files, clock.elapsed());

    // A run: the longest gap between ticks of a 5 ms timer. With SPEED_REAL
    // set, the real renderer and engine convert the corpus's PCL 5 files.
    const bool real = qEnvironmentVariableIsSet("SPEED_REAL");
    std::unique_ptr<TestDlg> realDlg;
    TestDlg* run = &dlg;
    if (real) {
        realDlg = std::make_unique<TestDlg>(VARNEL_BINARY_DIR "/bin/libtarvik.so",
                                            &varnel::EngineConverterApi());
        if (!realDlg->OnInitDialog()) return 1;
        realDlg->show();
        run = realDlg.get();
        // The first thumbnail of the 60-page job, and the window's longest
        // stall while all its pages come in.
        const QByteArray sixty = VARNEL_CORPUS_DIR "/pcl5/pclparaphernalia__637793870991600249.prn";
        qint64 first = -1, gap = 0, previous = 0;
        QElapsedTimer watch;
        QTimer meter;
        QObject::connect(&meter, &QTimer::timeout, [&] {
            gap = std::max(gap, watch.elapsed() - previous);
            previous = watch.elapsed();
        });
        QObject::connect(run->Preview(), &CPagePreview::tileAdded, [&](int) {
            if (first < 0) first = watch.elapsed();
        });
        // The floor first: the longest gap of three idle seconds on this
        // machine (about as long as the preview takes).
        watch.start();
        meter.start(5);
        while (watch.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        std::printf("idle window thread, three seconds: longest gap %lld ms\n", gap);
        gap = 0;
        app.Reset();
        watch.restart();
        previous = 0;
        run->Preview()->ShowInput(sixty);
        while (run->Preview()->IsBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        meter.stop();
        std::printf("preview of the 60-page job: first thumbnail %lld ms, all %d in %lld ms, "
                    "longest window-thread gap %lld ms\n",
                    first, run->Preview()->PageTiles(), watch.elapsed(), gap);
        std::printf("  longest single event on the window thread: %lld us (%s); most processor "
                    "time of one event: %lld us\n",
                    app.longestUs, app.longestWhat.constData(), app.longestCpuUs);
        run->AddFolderFiles(VARNEL_CORPUS_DIR "/pcl5");
    } else {
        const QByteArray jobs = home.NewFolder("jobs");
        for (int i = 0; i < 20; ++i)
            WriteFile(jobs + "/" + QByteArray::number(i) + ".pcl", "pages 2\nsleep 20");
        dlg.AddFolderFiles(jobs);
    }
    qint64 last = 0, worst = 0, ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
        ++ticks;
    });
    clock.restart();
    app.Reset();
    ticker.start();
    run->Find<QToolButton>("startButton")->click();
    while (run->IsRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ticker.stop();
    std::printf("run of %d rows: %lld ms, %lld timer ticks, longest window-thread gap %lld ms\n",
                run->RowCount(), clock.elapsed(), ticks, worst);
    std::printf("  longest single event on the window thread: %lld us (%s); most processor "
                "time of one event: %lld us\n",
                app.longestUs, app.longestWhat.constData(), app.longestCpuUs);
    return 0;
}
