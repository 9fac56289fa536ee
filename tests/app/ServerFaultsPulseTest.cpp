// The sound server goes away while a player plays: list playback, the clip editor, the recorder's
// take. Each runs on a private server of its own that the test kills (stopped by the script, or
// killed outright). The panel says so once, stops, keeps the take, never freezes, and once a
// server is back at the same place the next Play is heard again. Skipped when PULSE_SERVER is
// not set (the test command starts the shared server; each test here makes its own).
#include "app/Frmmain.h"
#include "engines/audio/DeviceTestUtil.h"
#include "engines/audio/SignalTools.h"
#include "engines/audio/TakePlayer.h"
#include "support/AppFixture.h"
#include "support/PrivateSoundServer.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/Waits.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

using namespace quaverly;
namespace sig = quaverly::audio::test;

namespace {

constexpr int kSongSeconds = 4;
constexpr std::uint32_t kBytesPerSecond = 44100 * 4;

enum class Player { List, Editor, Take };
enum class Kill { Stop, SigKill };

struct Row {
    const char* name;
    Player player;
    bool repeat; // list: "Play List" ticked (two songs); editor: "Play Selection" with "Loop"
    Kill kill;
    const char* says; // how the one message begins
};

const Row kRows[] = {
    {"ListPlaysOn_Stopped", Player::List, true, Kill::Stop, "first cannot be played"},
    {"List_Killed", Player::List, false, Kill::SigKill, "first cannot be played"},
    {"EditorPlay_Stopped", Player::Editor, false, Kill::Stop, "first cannot be played"},
    {"EditorLoopsSelection_Killed", Player::Editor, true, Kill::SigKill, "first cannot be played"},
    {"Take_Stopped", Player::Take, false, Kill::Stop, "The take stopped playing: "},
    {"Take_Killed", Player::Take, false, Kill::SigKill, "The take stopped playing: "},
};

// Processor time, in seconds, of this process's threads other than the window's: what a sound,
// event-loop or reader thread that spun would use (the window's own work, drawing included, is
// not counted; a window that hangs shows in the timer's gaps instead).
#ifdef Q_OS_WIN
double otherThreadsCpu() {
    FILETIME created, ended, kernel, user, threadKernel, threadUser;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    GetThreadTimes(GetCurrentThread(), &created, &ended, &threadKernel, &threadUser);
    const auto seconds = [](FILETIME t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user) - seconds(threadKernel) - seconds(threadUser);
}
#else
double otherThreadsCpu() {
    double ticks = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (tid.toInt() == getpid() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // After the name in parentheses: state, then utime and stime as the 12th and 13th.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        ticks += fields.value(11).toDouble() + fields.value(12).toDouble();
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}
#endif

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class ServerGoesAway : public test::AppFixture, public testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        AppFixture::SetUp();
        ASSERT_TRUE(startServer());
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        // The longest the window thread went without running a queued timer.
        ticks_.setInterval(10);
        QObject::connect(&ticks_, &QTimer::timeout,
                         [this] { worstGapMs = std::max(worstGapMs, sinceTick_.restart()); });
    }
    void TearDown() override {
        ticks_.stop();
        w.reset();
        AppFixture::TearDown();
    }

    // The window connects where PULSE_SERVER says: to the test's own server.
    bool startServer() {
        if (!server_.start())
            return false;
        setEnv("PULSE_SERVER", server_.address);
        return true;
    }
    bool killServer(Kill how) { return how == Kill::Stop ? server_.stop() : server_.kill(); }

    // Two songs of a tone in the list, the first selected.
    void addSongs() {
        for (const char* name : {"first.wav", "second.wav"}) {
            const QString song = path(QLatin1String(name));
            ASSERT_TRUE(test::writeWav16(song, 2, 44100, sig::tone(1000, 44100 * kSongSeconds, 2)));
            dialogs.queueFile(song);
            click(*w, "CmdAdd");
        }
        ASSERT_EQ(w->songListPanel->List1->count(), 2);
        w->songListPanel->List1->setCurrentRow(0);
    }
    // A take that holds a tone: recorded from the loop of what the null sink plays.
    void recordTake() {
        w->toolbarAction(QStringLiteral("Rec"))->trigger();
        RecorderPanel* p = w->recorderPanel;
        ASSERT_TRUE(p->btnRecord->isEnabled()) << qPrintable(dialogs.messageTexts().join('\n'));
        p->btnRecord->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return w->recorder->engine().take().dataBytes() > kBytesPerSecond / 5; }, 5000));
        const auto tone = sig::tone(1000, 44100 * kSongSeconds, 2);
        const QByteArray image =
            test::wavBytes(WavHeader::pcm(2, 44100, 16), tone.data(), tone.size() * 2);
        auto played =
            audio::TakePlayer::open(image.constData(), image.size(), audio::defaultBackend());
        ASSERT_TRUE(played) << qPrintable(played.error().text());
        ASSERT_TRUE((*played)->play());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !(*played)->playing(); }, 10000));
        (*played).reset();
        p->btnRecord->click();
        ASSERT_TRUE(p->btnPlay->isEnabled());
    }

    void prepare() {
        if (GetParam().player == Player::Take) {
            recordTake();
            return;
        }
        addSongs();
        if (GetParam().player == Player::List) {
            w->songListPanel->chkPlayList->setChecked(GetParam().repeat);
        } else {
            emit w->songListPanel->List1->itemDoubleClicked(w->songListPanel->List1->item(0));
            w->editorFrame->chkLoop->setChecked(GetParam().repeat);
        }
    }
    void play() {
        switch (GetParam().player) {
        case Player::List:
            click(*w, "CmdPlay");
            break;
        case Player::Editor:
            click(*w, GetParam().repeat ? "CmdPlaySel" : "CmdEditPlay");
            break;
        case Player::Take:
            click(*w, "btnPlay");
            break;
        }
    }
    bool playing() const {
        switch (GetParam().player) {
        case Player::List:
            return w->listPlayer->isPlaying();
        case Player::Editor:
            return w->editorPlayer->isPlaying();
        case Player::Take:
            break;
        }
        const audio::TakePlayer* take = w->recorder->engine().player();
        return take && take->playing();
    }
    // Milliseconds heard of what plays now.
    qint64 heardMs() const {
        switch (GetParam().player) {
        case Player::List:
            return w->listPlayer->Position();
        case Player::Editor:
            return w->editorPlayer->Position();
        case Player::Take:
            break;
        }
        return qint64(w->recorder->engine().player()->position() * 1000 / kBytesPerSecond);
    }
    // What the null sink plays while `ms` of it are recorded back from its loop (the default
    // input).
    sig::Heard hear(int ms) {
        const std::size_t bytes = std::size_t(kBytesPerSecond) * std::size_t(ms) / 1000;
        device_test::Collector c(bytes + kBytesPerSecond);
        auto device = audio::CaptureDevice::open();
        EXPECT_TRUE(device) << qPrintable(device.error().text());
        auto rec = device ? device->start(44100, 2, c.fn()) : device.error();
        EXPECT_TRUE(rec) << qPrintable(rec.error().text());
        EXPECT_TRUE(QTest::qWaitFor([&] { return c.size >= bytes; }, 10000));
        if (rec)
            (*rec)->stop(); // no block arrives after this: `c` may go
        return sig::analyse(c.bytes());
    }

    // Whatever could report the failure once more has had its turn: a player reports from the
    // handling of its Done (what that posted is handled by a round trip), the recorder from its
    // readout, which has then ticked once more.
    bool reportersHadTheirTurn() {
        QTimer* readout = w->recorderPanel->tmrRecTest;
        QSignalSpy ticks(readout, &QTimer::timeout);
        return test::roundTrip() &&
               (!readout->isActive() || QTest::qWaitFor([&] { return !ticks.isEmpty(); }, 5000));
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    qint64 worstGapMs = 0;
    void watchTheWindow() {
        worstGapMs = 0;
        sinceTick_.start();
        ticks_.start();
    }

private:
    test::PrivateSoundServer server_;
    QTimer ticks_;
    QElapsedTimer sinceTick_;
};

TEST_P(ServerGoesAway, SaysSoOnceAndPlaysAgainOnANewServer) {
    const Row& row = GetParam();
    prepare();
    if (HasFatalFailure())
        return;
    const qint64 takeBytes = qint64(w->recorder->engine().take().length());
    const int before = int(dialogs.messageTexts().size());
    play();
    ASSERT_TRUE(playing()) << qPrintable(dialogs.messageTexts().join('\n'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardMs() > 300; }, 5000));

    ASSERT_TRUE(killServer(row.kill));
    watchTheWindow();
    const auto said = [&] { return dialogs.messageTexts().mid(before); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return !playing() && !said().isEmpty(); }, 5000));
    // From here until a server is back the threads other than the window's use a small share
    // of the time at most; one that spun would use all of it.
    QElapsedTimer serverless;
    serverless.start();
    const double cpuBefore = otherThreadsCpu();
    // Nothing more follows: not a second message, not the next song.
    ASSERT_TRUE(reportersHadTheirTurn());
    EXPECT_EQ(said().size(), 1) << qPrintable(said().join("\n--\n"));
    EXPECT_TRUE(said().value(0).startsWith(row.says)) << qPrintable(said().value(0));
    EXPECT_FALSE(playing());
    EXPECT_LT(worstGapMs, 500) << "the window froze";
    if (row.player == Player::Take) {
        EXPECT_EQ(qint64(w->recorder->engine().take().length()), takeBytes);
        EXPECT_TRUE(w->recorderPanel->btnSave->isEnabled());
        EXPECT_TRUE(w->recorderPanel->btnPlay->isEnabled());
    }

    // With no server, "Play" says why at once (one more message) and nothing plays.
    play();
    EXPECT_FALSE(playing());
    EXPECT_EQ(said().size(), 2) << qPrintable(said().join("\n--\n"));

    ASSERT_TRUE(startServer());
    EXPECT_LT(otherThreadsCpu() - cpuBefore, 0.3 * double(serverless.elapsed()) / 1000 + 0.02)
        << "something spins while there is no server";
    watchTheWindow(); // anew: the test itself held the window thread while the server started
    play();
    EXPECT_TRUE(playing()) << qPrintable(said().join("\n--\n"));
    const sig::Heard h = hear(800);
    EXPECT_GT(h.frames, 44100u / 4);
    EXPECT_NEAR(h.hz, 1000.0, 5.0);
    EXPECT_NEAR(h.levelDb, 0.0, 1.0);
    EXPECT_EQ(said().size(), 2) << qPrintable(said().join("\n--\n"));
    EXPECT_LT(worstGapMs, 500) << "the window froze";
}

INSTANTIATE_TEST_SUITE_P(Players, ServerGoesAway, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
