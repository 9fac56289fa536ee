// The sound devices when there is no sound server (PULSE_SERVER names a socket that does not
// exist, set before the back end is first made): they fail at once, every time, with a code and
// the server's reason.

#include "DeviceTestUtil.h"

#include "engines/audio/TakePlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace quaverly;

namespace {

TEST(NoServer, TheDevicesFailAtOnceWithTheServersReason) {
    ASSERT_EQ(qgetenv("PULSE_SERVER"), QByteArray("unix:/nonexistent"));
    const auto image = device_test::wavImage(2, 44100, device_test::staircase(100, 2, 1));
    auto take = audio::TakePlayer::open(image.data(), image.size(), audio::defaultBackend());
    ASSERT_TRUE(take); // nothing is opened on the device until it plays
    const struct {
        const char* name;
        std::function<Status()> call;
        int code;
    } starts[] = {
        {"capture",
         [] {
             const auto device = audio::CaptureDevice::open();
             return device ? Status() : Status(device.error());
         },
         sound::kDriver},
        {"take", [&] { return (*take)->play(); }, sound::kStart},
    };
    // The sound server names where it was looked for; Windows says it has no audio (wine, whose
    // only driver is the missing server).
#ifdef Q_OS_WIN
    const QLatin1String kReason("Windows audio is not available");
#else
    const QLatin1String kReason("unix:/nonexistent");
#endif
    for (const auto& s : starts) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto start = std::chrono::steady_clock::now();
            const Status failed = s.call();
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ASSERT_FALSE(failed) << s.name;
            EXPECT_EQ(failed.error().code(), s.code) << s.name;
            EXPECT_TRUE(failed.error().cause().contains(kReason))
                << failed.error().text().toStdString();
            // Not a measure of speed: a hang would show here long before the test's time-out.
            EXPECT_LT(seconds, 10.0) << s.name;
        }
    }
    EXPECT_FALSE((*take)->playing());
}

} // namespace
