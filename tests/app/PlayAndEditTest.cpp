// List playback and the clip editor driven through the real window on the virtual sound device
// (its clock runs ten times faster than real time), with staircase songs so that every cut
// boundary can be checked to the sample.
#include "app/Frmmain.h"
#include "app/WindowFixture.h"
#include "editor/TimeText.h"
#include "engines/util/ClockText.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/Waits.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace quaverly;
using namespace quaverly::test;

namespace {

class PlayAndEdit : public WindowFixture {
protected:
    // Adds a mono 8 kHz staircase song of `frames` frames through "ADD".
    void addSong(const QString& name, int frames) {
        const QString file = path(name + ".wav");
        ASSERT_TRUE(writeWav16(file, 1, 8000, staircase(std::size_t(frames), 1, 0)));
        dialogs.queueFile(file);
        click(*w, "CmdAdd");
    }
    // Adds songs of `frames` frames each; the list player's buttons wake as they join.
    void addSongs(int count, int frames) {
        for (int i = 1; i <= count; ++i)
            addSong(QStringLiteral("song%1").arg(i), frames);
    }

    void open(int row) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
    }
    bool enabled(const char* name) const { return child(*w, name)->isEnabled(); }
    // A click on a list player button, which follows the selection.
    void press(const char* name) { click(*w, name); }
};

TEST(TimeText, TheSliderRoundsHalvesToTheEvenSecondAndTheClipUpToTheTenth) {
    const struct {
        qint64 ms;
        qint64 seconds;
        const char* clip;
    } cases[] = {
        {0, 0, "0:00.0"},      {2500, 2, "0:02.5"},          {3500, 4, "0:03.5"},
        {2501, 3, "0:02.6"},   {150500, 150, "2:30.5"},      {151500, 152, "2:31.5"},
        {40001, 40, "0:40.1"}, {3599999, 3600, "1:00:00.0"}, {90061000, 90061, "25:01:01.0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(wholeSeconds(c.ms), c.seconds) << c.ms;
        EXPECT_EQ(clipLengthText(c.ms), QLatin1String(c.clip)) << c.ms;
    }
}

TEST_F(PlayAndEdit, PlayListPlaysOnFromTheSelectionSelectingEachSongAsItStarts) {
    addSongs(5, 2000); // 0.25 s of sound each
    QCheckBox* playList = w->songListPanel->chkPlayList;
    for (const bool ticked : {true, false}) {
        playList->setChecked(ticked);
        QStringList started;
        const auto watch = QObject::connect(list, &QListWidget::currentRowChanged, [&](int row) {
            started << QStringLiteral("%1:%2").arg(row).arg(w->listPlayer->FileName() ==
                                                            w->songListPanel->workingCopy(row));
        });
        list->setCurrentRow(2);
        started.clear();
        QSignalSpy ends(w->listPlayer, &WavPlayer::Done);
        click(*w, "CmdPlay");
        EXPECT_TRUE(w->listPlayer->isPlaying());
        // Each song that plays to its end raises one Done; a next song would start from the last
        // one's handling, or from what that handling posted.
        const int songs = ticked ? 3 : 1;
        ASSERT_TRUE(QTest::qWaitFor([&] { return ends.size() >= songs; }, 10000));
        ASSERT_TRUE(roundTrip());
        QObject::disconnect(watch);
        EXPECT_EQ(ends.size(), songs);
        EXPECT_FALSE(w->listPlayer->isPlaying());
        if (ticked) {
            // Songs 3, 4 and 5, each selected as it started; then the player let go.
            EXPECT_EQ(started, (QStringList{"3:1", "4:1"}));
            EXPECT_FALSE(w->listPlayer->isOpen());
            EXPECT_EQ(w->PlayIndex, 5);
        } else {
            EXPECT_TRUE(started.isEmpty());
            EXPECT_TRUE(w->listPlayer->isOpen()); // at the end of song 3
            EXPECT_EQ(w->PlayIndex, 3);
        }
        EXPECT_EQ(w->songListPanel->ListIndex(), ticked ? 4 : 2);
    }
    EXPECT_TRUE(dialogs.messageTexts().isEmpty());
}

TEST_F(PlayAndEdit, PlayWithoutASelectionAsksForOne) {
    addSongs(1, 800);
    list->clearSelection();
    click(*w, "CmdPlay");
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Please select the song to play"});
    EXPECT_FALSE(w->listPlayer->isOpen());
}

TEST_F(PlayAndEdit, PauseResumesFromTheSameSampleAndNextAndFowardMoveAlong) {
    addSongs(3, 80000); // 10 s of sound, 1 s at the test clock
    list->setCurrentRow(1);
    click(*w, "CmdPlay");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->listPlayer->Position() > 0; }, 10000));
    click(*w, "CmdPause");
    const qint64 held = w->listPlayer->Position();
    EXPECT_GT(held, 0);
    ASSERT_TRUE(advanceVirtualClock(5));
    EXPECT_EQ(w->listPlayer->Position(), held);
    click(*w, "CmdPause");
    EXPECT_TRUE(w->listPlayer->isPlaying());
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->listPlayer->Position() > held; }, 10000));

    press("CmdNext");
    EXPECT_EQ(w->listPlayer->FileName(), w->songListPanel->workingCopy(2));
    EXPECT_EQ(w->songListPanel->ListIndex(), 2);
    press("CmdFoward");
    press("CmdFoward");
    EXPECT_EQ(w->listPlayer->FileName(), w->songListPanel->workingCopy(0));
    EXPECT_TRUE(w->listPlayer->isPlaying());
    click(*w, "CmdStop");
    EXPECT_FALSE(w->listPlayer->isPlaying());
    EXPECT_TRUE(w->listPlayer->isOpen());
}

TEST_F(PlayAndEdit, PlayControlShowsTheSongPlayingWithItsPositionAndLength) {
    addSongs(2, 80000); // 10 s of sound, 1 s at the test clock
    const QLabel* shown = child<QLabel>(*w, "lblListPosition");
    ASSERT_EQ(shown->parentWidget(), w->songListPanel->framePlayControl);
    const QTimer* timer = w->listPlayback->positionTimer;
    list->setCurrentRow(1);
    click(*w, "CmdPlay");
    // "song2  0:00.450 / 0:10", the position growing as it plays.
    const QRegularExpression form(QStringLiteral("^song2  (0:0\\d\\.\\d{3}) / 0:10$"));
    QString first;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QRegularExpressionMatch m = form.match(shown->text());
            if (first.isEmpty() && m.hasMatch())
                first = m.captured(1);
            return m.hasMatch() && m.captured(1) != first;
        },
        10000))
        << qPrintable(shown->text());
    EXPECT_TRUE(timer->isActive());
    // Paused: the position heard, to the millisecond.
    click(*w, "CmdPause");
    EXPECT_EQ(shown->text(), "song2  " + clockMillis(w->listPlayer->Position()) + " / 0:10");
    click(*w, "CmdStop");
    EXPECT_TRUE(shown->text().isEmpty());
    EXPECT_FALSE(timer->isActive());
    // Stopped by another panel: cleared at the next reading.
    click(*w, "CmdPlay");
    EXPECT_FALSE(shown->text().isEmpty());
    w->toolbarAction(QStringLiteral("Rec"))->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->text().isEmpty() && !timer->isActive(); }));
}

TEST_F(PlayAndEdit, TheButtonsFollowTheSelectionAndTheEditor) {
    EXPECT_FALSE(enabled("CmdPlay"));
    addSongs(5, 800);
    EXPECT_TRUE(enabled("CmdPlay")) << "songs joining the list wake the buttons";
    const struct {
        int selected;
        const char* mode;
        bool play, next, foward;
    } cases[] = {
        {4, "", true, false, true}, {0, "", true, true, false},     {-1, "", true, false, false},
        {2, "", true, true, true},  {2, "Edit", false, true, true}, {4, "Edit", false, false, true},
    };
    for (const auto& c : cases) {
        w->ListMode = QLatin1String(c.mode);
        for (QPushButton* b : w->songListPanel->playerButtons())
            b->setEnabled(false);
        // The selection's changes update the buttons.
        list->clearSelection();
        if (c.selected >= 0)
            list->setCurrentRow(c.selected);
        const QString what = QStringLiteral("%1 %2").arg(c.selected).arg(c.mode);
        for (const char* name : {"CmdPlay", "CmdPause", "CmdStop"})
            EXPECT_EQ(enabled(name), c.play) << name << " " << what.toStdString();
        EXPECT_EQ(enabled("CmdNext"), c.next) << what.toStdString();
        EXPECT_EQ(enabled("CmdFoward"), c.foward) << what.toStdString();
    }
}

TEST_F(PlayAndEdit, OpeningASongShowsItsLengthAndMarksAndHidesTheListPlayer) {
    // 150.5 s and 151.5 s at 8 kHz: the half goes to the even second.
    addSong("a", 1204000);
    addSong("b", 1212000);
    list->setCurrentRow(0);
    click(*w, "CmdPlay");
    EXPECT_TRUE(w->listPlayer->isPlaying());
    for (const auto& [row, seconds, text] :
         {std::tuple{0, 150, "2:30.500"}, std::tuple{1, 152, "2:31.500"}}) {
        w->MarkIn = 7;
        open(row);
        EXPECT_FALSE(w->listPlayer->isOpen()); // the list player let go first
        EXPECT_TRUE(w->editorPlayer->isOpen());
        EXPECT_FALSE(w->editorPlayer->isPlaying());
        EXPECT_EQ(w->editorFrame->SliderEdit->maximum(), seconds);
        EXPECT_EQ(w->editorFrame->Lbltotal->text(), "0:00.000"); // the play position
        EXPECT_EQ(w->editorFrame->txtMarkOut->text(), text);
        EXPECT_EQ(w->editorFrame->txtMarkIn->text(), "0:00.000");
        EXPECT_EQ(w->MarkIn, 0);
        EXPECT_EQ(w->MarkOut, w->editorPlayer->Length());
        EXPECT_EQ(w->ListMode, "Edit");
    }
    for (const char* name :
         {"SliderEdit", "CmdEditPlay", "CmdEditStop", "CmdMarkin", "CmdMarkOut", "CmdEditDone"})
        EXPECT_TRUE(enabled(name)) << name;
    for (QPushButton* b : w->songListPanel->playerButtons())
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(w->editorFrame->isVisible());
    EXPECT_FALSE(w->songListPanel->framePlayControl->isVisible());

    // The position shows at each status notification; the slider moves it to its second, and
    // Play plays from there.
    w->editor->editorPlayer_StatusUpdate();
    EXPECT_EQ(w->editorFrame->Lbltotal->text(), "0:00.000");
    w->editorFrame->SliderEdit->setValue(42);
    w->editor->SliderEdit_Click();
    EXPECT_FALSE(w->editorPlayer->isPlaying());
    EXPECT_EQ(w->editorPlayer->Position(), 42000);
    click(*w, "CmdEditPlay");
    EXPECT_TRUE(w->editorPlayer->isPlaying());
    EXPECT_GE(w->editorPlayer->Position(), 42000);
    EXPECT_LT(w->editorPlayer->Position(), 43000);
    click(*w, "CmdEditStop");
    const qint64 stopped = w->editorPlayer->Position();
    click(*w, "CmdMarkin");
    EXPECT_EQ(w->MarkIn, stopped);
    EXPECT_EQ(w->editorFrame->txtMarkIn->text(), positionText(stopped));

    // A double click with no song selected opens nothing.
    list->clearSelection();
    w->editor->List1_DblClick();
    EXPECT_EQ(w->editorPlayer->FileName(), w->songListPanel->workingCopy(1));
    EXPECT_EQ(w->MarkIn, stopped);
}

TEST_F(PlayAndEdit, TheEditorGoesOnAfterAListSaveClosedItsPlayer) {
    addSong("ten", 80000);
    open(0);
    dialogs.queueFile(path("list.wav"));
    click(*w, "CmdSaveWav");
    EXPECT_FALSE(w->editorPlayer->isOpen());
    click(*w, "CmdEditPlay");
    EXPECT_TRUE(w->editorPlayer->isPlaying());
    // And Done still knows the song's length.
    w->MarkIn = 1000;
    w->MarkOut = 2000;
    dialogs.queueFile(path("list.wav"));
    click(*w, "CmdSaveWav");
    click(*w, "CmdEditDone");
    EXPECT_EQ(samples16(readFile(w->songListPanel->workingCopy(0))), staircase(8000, 1, 8000));
}

TEST_F(PlayAndEdit, DoneCutsTheWorkingCopyToTheMarks) {
    addSong("ten", 80000); // 10 s
    const QString copy = w->songListPanel->workingCopy(0);
    const QByteArray song = readFile(copy);
    open(0);

    // Right after opening the marks span the whole song: it stays as it is, and stays open.
    click(*w, "CmdEditDone");
    EXPECT_EQ(readFile(copy), song);
    EXPECT_EQ(w->ListMode, "Edit");
    for (const char* name :
         {"SliderEdit", "CmdEditPlay", "CmdEditStop", "CmdMarkin", "CmdMarkOut", "CmdEditDone"})
        EXPECT_TRUE(enabled(name)) << name;

    // 2 s to 5 s: the clip's samples from frame 16000 to 40000.
    open(0);
    w->MarkIn = 2000;
    w->MarkOut = 5000;
    click(*w, "CmdEditDone");
    const QByteArray clip = readFile(copy);
    const auto head = WavHeader::fromBytes(reinterpret_cast<const std::uint8_t*>(clip.data()),
                                           std::size_t(clip.size()));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->sampleRate, 8000u);
    EXPECT_EQ(head->dataSize, 24000u * 2);
    EXPECT_EQ(samples16(clip), staircase(24000, 1, 16000));
    EXPECT_EQ(w->songListPanel->ListIndex(), 0);
    EXPECT_EQ(filesIn(w->workPath()), QStringList{QFileInfo(copy).fileName()});

    // Reopened, the clip is what is cut: 0.5 s to 1 s of it.
    open(0);
    EXPECT_EQ(w->MarkOut, 3000);
    w->MarkIn = 500;
    w->MarkOut = 1000;
    click(*w, "CmdEditDone");
    EXPECT_EQ(samples16(readFile(copy)), staircase(4000, 1, 20000));
    EXPECT_TRUE(dialogs.messageTexts().isEmpty());
}

TEST_F(PlayAndEdit, MarksOutOfOrderAndAFailedCutChangeNothing) {
    addSong("ten", 80000);
    const QString copy = w->songListPanel->workingCopy(0);
    const QByteArray song = readFile(copy);
    open(0);
    for (const auto& [in, out] : {std::pair{3000, 3000}, std::pair{6000, 4000}}) {
        w->MarkIn = in;
        w->MarkOut = out;
        click(*w, "CmdEditDone");
        EXPECT_EQ(dialogs.messageTexts().constLast(), "Time Input Error: Out must be after In.");
        EXPECT_EQ(w->ListMode, "Edit");
        EXPECT_TRUE(w->editorPlayer->isOpen());
    }
    EXPECT_EQ(readFile(copy), song);
#ifdef Q_OS_UNIX
    // A write that fails half-way (no file may grow past 10000 bytes meanwhile).
    w->MarkIn = 1000;
    w->MarkOut = 9000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 10000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    click(*w, "CmdEditDone");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(dialogs.messageTexts().constLast().startsWith("ten was not cut"))
        << dialogs.messageTexts().constLast().toStdString();
    EXPECT_EQ(readFile(copy), song);
    EXPECT_EQ(filesIn(w->workPath()), QStringList{QFileInfo(copy).fileName()});
    EXPECT_EQ(w->ListMode, "Edit");
    EXPECT_TRUE(w->editorPlayer->isOpen()); // opened again for another try
#endif
}

} // namespace
