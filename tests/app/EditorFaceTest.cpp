// What a new user sees of the clip editor: the clip shown right after "Done" and the song after
// "Undo Cut", the slider and the waveform moving the play position alike, the reason beside the
// marks when they cannot be cut, no text cut off at the window's least size, and names for
// screen readers with a tab order.
#include "app/WindowFixture.h"
#include "editor/ClipEffects.h"
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/WaveformView.h"
#include "support/TestAudio.h"

#include <QComboBox>
#include <QStyleOptionComboBox>
#include <QTest>

using namespace quaverly;
using namespace quaverly::test;

namespace {

class EditorFace : public WindowFixture {
protected:
    // A mono 8 kHz staircase song of `frames` frames, added and opened in the editor.
    void openSong(int frames) {
        ASSERT_TRUE(writeWav16(path("song.wav"), 1, 8000, staircase(std::size_t(frames), 1)));
        dialogs.queueFile(path("song.wav"));
        click(*w, "CmdAdd");
        list->setCurrentRow(0);
        emit list->itemDoubleClicked(list->item(0));
        f = w->frameEditSong;
        view = f->findChild<WaveformView*>();
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(f->CmdEditDone->isEnabled());
    }
    static void type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    EditSongFrame* f = nullptr;
    WaveformView* view = nullptr;
};

TEST_F(EditorFace, DoneShowsTheClipAndUndoTheSongReadyToPlay) {
    openSong(16000); // 2 s
    f->spnFadeIn->setValue(100);
    f->cmbNormalise->setCurrentIndex(f->cmbNormalise->findData(int(ClipEffects::Normalise::Peak)));
    const struct {
        const char* step;
        const char* button;
        qint64 in, out; // the marks before the step
        qint64 length;  // what the editor shows after it
        qint64 shownIn, shownOut;
    } steps[] = {
        {"Done with a fade and the peak", "CmdEditDone", 500, 1500, 1000, 0, 1000},
        {"Undo Cut", "CmdUndoCut", 0, 1000, 2000, 500, 1500},
        {"Done again: no fade nor level twice", "CmdEditDone", 500, 1500, 1000, 0, 1000},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        w->editor->setMarkIn(s.in);
        w->editor->setMarkOut(s.out);
        click(*w, s.button);
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->lengthMs() == s.length; }, 5000));
        EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut), std::pair(s.shownIn, s.shownOut));
        EXPECT_EQ(f->SliderEdit->maximum(), int(s.length / 1000));
        EXPECT_EQ(f->SliderEdit->value(), 0);
        EXPECT_EQ(w->MMCEdit->Position(), 0);
        EXPECT_TRUE(f->CmdEditPlay->isEnabled());
        EXPECT_TRUE(f->CmdPlaySel->isEnabled());
        EXPECT_EQ(f->spnFadeIn->value(), 0);
        EXPECT_EQ(f->cmbNormalise->currentData().toInt(), int(ClipEffects::Normalise::Off));
    }
    // The last clip is the song's frames 4000 to 12000 untouched.
    EXPECT_EQ(samples16(readFile(w->Framewav->workingCopy(0))), staircase(8000, 1, 4000));
    click(*w, "CmdEditPlay");
    EXPECT_TRUE(w->MMCEdit->isPlaying());
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
}

TEST_F(EditorFace, SliderAndWaveformMoveThePlayPositionAlike) {
    openSong(80000); // 10 s, 1 s at the test clock
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->lengthMs() == 10000; }, 5000));
    const auto bySlider = [&] {
        f->SliderEdit->setSliderDown(true);
        f->SliderEdit->setSliderPosition(5);
        f->SliderEdit->setSliderDown(false);
        return qint64(5000);
    };
    const auto byWaveform = [&] {
        const int x = int(view->xOf(double(view->frameOfMs(5000))));
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, view->height() / 2));
        return view->msOfFrame(view->frameAt(x));
    };
    const struct {
        const char* how;
        std::function<qint64()> move;
        bool playing;
    } cases[] = {{"slider, stopped", bySlider, false},
                 {"slider, playing", bySlider, true},
                 {"waveform, stopped", byWaveform, false},
                 {"waveform, playing", byWaveform, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        click(*w, "CmdEditStop");
        w->editor->seek(0);
        if (c.playing)
            click(*w, "CmdEditPlay");
        const qint64 to = c.move();
        EXPECT_EQ(w->MMCEdit->isPlaying(), c.playing);
        EXPECT_GE(w->MMCEdit->Position(), to);
        EXPECT_LT(w->MMCEdit->Position(), c.playing ? to + 1000 : to + 1);
    }
}

TEST_F(EditorFace, MarksThatCannotBeCutAreExplainedBesideThemAndByDone) {
    openSong(16000); // 2 s
    const struct {
        bool in;
        const char* text;
        const char* why; // empty: the marks can be cut
    } cases[] = {
        {false, "0:00.500", ""},
        {true, "0:00.800", "Out must be after In"},
        {true, "0:00.500", "Out must be after In"}, // an empty clip neither
        {true, "0:00.200", ""},
        {true, "1:2:3:4", "Not a time: type m:ss.mmm (1:02.500) or seconds (62.5)"},
        {true, "0:00.100", ""},
        {false, "0:03", "The song is only 00:02.000 long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        type(c.in ? f->txtMarkIn : f->txtMarkOut, QLatin1String(c.text));
        EXPECT_EQ(f->lblMarkError->text(), QLatin1String(c.why));
        EXPECT_EQ(f->lblMarkError->isVisible(), *c.why != 0);
        if (*c.why == 0)
            continue;
        const qsizetype told = dialogs.messageTexts().size();
        click(*w, "CmdEditDone");
        ASSERT_EQ(dialogs.messageTexts().size(), told + 1);
        EXPECT_EQ(dialogs.messageTexts().constLast(),
                  QStringLiteral("Time Input Error: %1.").arg(c.why));
        EXPECT_EQ(samples16(readFile(w->Framewav->workingCopy(0))).size(), 16000u) << "not cut";
    }
}

TEST_F(EditorFace, NoTextIsCutOffAtTheLeastWindowSize) {
    w->resize(719, 476);
    openSong(16000);
    f->cmbNormalise->setCurrentIndex(
        f->cmbNormalise->findData(int(ClipEffects::Normalise::Loudness)));
    click(*w, "CmdEditDone");
    ASSERT_FALSE(f->lblDoneResult->text().isEmpty());
    type(f->txtMarkIn, QStringLiteral("1:2:3:4"));
    ASSERT_TRUE(f->lblMarkError->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->size() == QSize(719, 476); }, 5000));
    QCoreApplication::processEvents(); // the layouts settle
    for (const QLabel* l : f->findChildren<QLabel*>()) {
        if (!l->isVisible() || l->text().isEmpty())
            continue;
        SCOPED_TRACE(l->objectName().toStdString() + ": " + l->text().toStdString());
        const QRect room = l->contentsRect();
        if (l->wordWrap()) {
            EXPECT_LE(l->heightForWidth(l->width()), l->height());
        } else if (!l->text().contains(QLatin1Char('\n'))) {
            EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), room.width());
        }
    }
    // Every control inside the frame, none over another.
    QList<QWidget*> shown = f->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    shown.removeIf([](const QWidget* c) { return !c->isVisible(); });
    for (const QWidget* c : shown) {
        EXPECT_TRUE(f->rect().contains(c->geometry())) << c->objectName().toStdString();
        for (const QWidget* d : shown)
            EXPECT_TRUE(c == d || !c->geometry().intersects(d->geometry()))
                << c->objectName().toStdString() << " over " << d->objectName().toStdString();
    }
    for (const QComboBox* c : f->findChildren<QComboBox*>()) {
        QStyleOptionComboBox option;
        option.initFrom(c);
        option.editable = false;
        const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, c);
        for (int i = 0; i < c->count(); ++i)
            EXPECT_LE(c->fontMetrics().horizontalAdvance(c->itemText(i)), field.width())
                << c->objectName().toStdString() << ": " << c->itemText(i).toStdString();
    }
}

TEST_F(EditorFace, EveryControlHasANameForScreenReadersAndTabsInReadingOrder) {
    openSong(8000);
    QList<QWidget*> controls = f->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    controls << f->lblWaveHint;
    for (const QWidget* c : controls) {
        if ((c->focusPolicy() & Qt::TabFocus) || qobject_cast<const QLabel*>(c)) {
            EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
        }
    }
    const QStringList order{"SliderEdit",    "CmdEditPlay", "CmdEditStop", "CmdPlaySel",
                            "chkLoop",       "chkSnap",     "txtMarkIn",   "CmdMarkin",
                            "CmdPlayIn",     "txtMarkOut",  "CmdMarkOut",  "CmdPlayOut",
                            "CmdExport",     "spnFadeIn",   "spnFadeOut",  "cmbNormalise",
                            "spnNormTarget", "cmbTarget",   "CmdUndoCut",  "CmdEditDone"};
    QStringList seen;
    for (QWidget* at = f->SliderEdit; seen.size() < order.size(); at = at->nextInFocusChain()) {
        if (order.contains(at->objectName()) && !seen.contains(at->objectName()))
            seen << at->objectName();
        if (at->nextInFocusChain() == f->SliderEdit)
            break;
    }
    EXPECT_EQ(seen, order);
}

} // namespace
