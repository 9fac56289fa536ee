#include "player/PlayerFixture.h"

#include <QElapsedTimer>

using namespace player_test;

namespace {

struct LengthCase {
    ramp::Format format;
    std::uint64_t frames;
    qint64 ms;
};

class Lengths : public Player, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(Lengths, AreExactWholeMilliseconds) {
    const auto& c = GetParam();
    open(song(c.format, c.frames));
    EXPECT_EQ(player.Length(), c.ms);
    EXPECT_EQ(player.Position(), 0);
    player.close();
    EXPECT_EQ(player.Length(), 0);
}

INSTANTIATE_TEST_SUITE_P(WavPlayer, Lengths,
                         ::testing::Values(LengthCase{{8000, 1, 8}, 1204000, 150500},
                                           LengthCase{{8000, 1, 8}, 1212000, 151500},
                                           LengthCase{{44100, 2, 16}, 6637050, 150500},
                                           LengthCase{{44100, 2, 16}, 1020, 23}, // 23.13 ms
                                           LengthCase{{22050, 1, 8}, 11, 0},     // 0.499 ms
                                           LengthCase{{22050, 1, 8}, 12, 1},     // 0.544 ms
                                           LengthCase{{22050, 2, 16}, 0, 0}));

TEST_F(Player, PlaysToTheEndAndRaisesDoneOnce) {
    backend->pace->framesPerMs = 80; // ten times real time
    open(song(kMono16_8k, 16000));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 2000);
    EXPECT_EQ(player.Length(), 2000);
    EXPECT_EQ(backend->liveStreams(), 0);
    EXPECT_EQ(backend->last()->shortPulls, 1);
    EXPECT_TRUE(backend->last()->bytes() == ramp::frames(kMono16_8k, 0, 16000));

    // At the end play() has nothing left: it opens no stream and ends at once.
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(waitFor([&] { return done.size() >= 2; }));
    EXPECT_EQ(done, (std::vector<int>{mcinotify::kSuccessful, mcinotify::kSuccessful}))
        << "one Done for each play";
    EXPECT_EQ(backend->devices().size(), 1u);
    EXPECT_EQ(player.Position(), 2000);
}

TEST_F(Player, PositionIsWhatWasHeardNotWhatWasWritten) {
    manualClock(4000);
    open(song(kMono16_8k, 40000));
    ASSERT_TRUE(player.play());
    waitForPulled(4000);
    EXPECT_EQ(player.Position(), 0) << "half a second written, nothing heard yet";
    backend->advance(8000);
    EXPECT_TRUE(waitFor([&] { return player.Position() == 1000; })) << player.Position();
    backend->advance(4004); // 1500.5 ms rounds to 1501
    EXPECT_TRUE(waitFor([&] { return player.Position() == 1501; })) << player.Position();
    letTimersRun();
    EXPECT_EQ(player.Position(), 1501);
    EXPECT_TRUE(done.empty());
}

TEST_F(Player, StopAndPauseKeepThePositionAndPlayGoesOnFromThere) {
    // A pause holds its device stream and goes on in it; a stop lets it go, and the next play
    // opens a new one from the position.
    const struct {
        bool pause;
        int liveWhileHalted;
        std::size_t streamsAfterPlay; // opened by the two plays
        qsizetype goesOnAt;           // the byte of the last stream that holds frame 20000
    } cases[] = {{false, 0, 2, 0}, {true, 1, 1, 40000}};
    for (const auto& c : cases) {
        done.clear();
        manualClock(4000);
        open(song(kMono16_8k, 40000));
        const std::size_t streams = backend->devices().size();
        ASSERT_TRUE(player.play());
        waitForPulled(4000);
        backend->advance(20000);
        ASSERT_TRUE(waitFor([&] { return player.Position() == 2500; }));

        const auto halt = [&] { c.pause ? player.pause() : player.stop(); };
        halt();
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(player.Position(), 2500);
        EXPECT_EQ(backend->liveStreams(), c.liveWhileHalted);
        halt(); // halting a halted player is harmless
        letTimersRun();
        EXPECT_EQ(player.Position(), 2500);
        EXPECT_TRUE(done.empty()) << "no Done after a halt";

        ASSERT_TRUE(player.play());
        EXPECT_EQ(backend->devices().size(), streams + c.streamsAfterPlay);
        waitForPulled(4000);
        EXPECT_EQ(player.Position(), 2500);
        EXPECT_TRUE(backend->last()->bytes().mid(c.goesOnAt, 8000) ==
                    ramp::frames(kMono16_8k, 20000, 4000));
        backend->advance(8000);
        EXPECT_TRUE(waitFor([&] { return player.Position() == 3500; }));
        ASSERT_TRUE(player.play()) << "play while playing goes on";
        EXPECT_EQ(backend->devices().size(), streams + c.streamsAfterPlay);
        EXPECT_TRUE(done.empty());
        player.close();
    }
}

TEST_F(Player, AStartPointPlaysFromThatPointOnce) {
    manualClock(2000);
    const ramp::Format f{8000, 1, 8};
    open(song(f, 480000)); // 60 s
    ASSERT_TRUE(player.play(42000));
    EXPECT_EQ(player.Position(), 42000);
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 336000, 2000));
    backend->advance(8000);
    ASSERT_TRUE(waitFor([&] { return player.Position() == 43000; }));

    // The next play without one goes on from the position.
    player.stop();
    ASSERT_TRUE(player.play());
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 344000, 2000));

    // Given while playing, a start point restarts playback there, without Done.
    ASSERT_TRUE(player.play(10000));
    EXPECT_EQ(backend->devices().size(), 3u);
    EXPECT_EQ(backend->liveStreams(), 1);
    EXPECT_EQ(player.Position(), 10000);
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 80000, 2000));

    // Past the end (a slider's last second may be rounded up): nothing to play, Done at once.
    ASSERT_TRUE(player.play(60500));
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{mcinotify::kSuccessful});
    EXPECT_EQ(player.Position(), 60000);
    EXPECT_EQ(backend->devices().size(), 3u);
    EXPECT_EQ(backend->liveStreams(), 0);

    for (const auto& [from, to] : {std::pair<qint64, qint64>{-1, 100}, {100, -1}}) {
        const quaverly::Status played = player.play(from, to);
        ASSERT_FALSE(played);
        EXPECT_EQ(played.error().code(), mcierr::kOutOfRange);
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(player.Position(), 60000);
    }
}

TEST_F(Player, SeekMovesThePositionAndHalts) {
    manualClock(2000);
    const ramp::Format f{8000, 1, 8};
    open(song(f, 80000)); // 10 s
    ASSERT_TRUE(player.seek(4000));
    EXPECT_EQ(player.Position(), 4000);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_TRUE(backend->devices().empty());
    ASSERT_TRUE(player.play());
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 32000, 2000));

    ASSERT_TRUE(player.seek(9999999)); // past the end: the end
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(backend->liveStreams(), 0);
    EXPECT_EQ(player.Position(), 10000);
    const quaverly::Status refused = player.seek(-1);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), mcierr::kOutOfRange);
    EXPECT_EQ(player.Position(), 10000);
    letTimersRun();
    EXPECT_TRUE(done.empty());
}

struct PcmCase {
    const char* name;
    ramp::Format format;
    std::uint64_t frames;
    qint64 from;
    std::uint64_t startFrame; // the start point at the nearest frame
    bool chunky;              // other chunks before and after the samples
};

void PrintTo(const PcmCase& c, std::ostream* os) {
    *os << c.name;
}

class Delivers : public Player, public ::testing::WithParamInterface<PcmCase> {};

TEST_P(Delivers, TheFileSamplesExactlyFromTheStartPoint) {
    const auto& c = GetParam();
    const QString path = dir.filePath("pcm.wav");
    const QByteArray samples = ramp::frames(c.format, 0, c.frames);
    if (c.chunky) {
        ASSERT_TRUE(ramp::write(
            path, ramp::riff(ramp::chunk("LIST", QByteArray(33, 'L')) +
                             ramp::chunk("fmt ", ramp::fmtBody(1, c.format.channels, c.format.rate,
                                                               c.format.bits)) +
                             ramp::chunk("data", samples) +
                             ramp::chunk("junk", QByteArray(4000, '\x55')))));
    } else {
        ASSERT_TRUE(ramp::write(path, ramp::header(c.format, samples.size()) + samples));
    }
    backend->pace->framesPerMs = c.format.rate / 50; // twenty times real time
    backend->pace->bufferFrames = 4096;
    open(path);
    ASSERT_TRUE(c.from >= 0 ? player.play(c.from) : player.play());
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{mcinotify::kSuccessful});
    const auto d = backend->last();
    EXPECT_EQ(d->format.sampleRate, c.format.rate);
    EXPECT_EQ(d->format.channels, c.format.channels);
    EXPECT_EQ(d->format.bitsPerSample, c.format.bits);
    const QByteArray want = ramp::frames(c.format, c.startFrame, c.frames - c.startFrame);
    const QByteArray got = d->bytes();
    EXPECT_TRUE(got == want) << ramp::firstDifference(got, want, c.format.frameBytes());
    EXPECT_EQ(player.Position(), player.Length());
}

INSTANTIATE_TEST_SUITE_P(
    WavPlayer, Delivers,
    ::testing::Values(
        // 1.4 MB: more than the read-ahead ring holds, so the ring wraps many times.
        PcmCase{"Stereo16LongerThanTheRing", {44100, 2, 16}, 352800, 1234, 54419, false},
        PcmCase{"Stereo16FromStart", {44100, 2, 16}, 300000, -1, 0, false},
        PcmCase{"Mono8", {8000, 1, 8}, 24000, 0, 0, false},
        PcmCase{"Stereo8HalfFrameRoundsUp", {22050, 2, 8}, 44100, 10, 221, false},
        PcmCase{"Mono16BetweenOtherChunks", {22050, 1, 16}, 30000, 500, 11025, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Player, CloseReleasesTheFileAndTheDevice) {
    manualClock(2000);
    const QString path = song(kMono16_8k, 40000);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    open(path);
    EXPECT_NE(handlesTo(canonical), 0);
    ASSERT_TRUE(player.play());
    waitForPulled(2000);
    backend->advance(4000);
    player.close();
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.Position(), 0);
    EXPECT_EQ(backend->liveStreams(), 0);
    const int handles = handlesTo(canonical);
    if (handles >= 0) {
        EXPECT_EQ(handles, 0) << "the file is still held open";
    }
    letTimersRun();
    EXPECT_TRUE(done.empty());

    // The file can be replaced; the next open sees the new one.
    ASSERT_TRUE(QFile::remove(path));
    song(kMono16_8k, 12000);
    open(path);
    EXPECT_EQ(player.Length(), 1500);
}

TEST_F(Player, OpenLetsGoOfThePreviousFile) {
    const QString a = song(kMono16_8k, 8000, "a.wav"), b = song(kMono16_8k, 24000, "b.wav");
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    manualClock(2000);
    open(a);
    ASSERT_TRUE(player.play());
    open(b);
    EXPECT_EQ(player.Length(), 3000);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(backend->liveStreams(), 0);
    const int handles = handlesTo(canonicalA);
    if (handles >= 0) {
        EXPECT_EQ(handles, 0);
    }

    // A failed open leaves the player closed, not on the old file.
    const QString gone = dir.filePath("gone.wav");
    const quaverly::Status opened = player.open(gone);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().code(), mcierr::kFileNotFound);
    EXPECT_FALSE(player.isOpen());
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.FileName(), gone);
    EXPECT_TRUE(done.empty());
}

TEST_F(Player, StatusUpdateTicksWhileItPlays) {
    // Once a second unless told otherwise: the first tick comes no sooner.
    manualClock(4000);
    open(song(kMono16_8k, 80000));
    ASSERT_TRUE(player.play());
    QElapsedTimer sincePlay;
    sincePlay.start();
    ASSERT_TRUE(waitFor([&] { return ticks >= 1; }));
    EXPECT_GE(sincePlay.elapsed(), 900);
    player.stop();
    ticks = 0;

    player.setUpdateInterval(20);
    letTimersRun();
    EXPECT_EQ(ticks, 0) << "open, not playing";
    // Each way of halting rests it.
    for (const auto& halt : std::vector<std::function<void()>>{
             [&] { player.pause(); }, [&] { player.stop(); }, [&] { (void)player.seek(10); },
             [&] { player.close(); }}) {
        if (!player.isOpen())
            open(song(kMono16_8k, 80000));
        ASSERT_TRUE(player.play());
        EXPECT_TRUE(waitFor([&] { return ticks >= 3; }));
        halt();
        const int atHalt = ticks;
        letTimersRun();
        EXPECT_EQ(ticks, atHalt);
        ticks = 0;
    }

    open(song(kMono16_8k, 80000));
    ASSERT_TRUE(player.play());
    player.setUpdateInterval(0);
    const int atOff = ticks;
    letTimersRun();
    EXPECT_EQ(ticks, atOff);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
