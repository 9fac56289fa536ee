// The recorder panel on a real sound server: a tone played into the null sink is recorded from
// its monitor and saved; a server that goes away mid-take leaves the recorded part. Skipped when
// PULSE_SERVER is not set (the test command starts the shared server).
#include "app/Frmmain.h"
#include "engines/audio/SignalTools.h"
#include "engines/audio/TakePlayer.h"
#include "support/AppFixture.h"
#include "support/PrivateSoundServer.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QAction>
#include <QTest>

using namespace quaverly;
namespace sig = quaverly::audio::test;

namespace {

class RecorderOnTheServer : public test::AppFixture {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        AppFixture::SetUp();
    }
    void start() {
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        p = w->recorderPanel;
        w->toolbarAction(QStringLiteral("Rec"))->trigger();
        ASSERT_GT(p->cmbInput->count(), 0) << qPrintable(dialogs.messageTexts().join('\n'));
    }
    bool recordUntil(std::uint64_t bytes) {
        p->btnRecord->click();
        return p->btnRecord->text() == "Stop" &&
               QTest::qWaitFor([&] { return w->recorder->engine().take().dataBytes() >= bytes; },
                               10000);
    }
    QByteArray saved() {
        p->btnSave->click();
        dialogs.queueFile(path("take.wav"));
        p->CmdWav->click();
        EXPECT_TRUE(jobsSettled(*w)); // the take is written by a job
        return readFile(path("take.wav"));
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    RecorderPanel* p = nullptr;
};

TEST_F(RecorderOnTheServer, RecordsWhatIsPlayedFromTheMonitor) {
    start();
    const int monitor = p->cmbInput->findText(QStringLiteral("Monitor of Null Output"));
    ASSERT_GE(monitor, 0) << "no monitor among the inputs";
    p->cmbInput->setCurrentIndex(monitor);
#ifndef Q_OS_WIN
    // Wine's WASAPI says no more of the server's monitor than that it is a line input.
    EXPECT_EQ(p->lblInputType->text(), "Wave/PCM");
#endif
    ASSERT_TRUE(recordUntil(RecordTake::kBytesPerSecond / 5));

    const auto tone = sig::tone(1000, 44100, 2);
    const QByteArray image =
        test::wavBytes(WavHeader::pcm(2, 44100, 16), tone.data(), tone.size() * 2);
    auto played = audio::TakePlayer::open(image.constData(), image.size(), audio::defaultBackend());
    ASSERT_TRUE(played) << qPrintable(played.error().text());
    ASSERT_TRUE((*played)->play());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !(*played)->playing(); }, 10000));
    // Recorded on until the take holds the tone and a quarter second after it.
    const RecordTake& take = w->recorder->engine().take();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return sig::framesFromTone(take.data() + WavHeader::kSize, take.dataBytes()) >=
                   44100 * 5 / 4;
        },
        10000));
    p->btnRecord->click();
    (*played).reset();

    const QByteArray file = saved();
    ASSERT_EQ(file.size(), qsizetype(w->recorder->engine().take().length()));
    const auto pcm = file.mid(44);
    const sig::Heard h = sig::analyse({pcm.begin(), pcm.end()});
    EXPECT_NEAR(double(h.frames), 44100.0, 441.0);
    EXPECT_NEAR(h.hz, 1000.0, 5.0);
    EXPECT_NEAR(h.levelDb, 0.0, 1.0);
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: take.wav is saved."});
}

// Runs on a server of its own, which it stops; ctest gives each test a process of its own, so
// the window connects to this server and not to the shared one.
TEST_F(RecorderOnTheServer, AServerThatGoesAwayLeavesTheRecordedPart) {
    quaverly::test::PrivateSoundServer server;
    ASSERT_TRUE(server.start());
    setEnv("PULSE_SERVER", server.address);
    start();
    // A level of ours whose server then goes: setting it back later gives up at once.
    p->sldInputLevel->setValue(60);
    ASSERT_TRUE(recordUntil(RecordTake::kBytesPerSecond / 2));

    ASSERT_TRUE(server.stop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return p->btnRecord->text() == "Record"; }, 10000));
    ASSERT_EQ(dialogs.messageTexts().size(), 1);
    EXPECT_TRUE(dialogs.messageTexts()[0].startsWith("The recording stopped: "))
        << qPrintable(dialogs.messageTexts()[0]);
    const RecordTake& take = w->recorder->engine().take();
    EXPECT_GE(take.dataBytes(), RecordTake::kBytesPerSecond / 2);
    EXPECT_TRUE(p->btnSave->isEnabled());
    const QByteArray file = saved();
    EXPECT_EQ(file,
              QByteArray(reinterpret_cast<const char*>(take.data()), qsizetype(take.length())));

    // The program goes on: the next visit says there is no device, and nothing hangs.
    w->toolbarAction(QStringLiteral("Rec"))->trigger();
    EXPECT_TRUE(dialogs.messageTexts().last().startsWith("Can't initialize device"));
    EXPECT_FALSE(p->btnRecord->isEnabled());
}

} // namespace
