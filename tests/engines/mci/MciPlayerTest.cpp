#include "engines/mci/MciPlayer.h"

#include "engines/player/MciErrors.h"
#include "mci/FakeBackend.h"
#include "mci/RampWav.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

using quaverly::MciPlayer;
namespace mcierr = quaverly::mcierr;

namespace {

// Runs the event loop until `done` holds; false after a generous timeout.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void spin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// How many of this process's file handles name `canonicalPath` (-1 where that cannot be seen).
int handlesTo(const QString& canonicalPath) {
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

class Player : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QObject::connect(&player, &MciPlayer::Done, [this](int code) { done.push_back(code); });
        QObject::connect(&player, &MciPlayer::StatusUpdate, [this] { ++ticks; });
    }

    QString song(const ramp::Format& f, std::uint64_t frames, const char* name = "song.wav") {
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(ramp::write(path, ramp::wav(f, frames)));
        return path;
    }
    void open(const QString& path) {
        player.setFileName(path);
        ASSERT_EQ(player.Command("open"), 0) << player.lastError().toStdString();
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

    QTemporaryDir dir;
    std::shared_ptr<fake::FakeBackend> backend = std::make_shared<fake::FakeBackend>();
    MciPlayer player{backend};
    std::vector<int> done;
    int ticks = 0;
};

const ramp::Format kMono16_8k{8000, 1, 16};

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
    ASSERT_EQ(player.Command("close"), 0);
    EXPECT_EQ(player.Length(), 0);
}

INSTANTIATE_TEST_SUITE_P(MciPlayer, Lengths,
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
    ASSERT_EQ(player.Command("play"), 0);
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    spin(150);
    EXPECT_EQ(done, std::vector<int>{quaverly::mcinotify::kSuccessful});
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 2000);
    EXPECT_EQ(player.Length(), 2000);
    EXPECT_EQ(backend->liveStreams(), 0);
    EXPECT_EQ(backend->last()->shortPulls, 1);
    EXPECT_TRUE(backend->last()->bytes() == ramp::frames(kMono16_8k, 0, 16000));

    // At the end "play" has nothing left: it opens no stream and ends at once.
    ASSERT_EQ(player.Command("Play"), 0);
    ASSERT_TRUE(waitFor([&] { return done.size() == 2; }));
    EXPECT_EQ(backend->devices().size(), 1u);
    EXPECT_EQ(player.Position(), 2000);
}

TEST_F(Player, PositionIsWhatWasHeardNotWhatWasWritten) {
    manualClock(4000);
    open(song(kMono16_8k, 40000));
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(4000);
    spin(30);
    EXPECT_EQ(player.Position(), 0) << "half a second written, nothing heard yet";
    backend->advance(8000);
    EXPECT_TRUE(waitFor([&] { return player.Position() == 1000; })) << player.Position();
    backend->advance(4004); // 1500.5 ms rounds to 1501
    EXPECT_TRUE(waitFor([&] { return player.Position() == 1501; })) << player.Position();
    spin(50);
    EXPECT_EQ(player.Position(), 1501);
    EXPECT_TRUE(done.empty());
}

class Halts : public Player, public ::testing::WithParamInterface<const char*> {};

TEST_P(Halts, KeepThePositionAndPlayGoesOnFromThere) {
    manualClock(4000);
    open(song(kMono16_8k, 40000));
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(4000);
    backend->advance(20000);
    ASSERT_TRUE(waitFor([&] { return player.Position() == 2500; }));

    ASSERT_EQ(player.Command(GetParam()), 0);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 2500);
    EXPECT_EQ(backend->liveStreams(), 0);
    ASSERT_EQ(player.Command(GetParam()), 0) << "halting a halted player is harmless";
    spin(100);
    EXPECT_EQ(player.Position(), 2500);
    EXPECT_TRUE(done.empty()) << "no Done after a halt";

    ASSERT_EQ(player.Command("play"), 0);
    EXPECT_EQ(backend->devices().size(), 2u);
    waitForPulled(4000);
    EXPECT_EQ(player.Position(), 2500);
    EXPECT_TRUE(backend->last()->bytes().left(8000) == ramp::frames(kMono16_8k, 20000, 4000));
    backend->advance(8000);
    EXPECT_TRUE(waitFor([&] { return player.Position() == 3500; }));
    ASSERT_EQ(player.Command("play"), 0) << "play while playing goes on";
    EXPECT_EQ(backend->devices().size(), 2u);
    EXPECT_TRUE(done.empty());
}

INSTANTIATE_TEST_SUITE_P(MciPlayer, Halts, ::testing::Values("stop", "pause", "Stop", " PAUSE "));

TEST_F(Player, FromPlaysFromThatPointOnce) {
    manualClock(2000);
    const ramp::Format f{8000, 1, 8};
    open(song(f, 480000)); // 60 s
    player.setFrom(42000);
    ASSERT_EQ(player.Command("Play"), 0);
    EXPECT_EQ(player.Position(), 42000);
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 336000, 2000));
    backend->advance(8000);
    ASSERT_TRUE(waitFor([&] { return player.Position() == 43000; }));

    // From is used once: the next play goes on from the position.
    ASSERT_EQ(player.Command("stop"), 0);
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 344000, 2000));

    // Set while playing, From restarts playback there, without Done.
    player.setFrom(10000);
    ASSERT_EQ(player.Command("play"), 0);
    EXPECT_EQ(backend->devices().size(), 3u);
    EXPECT_EQ(backend->liveStreams(), 1);
    EXPECT_EQ(player.Position(), 10000);
    waitForPulled(2000);
    EXPECT_TRUE(backend->last()->bytes().left(2000) == ramp::frames(f, 80000, 2000));

    // Past the end (a slider's last second may be rounded up): nothing to play, Done at once.
    player.setFrom(60500);
    ASSERT_EQ(player.Command("play"), 0);
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{quaverly::mcinotify::kSuccessful});
    EXPECT_EQ(player.Position(), 60000);
    EXPECT_EQ(backend->devices().size(), 3u);
    EXPECT_EQ(backend->liveStreams(), 0);

    player.setFrom(-1);
    EXPECT_EQ(player.Command("play"), mcierr::kOutOfRange);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 60000);
}

struct PcmCase {
    const char* name;
    ramp::Format format;
    std::uint64_t frames;
    qint64 from;
    std::uint64_t startFrame; // From at the nearest frame
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
    if (c.from >= 0)
        player.setFrom(c.from);
    ASSERT_EQ(player.Command("play"), 0);
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{quaverly::mcinotify::kSuccessful});
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
    MciPlayer, Delivers,
    ::testing::Values(
        // 1.4 MB: more than the read-ahead ring holds, so the ring wraps many times.
        PcmCase{"Stereo16LongerThanTheRing", {44100, 2, 16}, 352800, 1234, 54419, false},
        PcmCase{"Stereo16FromStart", {44100, 2, 16}, 300000, -1, 0, false},
        PcmCase{"Mono8", {8000, 1, 8}, 24000, 0, 0, false},
        PcmCase{"Stereo8HalfFrameRoundsUp", {22050, 2, 8}, 44100, 10, 221, false},
        PcmCase{"Mono16BetweenOtherChunks", {22050, 1, 16}, 30000, 500, 11025, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Player, AFileCutShortWhilePlayingEndsWithAFailureNotice) {
    const ramp::Format f{44100, 2, 16};
    manualClock(4096);
    const QString path = song(f, 44100 * 20); // 3.5 MB, far more than the read-ahead
    open(path);
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(4096);
    const qint64 keptBytes = 44 + 2000000;
    ASSERT_TRUE(QFile::resize(path, keptBytes)); // same file, now shorter
    backend->pace->framesPerMs = 882;
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{quaverly::mcinotify::kFailure});
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
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(2000);
    backend->advance(1600);
    backend->last()->broken = true;
    ASSERT_TRUE(waitFor([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{quaverly::mcinotify::kFailure});
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 200) << "not the end: the sound broke off";
    EXPECT_EQ(player.lastErrorCode(), mcierr::kHardware);
    EXPECT_TRUE(player.lastError().endsWith("fake device failed"))
        << player.lastError().toStdString();
    // The next "play" goes on from there, on a new stream.
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(2000);
    EXPECT_EQ(backend->devices().size(), 2u);
    EXPECT_TRUE(backend->last()->bytes().startsWith(ramp::frames(kMono16_8k, 1600, 100)));
}

TEST_F(Player, CloseReleasesTheFileAndTheDevice) {
    manualClock(2000);
    const QString path = song(kMono16_8k, 40000);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    open(path);
    EXPECT_NE(handlesTo(canonical), 0);
    ASSERT_EQ(player.Command("play"), 0);
    waitForPulled(2000);
    backend->advance(4000);
    ASSERT_EQ(player.Command("Close"), 0);
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.Position(), 0);
    EXPECT_EQ(backend->liveStreams(), 0);
    const int handles = handlesTo(canonical);
    if (handles >= 0) {
        EXPECT_EQ(handles, 0) << "the file is still held open";
    }
    spin(50);
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
    ASSERT_EQ(player.Command("play"), 0);
    open(b);
    EXPECT_EQ(player.Length(), 3000);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(backend->liveStreams(), 0);
    const int handles = handlesTo(canonicalA);
    if (handles >= 0) {
        EXPECT_EQ(handles, 0);
    }

    // A failed open leaves the player closed, not on the old file.
    player.setFileName(dir.filePath("gone.wav"));
    EXPECT_EQ(player.Command("open"), mcierr::kFileNotFound);
    EXPECT_FALSE(player.isOpen());
    EXPECT_EQ(player.Length(), 0);
    EXPECT_TRUE(done.empty());
}

TEST_F(Player, StatusUpdateTicksWhileAFileIsOpen) {
    EXPECT_EQ(player.UpdateInterval(), 1000);
    player.setUpdateInterval(20);
    spin(120);
    EXPECT_EQ(ticks, 0) << "nothing open";
    open(song(kMono16_8k, 8000));
    EXPECT_TRUE(waitFor([&] { return ticks >= 3; }));
    ASSERT_EQ(player.Command("close"), 0);
    const int atClose = ticks;
    spin(120);
    EXPECT_EQ(ticks, atClose);

    open(song(kMono16_8k, 8000));
    player.setUpdateInterval(0);
    const int atOff = ticks;
    spin(120);
    EXPECT_EQ(ticks, atOff);
}

TEST_F(Player, CommandsOnAClosedPlayerFailAndChangeNothing) {
    for (const char* c : {"play", "stop", "pause", "close", "Play", "CLOSE"}) {
        EXPECT_EQ(player.Command(c), mcierr::kInvalidDeviceId) << c;
        EXPECT_FALSE(player.lastError().isEmpty());
        EXPECT_FALSE(player.isOpen());
    }
    player.setFrom(1000);
    EXPECT_EQ(player.Command("play"), mcierr::kInvalidDeviceId);
    EXPECT_TRUE(backend->devices().empty());
    spin(60);
    EXPECT_TRUE(done.empty());
}

struct OpenFailure {
    const char* name;
    QByteArray contents; // empty: no file at all
    int code;
};

TEST_F(Player, OpenRefusesWhatItCannotPlay) {
    const std::vector<OpenFailure> cases{
        {"missing", {}, mcierr::kFileNotFound},
        {"text", "just some text, certainly not a sound file", mcierr::kInvalidFile},
        {"float",
         ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(3, 1, 8000, 32)) +
                    ramp::chunk("data", QByteArray(400, '\0'))),
         mcierr::kInvalidFile},
        {"pcm24",
         ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(1, 2, 8000, 24)) +
                    ramp::chunk("data", QByteArray(600, '\0'))),
         mcierr::kInvalidFile},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + ".wav");
        if (!c.contents.isEmpty()) {
            ASSERT_TRUE(ramp::write(path, c.contents));
        }
        player.setFileName(path);
        EXPECT_EQ(player.Command("open"), c.code) << c.name;
        EXPECT_EQ(player.lastErrorCode(), c.code);
        EXPECT_TRUE(player.lastError().contains(path)) << player.lastError().toStdString();
        EXPECT_FALSE(player.isOpen()) << c.name;
    }
    player.setFileName(dir.path());
    EXPECT_EQ(player.Command("open"), mcierr::kInvalidFile) << "a folder";
    player.setFileName(QString());
    EXPECT_EQ(player.Command("open"), mcierr::kFilenameRequired);
    EXPECT_EQ(player.Command(""), mcierr::kMissingCommandString);
}

TEST_F(Player, UnknownCommandsAndDeviceFailuresChangeNothing) {
    manualClock(2000);
    open(song(kMono16_8k, 16000));
    EXPECT_EQ(player.Command("rewind"), mcierr::kUnrecognizedCommand);
    EXPECT_TRUE(player.isOpen());
    EXPECT_EQ(player.Length(), 2000);

    backend->refuse = true;
    player.setFrom(500);
    EXPECT_EQ(player.Command("play"), mcierr::kHardware);
    EXPECT_TRUE(player.lastError().contains("fake device unplugged"))
        << player.lastError().toStdString();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.Position(), 0);

    backend->refuse = false; // the From that failed is still pending
    ASSERT_EQ(player.Command("play"), 0);
    EXPECT_EQ(player.Position(), 500);

    MciPlayer deaf(nullptr);
    deaf.setFileName(player.FileName());
    ASSERT_EQ(deaf.Command("open"), 0);
    EXPECT_EQ(deaf.Command("play"), mcierr::kHardware);
    EXPECT_EQ(deaf.Position(), 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
