#include "editor/WaveformView.h"
#include "support/TestAudio.h"

#include <QPaintEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// Collects the rectangles the view paints.
struct PaintLog : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

void wheel(QWidget& w, int x, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF at(x, 20);
    QWheelEvent e(at, w.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&w, &e);
}

// A view 400 pixels wide over one second of mono staircase at 8 kHz: 20 frames, 2.5 ms a pixel.
class Waveform : public ::testing::Test {
protected:
    static constexpr int kWidth = 400;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("song.wav"));
    WaveformView view;
    // What the owner knows, as the window does: the marks it keeps and hands to the view, and
    // the range the view announced last.
    qint64 markIn = -1, markOut = -1;
    struct {
        double first = 0, fpp = 1; // the view's own at first
    } range;

    void SetUp() override {
        ASSERT_TRUE(writeWav16(path, 1, 8000, staircase(8000, 1, -4000, 1)));
        view.setFixedSize(kWidth, 140);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QObject::connect(&view, &WaveformView::rangeChanged, &view,
                         [this](double first, double fpp) {
                             range = {first, fpp};
                         });
        open(path);
        ASSERT_EQ(range.fpp, 20.0);
        QObject::connect(&view, &WaveformView::markInMoved, &view,
                         [this](qint64 ms) { setMarks(ms, markOut); });
        QObject::connect(&view, &WaveformView::markOutMoved, &view,
                         [this](qint64 ms) { setMarks(markIn, ms); });
    }
    void setMarks(qint64 in, qint64 out) {
        markIn = in;
        markOut = out;
        view.setMarks(in, out);
    }
    void open(const QString& file) {
        view.setSource(file);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.song().has_value(); }, 5000));
    }
    double frameUnder(int x) const { return range.first + x * range.fpp; }
};

TEST_F(Waveform, WheelZoomKeepsTheFrameUnderThePointer) {
    const struct {
        int x;
        int notches; // > 0 zooms in
    } steps[] = {{100, 1}, {100, 2}, {399, 3}, {0, 1}, {250, 5}, {37, 40}, {37, -2}, {300, -60}};
    for (const auto& s : steps) {
        const double before = frameUnder(s.x);
        for (int i = 0; i < std::abs(s.notches); ++i)
            wheel(view, s.x, s.notches > 0 ? 120 : -120);
        const double fpp = range.fpp;
        const double last = 8000 - kWidth * fpp;
        // Kept, unless zooming out pushed the range against an end of the song.
        const bool atEnd = range.first == 0 || std::abs(range.first - last) < 1e-9;
        if (s.notches > 0 || !atEnd) {
            EXPECT_NEAR(frameUnder(s.x), before, 1e-6) << "x " << s.x << " notches " << s.notches;
        }
        EXPECT_GE(range.first, 0);
        EXPECT_LE(range.first, std::max(0.0, last) + 1e-9);
    }
    // Forty notches in reach the closest zoom; sixty out, the whole song again.
    EXPECT_EQ(range.fpp, 20.0);
    EXPECT_EQ(range.first, 0);
    for (int i = 0; i < 40; ++i)
        wheel(view, 10, 120);
    EXPECT_EQ(range.fpp, 1 / WaveformView::kMaxPixelsPerFrame);
}

TEST_F(Waveform, ShiftWheelAndTheScrollBarPan) {
    auto* scroll = view.findChild<QScrollBar*>(QStringLiteral("WaveScroll"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_FALSE(scroll->isEnabled()); // the whole song is in view
    view.setRange(1000, 2);
    EXPECT_TRUE(scroll->isEnabled());
    EXPECT_EQ(scroll->value(), 500);
    wheel(view, 200, -120, Qt::ShiftModifier); // a tenth of the view to the right
    EXPECT_EQ(range.first, 1000 + kWidth / 10 * 2);
    EXPECT_EQ(range.fpp, 2);
    scroll->setValue(scroll->maximum());
    EXPECT_NEAR(range.first + kWidth * 2, 8000, 2); // the end of the song at the right
}

TEST_F(Waveform, DraggingAHandleMovesItsMarkWithinTheOther) {
    const struct {
        qint64 in0, out0; // the marks before
        int press, to;    // pixels
        qint64 in, out;   // the marks after
    } drags[] = {
        {250, 750, 100, 140, 350, 750}, // In (pixel 100) to 140: frame 2800, 350 ms
        {250, 750, 97, 0, 0, 750},      // grabbed 3 pixels beside the handle
        {250, 750, 100, 350, 750, 750}, // In stops at Out
        {250, 750, 300, 399, 250, 998}, // Out to frame 7980: 997.5 ms, rounded up
        {250, 750, 300, 50, 250, 250},  // Out stops at In
        {500, 500, 200, 150, 375, 500}, // both on pixel 200: a move to the left takes In
        {500, 500, 200, 260, 500, 650}, // and one to the right takes Out
        {0, 1000, 399, 200, 0, 500},    // Out at the right edge
    };
    QSignalSpy seeks(&view, &WaveformView::seekRequested);
    for (const auto& d : drags) {
        setMarks(d.in0, d.out0);
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(d.press, 50));
        QTest::mouseMove(&view, QPoint((d.press + d.to) / 2, 60));
        QTest::mouseMove(&view, QPoint(d.to, 60));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(d.to, 60));
        EXPECT_EQ(markIn, d.in) << "drag from " << d.press << " to " << d.to;
        EXPECT_EQ(markOut, d.out) << "drag from " << d.press << " to " << d.to;
    }
    EXPECT_TRUE(seeks.isEmpty());
}

TEST_F(Waveform, AClickAwayFromTheHandlesAsksToSeekThere) {
    const struct {
        double first, fpp;
        int x;
        qint64 ms; // -1: no seek
    } clicks[] = {
        {0, 20, 200, 500},        // the whole song: frame 4000
        {0, 20, 0, 0},            // its first
        {0, 20, 399, 998},        // frame 7980 = 997.5 ms
        {0, 20, 104, -1},         // on the In handle
        {1000, 2.5, 40, 138},     // frame 1100 = 137.5 ms
        {3001.5, 0.125, 12, 375}, // 8 pixels a frame: frame 3003 = 375.4 ms
        {1001.1, 2.5, 1, 126},    // 1003.6 is nearest to the boundary 1004: 125.5 ms
    };
    setMarks(250, 750);
    for (const auto& c : clicks) {
        view.setRange(c.first, c.fpp);
        QSignalSpy seeks(&view, &WaveformView::seekRequested);
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(c.x, 70));
        if (c.ms < 0) {
            EXPECT_TRUE(seeks.isEmpty()) << c.x;
        } else {
            ASSERT_EQ(seeks.size(), 1) << c.x;
            EXPECT_EQ(seeks.first().first().toLongLong(), c.ms) << "x " << c.x << " fpp " << c.fpp;
        }
        EXPECT_EQ(markIn, 250);
    }
}

TEST_F(Waveform, MillisecondsRoundToTheNearestFrameAndBack) {
    const QString song = dir.filePath(QStringLiteral("cd.wav"));
    ASSERT_TRUE(writeWav16(song, 2, 44100, staircase(44100, 2)));
    open(song);
    const struct {
        qint64 ms, frame;
    } toFrames[] = {{0, 0},       {1, 44},       {3, 132},     {5, 221},
                    {999, 44056}, {1000, 44100}, {2000, 44100}};
    for (const auto& t : toFrames)
        EXPECT_EQ(view.frameOfMs(t.ms), t.frame) << t.ms << " ms";
    const struct { qint64 frame, ms; } toMs[] = {{22, 0}, {23, 1}, {221, 5}, {44099, 1000}};
    for (const auto& t : toMs)
        EXPECT_EQ(view.msOfFrame(t.frame), t.ms) << "frame " << t.frame;
    EXPECT_EQ(view.lengthMs(), 1000);
}

TEST_F(Waveform, TheCursorRepaintsOnlyWhereItWasAndIs) {
    PaintLog log;
    view.installEventFilter(&log);
    QCoreApplication::processEvents();
    view.setPlayPosition(500); // pixel 200
    QCoreApplication::processEvents();
    log.painted = QRegion();
    view.setPlayPosition(520); // pixel 208
    QCoreApplication::processEvents();
    const QRegion strips = QRegion(199, 0, 3, view.height()) | QRegion(207, 0, 3, view.height());
    EXPECT_FALSE(log.painted.isEmpty());
    EXPECT_TRUE((log.painted - strips).isEmpty())
        << "painted " << log.painted.boundingRect().width() << " pixels wide";
    // A move within the same pixel paints nothing.
    log.painted = QRegion();
    view.setPlayPosition(521);
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.painted.isEmpty());
    // The cursor is drawn at its frame's pixel, and only there.
    const QImage shot = view.grab().toImage();
    const QColor cursor(255, 140, 0);
    EXPECT_EQ(shot.pixelColor(208, 70), cursor);
    EXPECT_NE(shot.pixelColor(207, 70), cursor);
    EXPECT_NE(shot.pixelColor(209, 70), cursor);
}

TEST_F(Waveform, TheWaveStandsOutOnALightAndOnADarkTheme) {
    for (const QColor base : {QColor(Qt::white), QColor(30, 30, 30)}) {
        QPalette palette = view.palette();
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, base.lightness() > 128 ? Qt::black : Qt::white);
        view.setPalette(palette);
        const QImage shot = view.grab().toImage();
        int inked = 0; // in column 50, neither the background nor the centre line
        for (int y = 0; y < 80; ++y)
            inked += shot.pixelColor(50, y) != base &&
                     shot.pixelColor(50, y) != palette.color(QPalette::Mid);
        EXPECT_GT(inked, 0) << base.name().toStdString();
    }
}

TEST_F(Waveform, ACutSongIsShownWholeAgain) {
    view.setRange(4000, 1);
    ASSERT_TRUE(writeWav16(path, 1, 8000, staircase(2000, 1)));
    view.peakCache().invalidate(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.song() && view.song()->frames == 2000; }, 5000));
    EXPECT_EQ(range.first, 0);
    EXPECT_EQ(range.fpp, 2000.0 / kWidth);
}

TEST_F(Waveform, AnUnreadableSongIsShownAsText) {
    const QString text = dir.filePath(QStringLiteral("words.wav"));
    ASSERT_TRUE(writeFile(text, QByteArray("no sound in here, only words")));
    view.setSource(text);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return view.message().startsWith(QStringLiteral("No")); }, 5000));
    EXPECT_TRUE(view.message().contains(view.peakCache().errorString(text)));
    QSignalSpy seeks(&view, &WaveformView::seekRequested);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(200, 70));
    EXPECT_TRUE(seeks.isEmpty()); // nothing to seek in
}

} // namespace
