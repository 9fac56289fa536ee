#include "editor/ZeroCrossing.h"

#include "support/TestAudio.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// A 100 Hz sine at 8 kHz, half a frame late, so that it changes sign exactly between frames
// 40j - 1 and 40j: its crossings are the boundaries 0, 40, 80, ...
double sine(std::size_t frame) {
    return std::sin(2 * std::numbers::pi * (double(frame) + 0.5) / 80.0);
}

struct Song {
    const char* name;
    int channels;
    int bits;
    // Boundary `target`, searched in lo..hi, and the crossing expected (-1: none).
    std::uint64_t target, lo, hi;
    std::int64_t crossing;
};

TEST(ZeroCrossing, TheNearestCrossingOfTheChannelsSumWithinTheWindow) {
    constexpr std::size_t kFrames = 16000;
    const Song cases[] = {
        {"mono16", 1, 16, 8024, 7944, 8104, 8040},     // 8040 is 16 away, 8000 24
        {"mono16", 1, 16, 8016, 7936, 8096, 8000},     //
        {"mono16", 1, 16, 8020, 7940, 8100, 8000},     // halfway: the earlier
        {"mono16", 1, 16, 8060, 8050, 8070, -1},       // none in the window
        {"mono16", 1, 16, 40, 0, 80, 40},              //
        {"mono16", 1, 16, 5, 0, 30, 0},                // the song's start
        {"mono16", 1, 16, 15990, 15980, 16000, 16000}, // and its end
        {"mono8", 1, 8, 8024, 7944, 8104, 8040},       //
        // Left: the sine; right: a constant of minus half its peak. The sum crosses where the
        // sine is a half: between frames 32 and 33 and between 6 and 7 (+ 80j).
        {"stereo16", 2, 16, 8040, 7960, 8120, 8033},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".wav");
        if (c.bits == 16) {
            std::vector<std::int16_t> s;
            for (std::size_t i = 0; i < kFrames; ++i) {
                s.push_back(std::int16_t(std::lround(20000 * sine(i))));
                if (c.channels == 2)
                    s.push_back(-10000);
            }
            ASSERT_TRUE(writeWav16(path, c.channels, 8000, s));
        } else {
            std::vector<std::uint8_t> s;
            for (std::size_t i = 0; i < kFrames; ++i)
                s.push_back(std::uint8_t(128 + std::lround(100 * sine(i))));
            ASSERT_TRUE(writeWav8(path, c.channels, 8000, s));
        }
        const auto layout = probeWav(path);
        ASSERT_TRUE(layout);
        const auto got = findZeroCrossing(path, *layout, c.target, c.lo, c.hi);
        EXPECT_EQ(got ? std::int64_t(*got) : -1, c.crossing) << c.name << " around " << c.target;
    }
}

} // namespace
