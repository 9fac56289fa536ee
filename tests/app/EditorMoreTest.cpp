// The clip editor's marks to the millisecond, the zero-crossing snap, the previews, the clip's
// length gauge and the keys, driven through the real window on the virtual sound device.
#include "app/Frmmain.h"
#include "editor/ClipEffects.h"
#include "editor/MarkTime.h"
#include "editor/TimeText.h"
#include "editor/WaveformView.h"
#include "engines/audio/VirtualBackend.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"
#include "ui/Jobs.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <numbers>

using namespace quaverly;
using namespace quaverly::test;

namespace {

class EditorMore : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        f = w->editorFrame;
        device = std::dynamic_pointer_cast<audio::VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device);
    }
    // Adds a mono 16-bit song through "ADD" and opens it in the editor.
    void open(std::uint32_t rate, const std::vector<std::int16_t>& samples) {
        ASSERT_TRUE(writeWav16(path("song.wav"), 1, rate, samples));
        dialogs.queueFile(path("song.wav"));
        click(*w, "CmdAdd");
        QListWidget* list = w->songListPanel->List1;
        list->setCurrentRow(list->count() - 1);
        emit list->itemDoubleClicked(list->currentItem());
        ASSERT_TRUE(w->editorFrame->CmdEditDone->isEnabled());
    }
    static void type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    QByteArray played() const {
        const auto b = device->playedBytes();
        return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
    }
    static QByteArray bytes(const std::vector<std::int16_t>& s) {
        return QByteArray(reinterpret_cast<const char*>(s.data()), qsizetype(s.size() * 2));
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    EditSongFrame* f = nullptr;
    std::shared_ptr<audio::VirtualBackend> device;
};

TEST_F(EditorMore, ATypedMarkLandsOnTheFrameTheCutUses) {
    // 30000 frames at 44.1 kHz (680 ms), each sample its frame number.
    open(44100, staircase(30000, 1));
    const struct {
        bool in;
        const char* text;
        qint64 mark; // -1: refused, the mark stays
    } cases[] = {
        {true, "0:00.0114", 11}, // frame 502.7: 11 ms is frame 485, 12 ms frame 529
        {true, "0:00.0115", 12}, {true, "abc", -1},   {true, "0:00.700", -1}, // past the end
        {false, "0.5", 500},     {false, "1:60", -1}, {false, "00:00.680", 680},
        {false, "00:00.5", 500},
    };
    for (const auto& c : cases) {
        QLineEdit* field = c.in ? f->txtMarkIn : f->txtMarkOut;
        qint64& mark = c.in ? w->MarkIn : w->MarkOut;
        const qint64 before = mark;
        type(field, QLatin1String(c.text));
        const bool refused = c.mark < 0;
        EXPECT_EQ(mark, refused ? before : c.mark) << c.text;
        EXPECT_EQ(field->property("timeError").toBool(), refused) << c.text;
        EXPECT_EQ(f->lblMarkError->text().isEmpty(), !refused) << c.text;
        EXPECT_EQ(field->text(), refused ? QString::fromLatin1(c.text) : positionText(c.mark));
    }
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << "no message box";
    EXPECT_EQ(f->Lblin->text(), "In");
    // The clip starts at frame 529 and ends where the cut puts 500 ms after a 12 ms head.
    click(*w, "CmdEditDone");
    const auto clip = samples16(readFile(w->songListPanel->workingCopy(0)));
    EXPECT_EQ(clip, staircase(22050 - 529, 1, 529));
}

TEST_F(EditorMore, SnapMovesEveryMarkTheUserSetsToTheNearestZeroCrossing) {
    // A 100 Hz sine at 8 kHz, half a frame late: it crosses zero every 5 ms, on whole ms.
    std::vector<std::int16_t> sine(16000);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = std::int16_t(std::lround(20000 * std::sin(std::numbers::pi * (i + 0.5) / 40)));
    open(8000, sine);
    enum Step { TypeIn, NudgeIn, ViewIn, ButtonOut, NudgeOut };
    const struct {
        Step step;
        bool snap;
        qint64 value;
        qint64 in, out;
    } steps[] = {
        {TypeIn, false, 1002, 1002, 2000}, // not snapped
        {NudgeIn, true, 10, 1010, 2000},   // 1012 lies 2 ms after a crossing
        {TypeIn, true, 1003, 1005, 2000},    {TypeIn, true, 1002, 1000, 2000},
        {NudgeIn, true, -10, 990, 2000},     {ViewIn, true, 1022, 1020, 2000},
        {ButtonOut, true, 1503, 1020, 1505}, {NudgeOut, true, -1000, 1020, 505},
    };
    for (const auto& s : steps) {
        f->chkSnap->setChecked(s.snap);
        switch (s.step) {
        case TypeIn:
            type(f->txtMarkIn, QString::number(s.value / 1000.0, 'f', 3));
            break;
        case NudgeIn:
            w->editor->nudgeMarkIn(s.value);
            break;
        case ViewIn:
            w->editor->setMarkIn(s.value);
            break;
        case ButtonOut:
            w->editor->seek(s.value);
            click(*w, "CmdMarkOut");
            break;
        case NudgeOut:
            w->editor->nudgeMarkOut(s.value);
            break;
        }
        EXPECT_EQ(w->MarkIn, s.in) << "step " << &s - steps;
        EXPECT_EQ(w->MarkOut, s.out) << "step " << &s - steps;
    }
}

TEST_F(EditorMore, PreviewsPlayExactlyTheirFramesAndLoopRepeatsTheSelection) {
    open(8000, staircase(16000, 1)); // 2 s
    const struct {
        const char* button;
        qint64 in, out;
        int first, end; // frames played
    } cases[] = {{"CmdPlaySel", 250, 1125, 2000, 9000},
                 {"CmdPlayIn", 500, 1125, 0, 12000},
                 {"CmdPlayOut", 500, 1500, 4000, 16000}};
    for (const auto& c : cases) {
        w->editor->setMarkIn(c.in);
        w->editor->setMarkOut(c.out);
        device->clearPlayed();
        QSignalSpy position(w->editor, &EditorHandlers::positionChanged);
        click(*w, c.button);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->editorPlayer->isPlaying(); }, 10000));
        EXPECT_TRUE(played() == bytes(staircase(std::size_t(c.end - c.first), 1, c.first)))
            << c.button;
        EXPECT_GT(position.count(), 2) << "the position is followed while playing";
        EXPECT_EQ(position.constLast().at(0).toLongLong(), c.end / 8);
    }
    // Looped, the selection comes again right after its end, until Stop.
    f->chkLoop->setChecked(true);
    device->clearPlayed();
    click(*w, "CmdPlaySel");
    const QByteArray once = bytes(staircase(8000, 1, 4000)); // 500 to 1500 ms
    ASSERT_TRUE(QTest::qWaitFor([&] { return played().size() > 2 * once.size(); }, 10000));
    click(*w, "CmdEditStop");
    EXPECT_TRUE(played().left(2 * once.size()) == once + once);
    EXPECT_FALSE(w->editorPlayer->isPlaying());
}

TEST_F(EditorMore, TheClipLengthTurnsRedPastTheTarget) {
    open(8000, std::vector<std::int16_t>(8000 * 50)); // 50 s of silence
    const QColor normal = f->lblClipLength->palette().color(QPalette::WindowText);
    const struct {
        qint64 in, out;
        int target; // index in cmbTarget
        const char* text;
        bool red;
    } cases[] = {{0, 30000, 1, "Clip 0:30.0", false}, {0, 30001, 1, "Clip 0:30.1", true},
                 {0, 30001, 2, "Clip 0:30.1", false}, {1000, 42000, 2, "Clip 0:41.0", true},
                 {0, 50000, 0, "Clip 0:50.0", false}, {9000, 2000, 1, "Clip 0:00.0", false}};
    for (const auto& c : cases) {
        f->cmbTarget->setCurrentIndex(c.target);
        w->editor->setMarkIn(c.in);
        w->editor->setMarkOut(c.out);
        EXPECT_EQ(f->lblClipLength->text(), c.text);
        const QColor shown = f->lblClipLength->palette().color(QPalette::WindowText);
        EXPECT_EQ(shown != normal && shown.red() > 2 * shown.green(), c.red) << c.text;
    }
    EXPECT_EQ(f->cmbTarget->itemText(2), "0:40 (ringtone)");
}

TEST_F(EditorMore, KeysPlayMarkAndMoveAboutWhileTheFrameHasTheFocus) {
    open(8000, staircase(16000, 1));
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    ASSERT_TRUE(f->hasFocus()) << "opening a song hands the editor the keys";
    w->editor->seek(700);
    const struct {
        int key;
        qint64 in, out, position;
    } keys[] = {{Qt::Key_I, 700, 2000, 700},
                {Qt::Key_Period, 710, 2000, 700},
                {Qt::Key_Less, 0, 2000, 700},
                {Qt::Key_Greater, 1000, 2000, 700},
                {Qt::Key_Comma, 990, 2000, 700},
                {Qt::Key_BracketLeft, 990, 1990, 700},
                {Qt::Key_BraceLeft, 990, 990, 700},
                {Qt::Key_BraceRight, 990, 1990, 700},
                {Qt::Key_BracketRight, 990, 2000, 700},
                {Qt::Key_Home, 990, 2000, 990},
                {Qt::Key_End, 990, 2000, 2000},
                {Qt::Key_O, 990, 2000, 2000}};
    for (const auto& k : keys) {
        QTest::keyClick(f, Qt::Key(k.key));
        EXPECT_EQ(w->MarkIn, k.in) << QKeySequence(k.key).toString().toStdString();
        EXPECT_EQ(w->MarkOut, k.out) << QKeySequence(k.key).toString().toStdString();
        EXPECT_EQ(w->editorPlayer->Position(), k.position);
    }
    w->editor->seek(0);
    QTest::keyClick(f, Qt::Key_Space);
    EXPECT_TRUE(w->editorPlayer->isPlaying());
    QTest::keyClick(f, Qt::Key_Space);
    EXPECT_FALSE(w->editorPlayer->isPlaying());
    // Typing in a mark's field is typing, not keys.
    f->txtMarkIn->setFocus();
    QTest::keyClicks(f->txtMarkIn, "1.");
    EXPECT_EQ(f->txtMarkIn->text(), "0:00.9901.");
    EXPECT_EQ(w->MarkIn, 990);
    // No cut yet: nothing to undo.
    auto* undo = w->findChild<QAction*>("actUndoCut");
    ASSERT_NE(undo, nullptr);
    EXPECT_FALSE(undo->isEnabled());
}

TEST_F(EditorMore, UndoIsOfferedOnlyWithAnUndoAndOpensTheSongAgainWithTheCutsMarks) {
    const QString song = path("copy.wav");
    ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(16000, 1)));
    const QByteArray whole = readFile(song);
    EditSongFrame frame;
    WavPlayer edit(device), list(device);
    QString mode;
    qint64 in = 0, out = 0;
    QStringList undone;
    EditorServices s;
    s.dialogs = &dialogs;
    s.editorPlayer = &edit;
    s.listPlayer = &list;
    s.ListMode = &mode;
    s.MarkIn = &in;
    s.MarkOut = &out;
    s.selectedCopy = [&] { return song; };
    s.selectedName = [] { return QStringLiteral("copy"); };
    s.hideListPlayer = [] {};
    s.undoCut = [&](const QString& copy) {
        undone << copy;
        if (!test::writeFile(copy, whole))
            return Status(Error(copy, QStringLiteral("not written")));
        return Status();
    };
    BusyWindow busy;
    Jobs jobs(frame, busy);
    s.jobs = &jobs;
    EditorHandlers editor(frame, s);
    auto* undo = frame.findChild<QAction*>("actUndoCut");
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_FALSE(undo->isEnabled()) << "nothing to undo yet";

    editor.List1_DblClick();
    editor.setMarkIn(500);
    editor.setMarkOut(1000);
    editor.CmdEditDone_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !jobs.running(); }, 20000));
    ASSERT_EQ(samples16(readFile(song)).size(), 4000u);
    EXPECT_TRUE(undo->isEnabled());
    QSignalSpy opened(&editor, &EditorHandlers::songOpened);
    undo->trigger();
    EXPECT_EQ(undone, QStringList{song});
    EXPECT_EQ(opened.count(), 1);
    EXPECT_TRUE(frame.CmdEditDone->isEnabled());
    EXPECT_EQ(mode, "Edit");
    EXPECT_EQ(edit.Length(), 2000);
    EXPECT_EQ(std::pair(in, out), std::pair(qint64(500), qint64(1000))) << "the cut's marks";
    EXPECT_EQ(frame.txtMarkOut->text(), "0:01.000");
}

// The waveform follows the song and the marks, and its handles set them; "Done" fades and
// normalises the clip as asked, and the cut can be undone to the byte.
TEST_F(EditorMore, TheWaveformFollowsTheMarksAndDoneWithEffectsCanBeUndone) {
    open(8000, std::vector<std::int16_t>(8000, 1000)); // 1 s of a constant level
    auto* view = f->findChild<WaveformView*>();
    ASSERT_NE(view, nullptr);
    const auto showsTheSong = [&] {
        return QTest::qWaitFor([&] { return view->lengthMs() == 1000; }, 5000);
    };
    ASSERT_TRUE(showsTheSong());
    // The handles are lines the height of the waveform, In green and Out red.
    const QColor inHandle(0, 140, 60), outHandle(200, 40, 40);
    const auto shownAt = [&](qint64 ms) {
        const int x = int(std::floor(view->xOf(double(view->frameOfMs(ms)))));
        return view->grab().toImage().pixelColor(x, view->height() / 3);
    };
    const QString copy = w->songListPanel->workingCopy(0);
    emit view->markInMoved(200);
    EXPECT_EQ(w->MarkIn, 200);
    EXPECT_EQ(shownAt(200), inHandle);
    w->editor->setMarkOut(700);
    EXPECT_EQ(shownAt(700), outHandle);

    const QByteArray before = readFile(copy);
    f->spnFadeIn->setValue(100);
    f->cmbNormalise->setCurrentIndex(f->cmbNormalise->findData(int(ClipEffects::Normalise::Peak)));
    f->spnNormTarget->setValue(-6.0);
    click(*w, "CmdEditDone");
    const auto s = samples16(readFile(copy));
    ASSERT_EQ(s.size(), 4000u); // 200 to 700 ms
    EXPECT_EQ(s.front(), 0);    // the fade starts from silence
    const auto level = std::int16_t(std::lround(32767 * std::pow(10.0, -6.0 / 20)));
    EXPECT_EQ(s[100], std::lround(125.0 * level / 1000));    // 1000 x 100/800 faded, then the gain
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), level); // -6 dBFS exactly
    EXPECT_EQ(s.back(), level);
    EXPECT_FALSE(f->lblDoneResult->text().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->lengthMs() == 500; }, 5000)) << "the clip";

    ASSERT_TRUE(f->CmdUndoCut->isEnabled());
    click(*w, "CmdUndoCut");
    EXPECT_EQ(readFile(copy), before);
    EXPECT_TRUE(f->CmdEditDone->isEnabled());
    EXPECT_TRUE(showsTheSong());
    EXPECT_FALSE(f->CmdUndoCut->isEnabled()); // nothing more to undo
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
}

} // namespace
