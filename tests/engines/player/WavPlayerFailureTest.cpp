// The player's failures: files it cannot open or read to the end, a device that refuses or
// fails, and a closed player.
#include "player/PlayerFixture.h"

using namespace player_test;

namespace {

TEST_F(Player, AFileCutShortWhilePlayingEndsWithAFailureNotice) {
    const ramp::Format f{44100, 2, 16};
    manualClock(4096);
    const QString path = song(f, 44100 * 20); // 3.5 MB, far more than the read-ahead
    open(path);
    ASSERT_TRUE(player.play());
    waitForPulled(4096);
    const qint64 keptBytes = 44 + 2000000;
    ASSERT_TRUE(QFile::resize(path, keptBytes)); // same file, now shorter
    backend->pace->framesPerMs = 882;
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{mcinotify::kFailure});
    ASSERT_TRUE(player.brokenOff());
    EXPECT_EQ(player.brokenOff()->code(), mcierr::kFileRead);
    EXPECT_EQ(player.brokenOff()->file(), path);
    const QByteArray got = backend->last()->bytes();
    EXPECT_GT(got.size(), 1 << 20) << "what was read ahead is still played";
    EXPECT_LE(got.size(), keptBytes - 44);
    EXPECT_TRUE(got == ramp::frames(f, 0, std::uint64_t(got.size()) / f.frameBytes()));
    const qint64 heard = got.size() / f.frameBytes();
    EXPECT_EQ(player.Position(), (heard * 1000 + 22050) / 44100) << "the position heard";
    EXPECT_LT(player.Position(), player.Length());
}

TEST_F(Player, ADeviceThatFailsEndsWithAFailureNoticeWhereItWasHeard) {
    manualClock(2000);
    open(song(kMono16_8k, 40000));
    ASSERT_TRUE(player.play());
    waitForPulled(2000);
    backend->advance(1600);
    backend->last()->broken = true;
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{mcinotify::kFailure});
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 200) << "not the end: the sound broke off";
    ASSERT_TRUE(player.brokenOff());
    EXPECT_EQ(player.brokenOff()->code(), mcierr::kHardware);
    EXPECT_EQ(player.brokenOff()->cause(), "fake device failed");
    // The next play() goes on from there, on a new stream.
    ASSERT_TRUE(player.play());
    EXPECT_FALSE(player.brokenOff());
    waitForPulled(2000);
    EXPECT_EQ(backend->devices().size(), 2u);
    EXPECT_TRUE(backend->last()->bytes().startsWith(ramp::frames(kMono16_8k, 1600, 100)));
}

TEST_F(Player, AClosedPlayerRefusesToPlayOrSeekAndChangesNothing) {
    for (const auto& attempt : std::vector<std::function<quaverly::Status()>>{
             [&] { return player.play(); }, [&] { return player.play(1000); },
             [&] { return player.play(0, 500); }, [&] { return player.seek(10); }}) {
        const quaverly::Status s = attempt();
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().code(), mcierr::kInvalidDeviceId);
        EXPECT_FALSE(player.isOpen());
    }
    player.stop();
    player.pause();
    player.close();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_TRUE(backend->devices().empty());
    letTimersRun();
    EXPECT_TRUE(done.empty());
}

TEST_F(Player, OpenRefusesWhatItCannotPlay) {
    const struct {
        const char* name;
        QByteArray contents; // empty: no file at all
        int code;
        const char* cause; // what a WAV file that is not plain PCM is told as
    } cases[] = {
        {"missing", {}, mcierr::kFileNotFound, ""},
        {"text", "just some text, certainly not a sound file", mcierr::kInvalidFile, nullptr},
        {"float",
         ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(3, 1, 8000, 32)) +
                    ramp::chunk("data", QByteArray(400, '\0'))),
         mcierr::kInvalidFile, "format 3, 32 bits, 1 channels"},
        {"pcm24",
         ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(1, 2, 8000, 24)) +
                    ramp::chunk("data", QByteArray(600, '\0'))),
         mcierr::kInvalidFile, "format 1, 24 bits, 2 channels"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".wav");
        if (!c.contents.isEmpty()) {
            ASSERT_TRUE(ramp::write(path, c.contents));
        }
        const quaverly::Status opened = player.open(path);
        ASSERT_FALSE(opened) << c.name;
        EXPECT_EQ(opened.error().code(), c.code) << c.name;
        EXPECT_EQ(opened.error().file(), path);
        if (c.cause) {
            EXPECT_EQ(opened.error().cause(), c.cause) << c.name;
        }
        EXPECT_FALSE(player.isOpen()) << c.name;
    }
    const quaverly::Status folder = player.open(dir.path());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code(), mcierr::kInvalidFile);
    const quaverly::Status unnamed = player.open(QString());
    ASSERT_FALSE(unnamed);
    EXPECT_EQ(unnamed.error().code(), mcierr::kFilenameRequired);
}

TEST_F(Player, ADeviceThatRefusesKeepsThePointsForTheNextPlay) {
    manualClock(2000);
    open(song(kMono16_8k, 16000));
    backend->refuse = true;
    const quaverly::Status refused = player.play(500);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), mcierr::kHardware);
    EXPECT_EQ(refused.error().cause(), "fake device unplugged");
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 0);

    backend->refuse = false;
    ASSERT_TRUE(player.play());
    EXPECT_EQ(player.Position(), 500);

    WavPlayer deaf(nullptr);
    ASSERT_TRUE(deaf.open(player.FileName()));
    const quaverly::Status silent = deaf.play();
    ASSERT_FALSE(silent);
    EXPECT_EQ(silent.error().code(), mcierr::kHardware);
    EXPECT_EQ(deaf.Position(), 0);
}

} // namespace
