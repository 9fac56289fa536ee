// Every toolbar click and the shutdown end whatever sound is running before anything else.
#include "app/Frmmain.h"
#include "engines/bass/Bass.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include "support/AppFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>

using namespace quaverly;
using namespace quaverly::bass;

namespace {

class SoundActivity : public test::AppFixture {
protected:
    ScriptedDialogs dialogs;
};

BOOL countBlocks(HRECORD, const void*, DWORD, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(1);
    return 1;
}

TEST_F(SoundActivity, AToolbarClickEndsARecordingAndThePlayers) {
    Frmmain w(dialogs);
    ASSERT_TRUE(test::writeWav16(path("song.wav"), 2, 44100, test::staircase(441000, 2)));

    for (const char* key : {"Wav", "Rec", "Convert", "Setting", "Help"}) {
        std::atomic<int> blocks{0};
        // After "Rec" the recorder has started the recording device already.
        ASSERT_TRUE(BASS_RecordInit(-1) || BASS_ErrorGetCode() == BASS_ERROR_ALREADY);
        const HRECORD rec = BASS_RecordStart(44100, 2, 0, countBlocks, &blocks);
        ASSERT_NE(rec, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(w.MMCEdit->open(path("song.wav")));
        ASSERT_TRUE(w.MMCEdit->play());
        ASSERT_TRUE(w.MMCPlayList->open(path("song.wav")));
        ASSERT_TRUE(w.MMCPlayList->play());
        QElapsedTimer t;
        t.start();
        while (blocks.load() == 0 && t.elapsed() < 10000)
            QCoreApplication::processEvents();
        ASSERT_GT(blocks.load(), 0);

        w.toolbarAction(QString::fromLatin1(key))->trigger();

        // The recording is over: its handle is gone and no block follows.
        EXPECT_EQ(BASS_ChannelIsActive(rec), BASS_ACTIVE_STOPPED) << key;
        const int after = blocks.load();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 100)
            QCoreApplication::processEvents();
        EXPECT_EQ(blocks.load(), after) << key;
        // The editor's player stops but keeps its song; the list player lets go of its file.
        EXPECT_FALSE(w.MMCEdit->isPlaying()) << key;
        EXPECT_TRUE(w.MMCEdit->isOpen()) << key;
        EXPECT_FALSE(w.MMCPlayList->isOpen()) << key;
        w.MMCEdit->close();
    }
}

TEST_F(SoundActivity, ShutdownStopsAndClosesBothPlayers) {
    Frmmain w(dialogs);
    ASSERT_TRUE(test::writeWav16(path("song.wav"), 1, 8000, test::staircase(80000, 1)));
    for (WavPlayer* p : {w.MMCEdit, w.MMCPlayList}) {
        ASSERT_TRUE(p->open(path("song.wav")));
        ASSERT_TRUE(p->play());
    }
    w.toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_TRUE(w.isUnloaded());
    EXPECT_FALSE(w.MMCEdit->isOpen());
    EXPECT_FALSE(w.MMCPlayList->isOpen());
}

} // namespace
