// The levels the capture device sets on the virtual device, and how they are set back: when
// the input is left, when the device goes, and not by a device moved from.

#include "engines/audio/CaptureDevice.h"
#include "engines/audio/VirtualBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

using namespace quaverly;
using audio::CaptureDevice;
using audio::VirtualBackend;

namespace {

// What a level change leaves behind, step by step. The inputs start at levels of their own
// (the monitor's above normal), read back from the device after each step.
struct LevelStep {
    enum Op {
        Set,       // capture->setLevel(input, level)
        Choose,    // capture->choose(input)
        Elsewhere, // another program sets the level on the device
        MoveAway,  // the device is moved into another one, and the one moved from goes
        Reopen,    // a newly opened device is moved over it
        End,       // every device goes
    } op;
    int input;
    int level;
    std::array<int, 3> after; // the device's levels of microphone, line-in and monitor
};

struct LevelCase {
    const char* name;
    std::vector<LevelStep> steps;
};

TEST(CaptureLevels, AreSetBackWhenTheirInputIsLeftOrTheDeviceGoes) {
    using S = LevelStep;
    constexpr std::array<int, 3> own{90, 80, 120};
    const LevelCase cases[] = {
        {"theDeviceGoing",
         {{S::Set, 0, 40, {40, 80, 120}}, {S::Set, 0, 70, {70, 80, 120}}, {S::End, 0, 0, own}}},
        // Coming back to an input finds its own level, untouched until it is set again.
        {"leavingAnInput",
         {{S::Set, 0, 40, {40, 80, 120}},
          {S::Choose, 1, 0, own},
          {S::Set, 1, 30, {90, 30, 120}},
          {S::Choose, 0, 0, own},
          {S::Choose, 2, 0, own},
          {S::Set, 2, 50, {90, 80, 50}},
          {S::Choose, 2, 0, {90, 80, 50}},
          {S::End, 0, 0, own}}},
        // A level another program set over ours is theirs: it stays, and is what is set back.
        {"changedElsewhere",
         {{S::Set, 0, 40, {40, 80, 120}},
          {S::Elsewhere, 0, 60, {60, 80, 120}},
          {S::End, 0, 0, {60, 80, 120}}}},
        {"changedElsewhereThenSetAgain",
         {{S::Set, 0, 40, {40, 80, 120}},
          {S::Elsewhere, 0, 60, {60, 80, 120}},
          {S::Set, 0, 20, {20, 80, 120}},
          {S::End, 0, 0, {60, 80, 120}}}},
        {"movedFromSetsNothingBack",
         {{S::Set, 0, 40, {40, 80, 120}}, {S::MoveAway, 0, 0, {40, 80, 120}}, {S::End, 0, 0, own}}},
        {"replacedByAnother", {{S::Set, 0, 40, {40, 80, 120}}, {S::Reopen, 0, 0, own}}},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto device = std::make_shared<VirtualBackend>();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(device->setSourceVolume(i, own[std::size_t(i)]));
        auto opened = CaptureDevice::open(device);
        ASSERT_TRUE(opened);
        std::optional<CaptureDevice> capture(std::move(*opened));
        std::optional<CaptureDevice> movedTo;
        for (std::size_t n = 0; n < c.steps.size(); ++n) {
            const LevelStep& step = c.steps[n];
            SCOPED_TRACE(n);
            switch (step.op) {
            case S::Set:
                ASSERT_TRUE(capture->setLevel(step.input, step.level));
                break;
            case S::Choose:
                ASSERT_TRUE(capture->choose(step.input));
                EXPECT_EQ(capture->input(step.input)->level,
                          std::min(step.after[std::size_t(step.input)], 100));
                break;
            case S::Elsewhere:
                ASSERT_TRUE(device->setSourceVolume(step.input, step.level));
                break;
            case S::MoveAway:
                movedTo.emplace(std::move(*capture));
                capture.reset();
                break;
            case S::Reopen:
                opened = CaptureDevice::open(device);
                ASSERT_TRUE(opened);
                *capture = std::move(*opened);
                break;
            case S::End:
                capture.reset();
                movedTo.reset();
                break;
            }
            const auto sources = device->sources();
            ASSERT_TRUE(sources);
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_EQ((*sources)[i].volumePercent, step.after[i]) << "input " << i;
        }
    }
}

} // namespace
