#include "editor/TimeRuler.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace quaverly;

namespace {

// Labelled ticks at least 80 pixels apart.
TEST(TimeRuler, StepsAreNiceAndFollowTheZoomDownToFrames) {
    const struct {
        double secondsPerPixel;
        std::uint32_t rate;
        double seconds;
        std::int64_t frames; // 0: the step counts seconds
    } cases[] = {
        {3 * 3600.0 / 700, 8000, 1800, 0}, // a 3-hour song in 700 pixels
        {600.0, 8000, 72000, 0},           // past ten hours: 10 h times 1, 2, 5
        {1.0, 8000, 120, 0},
        {0.25, 8000, 20, 0},
        {0.0125, 8000, 1, 0}, // 80 px are exactly a second
        {2e-5, 8000, 0.002, 0},
        {1.25e-5, 8000, 0.001, 0},                    // exactly a millisecond: still seconds
        {1e-5, 44100, 50 / 44100.0, 50},              // 35.3 frames
        {1 / (8 * 44100.0), 44100, 10 / 44100.0, 10}, // the closest zoom, 8 px a frame
    };
    for (const auto& c : cases) {
        const RulerStep step = rulerStep(c.secondsPerPixel, c.rate, 80);
        EXPECT_EQ(step, (RulerStep{c.seconds, c.frames})) << c.secondsPerPixel;
    }
    const struct {
        double at, step;
        const char* label;
    } labels[] = {{5025, 1800, "1:23:45"},
                  {750, 30, "12:30"},
                  {12.5, 0.5, "0:12.5"},
                  {0.0125, 0.0005, "0:00.013"}, // never finer than the millisecond
                  {59.96, 0.1, "1:00.0"}};
    for (const auto& l : labels)
        EXPECT_EQ(rulerLabel(l.at, l.step), QLatin1String(l.label)) << l.at;
}

} // namespace
