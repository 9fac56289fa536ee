// Times the clip editor's waveform of one WAV (the offscreen platform, no display):
//   quaverly_waveform_bench ready FILE   computes the peaks once; prints the seconds from
//                                         request() until ready arrived on the window thread
//   quaverly_waveform_bench block FILE   computes the peaks five times while a 1 ms timer runs
//                                         on the window thread; prints the longest the thread
//                                         was held up (the timer's worst lateness, or a request()
//                                         call, whichever is longer), in milliseconds
//   quaverly_waveform_bench draw FILE    a view 1920 pixels wide: prints the median and the worst
//                                         milliseconds of a frame while zooming with the wheel
//                                         (in to single samples and out again, and panning), then
//                                         the same for the frames in which the play cursor,
//                                         16 ms further each frame, moved
// Fails (exit 1) when the peaks cannot be computed or a frame painted nothing.
#include "editor/PeakCache.h"
#include "editor/WaveformView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace quaverly;

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Waits on the event loop until the peaks of `path` are ready (true) or failed.
bool waitReady(PeakCache& cache, const QString& path) {
    if (cache.state(path) == PeakCache::State::Computing) {
        QEventLoop loop;
        QObject::connect(&cache, &PeakCache::ready, &loop, &QEventLoop::quit);
        QObject::connect(&cache, &PeakCache::failed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (cache.state(path) != PeakCache::State::Ready) {
        std::fprintf(stderr, "%s\n", qPrintable(cache.errorString(path)));
        return false;
    }
    return true;
}

int ready(const QString& path) {
    PeakCache cache;
    QElapsedTimer t;
    t.start();
    cache.request(path);
    if (!waitReady(cache, path))
        return 1;
    std::printf("%.6f\n", double(t.nsecsElapsed()) / 1e9);
    return 0;
}

int block(const QString& path) {
    PeakCache cache;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QElapsedTimer clock;
    double last = 0, worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = ms(clock);
        worst = std::max(worst, now - last - 1);
        last = now;
    });
    for (int run = 0; run < 5; ++run) {
        cache.invalidate(path);
        clock.start();
        last = 0;
        tick.start();
        cache.request(path);
        worst = std::max(worst, ms(clock)); // request() itself runs on this thread
        last = ms(clock);
        if (!waitReady(cache, path))
            return 1;
        tick.stop();
    }
    std::printf("%.3f\n", worst);
    return 0;
}

// Counts the paint events of a widget.
struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

void wheel(QWidget& w, int x, int delta, Qt::KeyboardModifiers mods) {
    const QPointF at(x, 50);
    QWheelEvent e(at, w.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&w, &e);
}

void summary(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%.3f %.3f ", v[v.size() / 2], v.back());
}

int draw(const QString& path) {
    WaveformView view;
    view.resize(1920, 240);
    view.show();
    view.setSource(path);
    if (!waitReady(view.peakCache(), path))
        return 1;
    view.setMarks(view.lengthMs() / 4, view.lengthMs() / 2);
    QCoreApplication::processEvents();
    Paints paints;
    view.installEventFilter(&paints);

    // Zooming: a notch at a time into single samples around three places, out to the whole
    // song again, and some panning on the way; every frame is painted at once, in full.
    std::vector<double> zoom;
    const auto frame = [&](int x, int delta, Qt::KeyboardModifiers mods) {
        const int before = paints.count;
        QElapsedTimer t;
        t.start();
        wheel(view, x, delta, mods);
        view.repaint();
        zoom.push_back(ms(t));
        return paints.count > before;
    };
    for (const int x : {960, 300, 1900}) {
        for (int i = 0; i < 30; ++i)
            if (!frame(x, 120, Qt::NoModifier))
                return 1;
        for (int i = 0; i < 10; ++i)
            frame(x, -120, Qt::ShiftModifier);
        for (int i = 0; i < 30; ++i)
            frame(x, -120, Qt::NoModifier);
    }

    // The play cursor, fed every 16 ms of song as the window's timer would, over the whole song
    // and zoomed in so far that it moves several pixels a frame; only its strips are painted.
    // The frames in which it stays on its pixel paint nothing and are not counted.
    std::vector<double> cursor;
    for (const double fpp : {view.framesPerPixel(), 100.0}) {
        view.setRange(0, fpp);
        view.repaint();
        const qint64 end =
            std::min<qint64>(view.lengthMs(), qint64(1920 * fpp * 1000 / view.song()->sampleRate));
        for (qint64 at = 0; at < end; at += 16) {
            const int before = paints.count;
            QElapsedTimer t;
            t.start();
            view.setPlayPosition(at);
            QCoreApplication::processEvents();
            // Only the frames in which the cursor moved to another pixel count.
            if (paints.count > before)
                cursor.push_back(ms(t));
        }
    }
    if (zoom.empty() || cursor.empty())
        return 1;
    summary(zoom);
    summary(cursor);
    std::printf("\n");
    std::fprintf(stderr, "%zu zoom frames, %zu cursor frames, %d paints\n", zoom.size(),
                 cursor.size(), paints.count);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: see the comment at the top of waveform_bench.cpp\n");
        return 2;
    }
    if (args[0] == QLatin1String("ready"))
        return ready(args[1]);
    if (args[0] == QLatin1String("block"))
        return block(args[1]);
    if (args[0] == QLatin1String("draw"))
        return draw(args[1]);
    return 2;
}
