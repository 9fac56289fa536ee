#include "editor/TimeRuler.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace quaverly;

namespace {

// Labelled ticks at least 80 pixels apart.
TEST(TimeRuler, StepsAreNiceAndFollowTheZoom) {
    const struct {
        double secondsPerPixel;
        std::uint32_t rate;
        double seconds;
        std::int64_t frames; // 0: the step counts seconds
    } cases[] = {
        {3 * 3600.0 / 700, 8000, 1800, 0}, // a 3-hour song in 700 pixels: 80 px are 20.6 min
        {40.0, 8000, 3600, 0},
        {600.0, 8000, 72000, 0}, // past ten hours: 10 h times 1, 2, 5
        {1.0, 8000, 120, 0},
        {0.25, 8000, 20, 0},
        {0.1, 8000, 10, 0},
        {0.0125, 8000, 1, 0}, // 80 px are exactly a second
        {0.001, 8000, 0.1, 0},
        {1e-4, 8000, 0.01, 0},
        {2e-5, 8000, 0.002, 0},
        {1.25e-5, 8000, 0.001, 0},                    // exactly a millisecond: still seconds
        {1e-5, 8000, 10 / 8000.0, 10},                // 0.8 ms: 6.4 frames
        {1e-5, 44100, 50 / 44100.0, 50},              // 35.3 frames
        {1 / (8 * 44100.0), 44100, 10 / 44100.0, 10}, // the closest zoom, 8 px a frame
        {1e-9, 44100, 1 / 44100.0, 1},
    };
    for (const auto& c : cases) {
        const RulerStep step = rulerStep(c.secondsPerPixel, c.rate, 80);
        EXPECT_DOUBLE_EQ(step.seconds, c.seconds) << c.secondsPerPixel;
        EXPECT_EQ(step.frames, c.frames) << c.secondsPerPixel;
    }
}

TEST(TimeRuler, LabelsShowTheDecimalsTheStepNeeds) {
    const struct {
        double at, step;
        const char* label;
    } cases[] = {{5025, 1800, "1:23:45"},    {83, 1, "1:23"},
                 {750, 30, "12:30"},         {12.5, 0.5, "0:12.5"},
                 {0.125, 0.005, "0:00.125"}, {0.0125, 0.0005, "0:00.0125"},
                 {59.96, 0.1, "1:00.0"},     {0, 0.01, "0:00.00"}};
    for (const auto& c : cases)
        EXPECT_EQ(rulerLabel(c.at, c.step), QLatin1String(c.label)) << c.at;
}

} // namespace
