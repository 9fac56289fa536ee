// List playback and the clip editor on the private sound server: a tone song played by each
// player reaches the null sink and is recorded back from its monitor (the default input), with
// its pitch, level and length. Skipped when PULSE_SERVER is not set.
#include "app/Frmmain.h"
#include "engines/audio/DeviceTestUtil.h"
#include "engines/audio/SignalTools.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QTest>

using namespace quaverly;
namespace sig = quaverly::audio::test;

namespace {

class PlayersOnTheServer : public test::AppFixture {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        AppFixture::SetUp();
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        const QString song = path("tone.wav");
        ASSERT_TRUE(test::writeWav16(song, 2, 44100, sig::tone(1000, 44100, 2)));
        dialogs.queueFile(song);
        click(*w, "CmdAdd");
        ASSERT_EQ(w->songListPanel->List1->count(), 1);
        w->songListPanel->List1->setCurrentRow(0);
    }

    // Records the default input while `play` starts a player, until the player has ended and
    // the recording holds its tone to the end.
    sig::Heard heardWhile(const std::function<void()>& play, const WavPlayer& player) {
        device_test::Collector c(44100 * 4 * 20);
        auto device = audio::CaptureDevice::open();
        EXPECT_TRUE(device) << qPrintable(device.error().text());
        auto rec = device ? device->start(44100, 2, c.fn()) : device.error();
        EXPECT_TRUE(rec) << qPrintable(rec.error().text());
        EXPECT_TRUE(QTest::qWaitFor([&] { return c.calls >= 2; }, 10000));
        play();
        EXPECT_TRUE(player.isPlaying()) << qPrintable(dialogs.messageTexts().join('\n'));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !player.isPlaying(); }, 20000));
        // The tone and a quarter second after it (the check allows it a tenth more).
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return sig::framesFromTone(c.buffer.data(), c.size) >= 44100 * 5 / 4; }, 10000));
        if (rec)
            (*rec)->stop(); // no block arrives after this: `c` may go
        return sig::analyse(c.bytes());
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
};

TEST_F(PlayersOnTheServer, ListPlaybackAndTheEditorAreHeard) {
    const auto check = [](const sig::Heard& h, const char* who) {
        EXPECT_NEAR(double(h.frames), 44100.0, 4410.0) << who;
        EXPECT_NEAR(h.hz, 1000.0, 5.0) << who;
        EXPECT_NEAR(h.levelDb, 0.0, 1.0) << who;
    };
    check(heardWhile([&] { click(*w, "CmdPlay"); }, *w->listPlayer), "list playback");
    check(heardWhile(
              [&] {
                  emit w->songListPanel->List1->itemDoubleClicked(w->songListPanel->List1->item(0));
                  click(*w, "CmdEditPlay");
              },
              *w->editorPlayer),
          "editor");
}

} // namespace
