// Every toolbar click and the shutdown end whatever sound is running before anything else.
#include "app/Frmmain.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include "support/AppFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

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
        w.FrameRec->btnRecord->click();
        ASSERT_TRUE(recorder.recording()) << qPrintable(dialogs.messageTexts().join('\n'));
        w.MMCEdit->setFileName(path("song.wav"));
        ASSERT_EQ(w.MMCEdit->Command("open"), 0);
        ASSERT_EQ(w.MMCEdit->Command("play"), 0);
        w.MMCPlayList->setFileName(path("song.wav"));
        ASSERT_EQ(w.MMCPlayList->Command("open"), 0);
        ASSERT_EQ(w.MMCPlayList->Command("play"), 0);
        QElapsedTimer t;
        t.start();
        while (recorder.recordedBytes() == 0 && t.elapsed() < 10000)
            QCoreApplication::processEvents();
        ASSERT_GT(recorder.recordedBytes(), 0u);

        w.toolbarAction(QString::fromLatin1(key))->trigger();

        // The recording is over and no block follows.
        EXPECT_FALSE(recorder.recording()) << key;
        const auto after = recorder.recordedBytes();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 100)
            QCoreApplication::processEvents();
        EXPECT_EQ(recorder.recordedBytes(), after) << key;
        // The editor's player stops but keeps its song; the list player lets go of its file.
        EXPECT_FALSE(w.MMCEdit->isPlaying()) << key;
        EXPECT_TRUE(w.MMCEdit->isOpen()) << key;
        EXPECT_FALSE(w.MMCPlayList->isOpen()) << key;
        w.MMCEdit->Command("close");
    }
}

TEST_F(SoundActivity, ShutdownStopsAndClosesBothPlayers) {
    Frmmain w(dialogs);
    ASSERT_TRUE(test::writeWav16(path("song.wav"), 1, 8000, test::staircase(80000, 1)));
    for (MciPlayer* p : {w.MMCEdit, w.MMCPlayList}) {
        p->setFileName(path("song.wav"));
        ASSERT_EQ(p->Command("open"), 0);
        ASSERT_EQ(p->Command("play"), 0);
    }
    QSignalSpy quit(&w, &Frmmain::quitRequested);
    w.toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(w.MMCEdit->isOpen());
    EXPECT_FALSE(w.MMCPlayList->isOpen());
}

} // namespace
