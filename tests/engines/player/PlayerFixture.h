#pragma once
// The player tests' fixture: a player on the fake device, what it raised, and waits with a
// deadline.

#include "engines/player/WavPlayer.h"

#include "engines/player/MciErrors.h"
#include "player/FakeBackend.h"
#include "player/RampWav.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace player_test {

using quaverly::WavPlayer;
namespace mcierr = quaverly::mcierr;
namespace mcinotify = quaverly::mcinotify;

// Runs the event loop until `done` holds; false after a generous timeout.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000) {
    return quaverly::test::eventsUntil(done, timeoutMs);
}

// How many of this process's file handles name `canonicalPath` (-1 where that cannot be seen).
inline int handlesTo(const QString& canonicalPath) {
#ifdef Q_OS_LINUX
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        n += QFileInfo(fds.filePath(fd)).symLinkTarget() == canonicalPath ? 1 : 0;
    return n;
#else
    Q_UNUSED(canonicalPath);
    return -1;
#endif
}

inline const ramp::Format kMono16_8k{8000, 1, 16};

class Player : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QObject::connect(&player, &WavPlayer::Done, [this](int code) { done.push_back(code); });
        QObject::connect(&player, &WavPlayer::StatusUpdate, [this] { ++ticks; });
        // Ticking every 20 ms: the clock of the checks that nothing happens meanwhile.
        clock.setInterval(20);
        QObject::connect(&clock, &QTimer::timeout, [this] { ++clockTicks; });
        clock.start();
    }

    QString song(const ramp::Format& f, std::uint64_t frames, const char* name = "song.wav") {
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(ramp::write(path, ramp::wav(f, frames)));
        return path;
    }
    void open(const QString& path) {
        const quaverly::Status opened = player.open(path);
        ASSERT_TRUE(opened) << qPrintable(opened.error().text());
    }
    // Manual clock: the device reads `buffer` frames ahead and hears only what advance() moves.
    void manualClock(std::uint64_t buffer) {
        backend->pace->framesPerMs = 0;
        backend->pace->bufferFrames = buffer;
    }
    // The device holds its read-ahead once it has pulled `frames`.
    void waitForPulled(std::uint64_t frames) {
        ASSERT_TRUE(waitFor([&] { return backend->last() && backend->last()->written >= frames; }));
    }
    // Lets the event loop run for five ticks of the clock player (about 100 ms).
    void letTimersRun() {
        const int until = clockTicks + 5;
        ASSERT_TRUE(waitFor([&] { return clockTicks >= until; }));
    }

    QTemporaryDir dir;
    std::shared_ptr<fake::FakeBackend> backend = std::make_shared<fake::FakeBackend>();
    WavPlayer player{backend};
    QTimer clock;
    std::vector<int> done;
    int ticks = 0;
    int clockTicks = 0;
};

} // namespace player_test
