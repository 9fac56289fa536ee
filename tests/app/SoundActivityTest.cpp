// Every toolbar click and the shutdown end whatever sound is running before anything else.
#include "app/Frmmain.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include "support/AppFixture.h"
#include "support/Waits.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

using namespace quaverly;

namespace {

class SoundActivity : public test::AppFixture {
protected:
    ScriptedDialogs dialogs;
};

TEST_F(SoundActivity, AToolbarClickEndsARecordingAndThePlayers) {
    Frmmain w(dialogs);
    ASSERT_TRUE(test::writeWav16(path("song.wav"), 2, 44100, test::staircase(441000, 2)));

    for (const char* key : {"Wav", "Rec", "Convert", "Setting", "Help"}) {
        // A take being recorded on the recorder panel.
        const TakeRecorder& recorder = w.recorder->engine();
        w.toolbarAction(QStringLiteral("Rec"))->trigger();
        w.recorderPanel->btnRecord->click();
        ASSERT_TRUE(recorder.recording()) << qPrintable(dialogs.messageTexts().join('\n'));
        ASSERT_TRUE(w.editorPlayer->open(path("song.wav")));
        ASSERT_TRUE(w.editorPlayer->play());
        ASSERT_TRUE(w.listPlayer->open(path("song.wav")));
        ASSERT_TRUE(w.listPlayer->play());
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.recordedBytes() > 0; }, 10000)) << key;

        dialogs.queueChoice(1); // the take is not saved: Discard
        w.toolbarAction(QString::fromLatin1(key))->trigger();

        // The recording is over and no block follows while the device runs on (it hands every
        // live recording a block each period).
        EXPECT_FALSE(recorder.recording()) << key;
        const auto after = recorder.recordedBytes();
        ASSERT_TRUE(test::advanceVirtualClock(5)) << key;
        EXPECT_EQ(recorder.recordedBytes(), after) << key;
        // The editor's player stops but keeps its song; the list player lets go of its file.
        EXPECT_FALSE(w.editorPlayer->isPlaying()) << key;
        EXPECT_TRUE(w.editorPlayer->isOpen()) << key;
        EXPECT_FALSE(w.listPlayer->isOpen()) << key;
        w.editorPlayer->close();
    }
}

TEST_F(SoundActivity, ShutdownStopsAndClosesBothPlayers) {
    Frmmain w(dialogs);
    ASSERT_TRUE(test::writeWav16(path("song.wav"), 1, 8000, test::staircase(80000, 1)));
    for (WavPlayer* p : {w.editorPlayer, w.listPlayer}) {
        ASSERT_TRUE(p->open(path("song.wav")));
        ASSERT_TRUE(p->play());
    }
    QSignalSpy quit(&w, &Frmmain::quitRequested);
    w.toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(w.editorPlayer->isOpen());
    EXPECT_FALSE(w.listPlayer->isOpen());
}

} // namespace
