// Every toolbar click and the shutdown end whatever sound is running before anything else.
#include "app/Frmmain.h"
#include "engines/bass/Bass.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include "support/AppFixture.h"
#include "support/Waits.h"

#include <QAction>
#include <QTest>

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
        w.MMCEdit->setFileName(path("song.wav"));
        ASSERT_EQ(w.MMCEdit->Command("open"), 0);
        ASSERT_EQ(w.MMCEdit->Command("play"), 0);
        w.MMCPlayList->setFileName(path("song.wav"));
        ASSERT_EQ(w.MMCPlayList->Command("open"), 0);
        ASSERT_EQ(w.MMCPlayList->Command("play"), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return blocks.load() > 0; }, 10000)) << key;

        w.toolbarAction(QString::fromLatin1(key))->trigger();

        // The recording is over: its handle is gone and no block follows while the device runs
        // on (it hands every live recording a block each period).
        EXPECT_EQ(BASS_ChannelIsActive(rec), BASS_ACTIVE_STOPPED) << key;
        const int after = blocks.load();
        ASSERT_TRUE(test::advanceVirtualClock(5)) << key;
        EXPECT_EQ(blocks.load(), after) << key;
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
    w.toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_TRUE(w.isUnloaded());
    EXPECT_FALSE(w.MMCEdit->isOpen());
    EXPECT_FALSE(w.MMCPlayList->isOpen());
}

} // namespace
