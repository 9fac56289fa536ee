#include "ui/BusyWindow.h"

#include "support/QtPrinters.h"
#include "support/Waits.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <bit>

using namespace quaverly;

namespace {

QLabel* picture(const BusyWidget& w, int i) {
    return w.findChild<QLabel*>(QStringLiteral("Picture1(%1)").arg(i));
}

// The pictures shown, as a bit mask: bit i is Picture1(i).
int shown(const BusyWidget& w) {
    int mask = 0;
    for (int i = 0; i < BusyWidget::kPictures; ++i) {
        mask |= picture(w, i)->isHidden() ? 0 : 1 << i;
    }
    return mask;
}

void setShown(BusyWidget& w, int mask) {
    for (int i = 0; i < BusyWidget::kPictures; ++i) {
        picture(w, i)->setVisible((mask >> i) & 1);
    }
}

// The busy windows among the top-level windows; only those on screen when shownOnly.
int busyWindows(bool shownOnly) {
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        windows += w->objectName() == QLatin1String("FrmLoad") && (!shownOnly || w->isVisible());
    }
    return windows;
}

// The cycle the strip runs through: 0; 0-1; 0-2; 0-3; 0-4; and again 0.
constexpr int kCycle[] = {0b00001, 0b00011, 0b00111, 0b01111, 0b11111};

int cyclePosition(int mask) {
    for (int i = 0; i < 5; ++i) {
        if (kCycle[i] == mask) {
            return i;
        }
    }
    return -1;
}

TEST(BusyWidget, OneTickFromChosenStates) {
    const struct {
        int before;
        int after;
    } cases[] = {
        {0b000000, 0b000001}, // empty row: picture 0 appears
        {0b000001, 0b000011},
        {0b001111, 0b011111},
        {0b011111, 0b000001}, // picture 5 appears and the row starts over in the same tick
        {0b111111, 0b000001}, // nothing hidden: only the reset
        {0b100000, 0b000001},
        {0b001010, 0b001011}, // the lowest hidden picture is the one that appears
        {0b010101, 0b010111},
    };
    BusyWidget w;
    for (const auto& c : cases) {
        setShown(w, c.before);
        w.stepStrip();
        EXPECT_EQ(shown(w), c.after) << "from " << c.before;
    }
}

TEST(BusyWidget, EveryStartStateSettlesIntoTheFiveTickCycle) {
    BusyWidget w;
    for (int start = 0; start < 64; ++start) {
        setShown(w, start);
        int ticks = 0;
        int previous = start;
        while (cyclePosition(shown(w)) < 0 || ticks == 0) {
            w.stepStrip();
            ++ticks;
            const int now = shown(w);
            EXPECT_TRUE(now & 1) << "the row is never empty after a tick, start " << start;
            EXPECT_FALSE(now & 0b100000) << "picture 5 is never seen, start " << start;
            // Until the row starts over, each tick adds exactly one picture.
            if (now != 1) {
                EXPECT_EQ(now & previous, previous) << "start " << start;
                EXPECT_EQ(std::popcount(unsigned(now)), std::popcount(unsigned(previous)) + 1);
            }
            previous = now;
            ASSERT_LE(ticks, 4) << "start " << start;
        }
        int pos = cyclePosition(shown(w));
        for (int i = 0; i < 10; ++i) {
            w.stepStrip();
            pos = (pos + 1) % 5;
            ASSERT_EQ(shown(w), kCycle[pos]) << "start " << start << ", tick " << i;
        }
    }
}

TEST(BusyWindow, CreatedOnFirstUseKeepsItsTextAndStaysOne) {
    BusyWindow busy;
    EXPECT_EQ(busyWindows(false), 0);
    EXPECT_EQ(busy.window().Label1->text(), QStringLiteral("Loading.........."));
    EXPECT_FALSE(busy.window().stripTimer->isActive()) << "the strip rests while hidden";
    EXPECT_EQ(busy.window().stripTimer->interval(), 500);

    busy.show(QStringLiteral("Saving......."));
    busy.show(QStringLiteral("Saving......."));
    EXPECT_EQ(busyWindows(true), 1);
    EXPECT_TRUE(busy.window().stripTimer->isActive());
    EXPECT_TRUE(busy.window().windowFlags() & Qt::FramelessWindowHint);
    // The text can be read: it lies inside the window.
    EXPECT_TRUE(busy.window().rect().contains(busy.window().Label1->geometry()));

    busy.hide();
    EXPECT_EQ(busyWindows(true), 0);
    EXPECT_EQ(busyWindows(false), 1);
    EXPECT_EQ(busy.window().Label1->text(), QStringLiteral("Saving......."));
    EXPECT_FALSE(busy.window().stripTimer->isActive());
    busy.show(QStringLiteral("Converting......."));
    EXPECT_EQ(busy.window().Label1->text(), QStringLiteral("Converting......."));
}

TEST(BusyWindow, IsCentredOnItsWindowWheneverItShowsAndWhileThatMoves) {
    QWidget anchor;
    anchor.setGeometry(40, 30, 420, 300); // away from the screen's centre
    BusyWindow busy(&anchor);
    const auto centred = [&] {
        const QPoint off = busy.window().frameGeometry().center() - anchor.frameGeometry().center();
        return off.manhattanLength() <= 2;
    };
    // Shown before its window is (the first job at the start-up): centred once that shows.
    busy.show(QStringLiteral("Loading"));
    anchor.show();
    EXPECT_TRUE(test::eventsUntil(centred, 5000));
    anchor.move(200, 150);
    EXPECT_TRUE(test::eventsUntil(centred, 5000)) << "after the window moved";
    busy.hide();
    anchor.move(90, 60);
    EXPECT_TRUE(test::eventsUntil([&] { return anchor.pos() == QPoint(90, 60); }, 5000));
    busy.showJob(QStringLiteral("Saving"), [] {});
    EXPECT_TRUE(centred()) << "as a job shows it";
}

TEST(BusyWindow, PicturesAreDrawn) {
    BusyWidget w;
    for (int i = 0; i < BusyWidget::kPictures; ++i) {
        ASSERT_NE(picture(w, i), nullptr) << i;
        ASSERT_FALSE(picture(w, i)->pixmap().isNull()) << i;
    }
    const auto image = [&](int i) { return picture(w, i)->pixmap().toImage(); };
    EXPECT_EQ(image(0), image(2));
    EXPECT_NE(image(0), image(1));
    EXPECT_NE(image(0), image(5));
}

} // namespace
