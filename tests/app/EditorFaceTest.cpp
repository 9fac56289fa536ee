// What a new user sees of the clip editor: the clip right after "Done" and the song after "Undo
// Cut", the slider and the waveform moving the play position alike, the reason beside marks
// that cannot be cut (as they are typed, nothing moving), the times all written one way,
// nothing cut off at the least window size, screen reader names.
#include "app/WindowFixture.h"
#include "editor/ClipEffects.h"
#include "editor/EditorHandlers.h"
#include "editor/TimeRuler.h"
#include "editor/WaveformView.h"
#include "support/TestAudio.h"

#include <QComboBox>
#include <QRegularExpression>
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
        view = f->findChild<WaveformView*>();
        ASSERT_TRUE(view && f->CmdEditDone->isEnabled());
    }
    void SetUp() override {
        WindowFixture::SetUp();
        f = w->editorFrame;
    }
    bool shows(qint64 ms) {
        return QTest::qWaitFor([&] { return view->lengthMs() == ms; }, 5000);
    }
    EditSongFrame* f = nullptr;
    WaveformView* view = nullptr;
};

TEST_F(EditorFace, DoneShowsTheClipAndUndoTheSongReadyToPlay) {
    openSong(16000); // 2 s
    f->spnFadeIn->setValue(100);
    f->cmbNormalise->setCurrentIndex(f->cmbNormalise->findData(int(ClipEffects::Normalise::Peak)));
    const struct {
        const char* button;
        qint64 in, out;                   // the marks before
        qint64 length, shownIn, shownOut; // after
    } steps[] = {{"CmdEditDone", 500, 1500, 1000, 0, 1000},
                 {"CmdUndoCut", 0, 1000, 2000, 500, 1500},   // the cut's marks
                 {"CmdEditDone", 500, 1500, 1000, 0, 1000}}; // no fade nor level twice
    for (const auto& s : steps) {
        w->editor->setMarkIn(s.in);
        w->editor->setMarkOut(s.out);
        click(*w, s.button);
        EXPECT_TRUE(shows(s.length)) << s.button;
        EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut), std::pair(s.shownIn, s.shownOut));
        EXPECT_EQ(std::pair(f->SliderEdit->maximum(), f->SliderEdit->value()),
                  std::pair(int(s.length / 1000), 0));
        EXPECT_TRUE(f->CmdEditPlay->isEnabled() && f->CmdPlaySel->isEnabled());
        EXPECT_EQ(f->spnFadeIn->value() + f->cmbNormalise->currentIndex(), 0);
    }
    EXPECT_EQ(samples16(readFile(w->songListPanel->workingCopy(0))), staircase(8000, 1, 4000));
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
}

TEST_F(EditorFace, SliderAndWaveformMoveThePlayPositionAlike) {
    openSong(80000); // 10 s, 1 s at the test clock
    ASSERT_TRUE(shows(10000));
    for (const bool slider : {true, false})
        for (const bool playing : {false, true}) {
            click(*w, "CmdEditStop");
            w->editor->seek(0);
            if (playing)
                click(*w, "CmdEditPlay");
            const int x = int(view->xOf(double(view->frameOfMs(5000))));
            if (slider) {
                f->SliderEdit->setSliderDown(true);
                f->SliderEdit->setSliderPosition(5);
                f->SliderEdit->setSliderDown(false);
            } else {
                QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, view->height() / 2));
            }
            const qint64 to = slider ? 5000 : view->msOfFrame(view->frameAt(x));
            EXPECT_EQ(w->editorPlayer->isPlaying(), playing) << slider;
            EXPECT_GE(w->editorPlayer->Position(), to) << slider;
            EXPECT_LT(w->editorPlayer->Position(), to + (playing ? 1000 : 1)) << slider;
        }
}

TEST_F(EditorFace, MarksThatCannotBeCutAreExplainedBesideThemAndByDone) {
    openSong(16000); // 2 s
    const struct {
        QLineEdit* field;
        const char* text;
        const char* why; // empty: the marks can be cut
    } cases[] = {
        {f->txtMarkOut, "0:00.500", ""},
        {f->txtMarkIn, "0:00.500", "Out must be after In"},
        {f->txtMarkIn, "1:2:3:4", "Not a time: type m:ss.mmm (1:02.500) or seconds (62.5)"},
        {f->txtMarkIn, "0:00.100", ""},
        {f->txtMarkOut, "0:03", "The song ends at 0:02.000"}};
    for (const auto& c : cases) {
        c.field->setText(QLatin1String(c.text));
        QTest::keyClick(c.field, Qt::Key_Return);
        EXPECT_EQ(f->lblMarkError->text(), QLatin1String(c.why));
        EXPECT_EQ(f->lblMarkError->isVisible(), *c.why != 0);
        if (*c.why != 0) {
            click(*w, "CmdEditDone");
            EXPECT_EQ(dialogs.messageTexts().constLast(),
                      QStringLiteral("Time Input Error: %1.").arg(c.why));
        }
    }
    EXPECT_EQ(samples16(readFile(w->songListPanel->workingCopy(0))).size(), 16000u) << "never cut";
}

TEST_F(EditorFace, ATypedMarkIsExplainedAsItIsTypedAndNothingMovesForIt) {
    openSong(16000); // 2 s
    QCoreApplication::processEvents();
    const auto places = [&] {
        QList<QRect> r;
        for (const QWidget* c : std::initializer_list<const QWidget*>{f->waveHost, f->SliderEdit,
                                                                      f->txtMarkIn, f->CmdEditDone})
            r << c->geometry();
        return r;
    };
    const QList<QRect> before = places();
    const struct {
        const char* text;
        const char* why;
    } typed[] = {{"x", "Not a time: type m:ss.mmm (1:02.500) or seconds (62.5)"},
                 {"0:03", "The song ends at 0:02.000"},
                 {"0:02", "Out must be after In"},
                 {"0:01", ""}};
    for (const auto& t : typed) {
        f->txtMarkIn->selectAll();
        QTest::keyClicks(f->txtMarkIn, QLatin1String(t.text));
        QCoreApplication::processEvents(); // the layouts settle
        EXPECT_EQ(f->lblMarkError->text(), QLatin1String(t.why)) << t.text;
        EXPECT_EQ(f->lblMarkError->isVisible(), *t.why != 0) << t.text;
        EXPECT_EQ(places(), before) << t.text;
        EXPECT_EQ(w->MarkIn, 0) << "set when the typing is done";
    }
    QTest::keyClick(f->txtMarkIn, Qt::Key_Return);
    EXPECT_EQ(w->MarkIn, 1000);
}

// A position or a mark to the millisecond, a length to the second or the tenth: "m:ss.mmm",
// "m:ss", "m:ss.t", hours only from an hour on, and no time on the panel written otherwise.
TEST_F(EditorFace, EveryTimeOnThePanelIsWrittenTheWindowsWay) {
    openSong(8000 * 65); // 1:05
    w->editor->seek(61234);
    w->editor->setMarkIn(1500);
    w->editor->setMarkOut(62250);
    f->txtMarkOut->selectAll();
    QTest::keyClicks(f->txtMarkOut, QStringLiteral("1:06"));
    const struct {
        QString shown;
        const char* expected;
    } texts[] = {{f->Lbltotal->text(), "1:01.234"},
                 {f->txtMarkIn->text(), "0:01.500"},
                 {f->lblClipLength->text(), "Clip 1:00.8"}, // 60.75 s
                 {f->lblMarkError->text(), "The song ends at 1:05.000"},
                 {f->cmbTarget->itemText(1), "0:30"},
                 {rulerLabel(61.234, 0.001), "1:01.234"},
                 {rulerLabel(60, 10), "1:00"}};
    for (const auto& t : texts)
        EXPECT_EQ(t.shown, QLatin1String(t.expected));
    EXPECT_EQ(f->lblTarget->buddy(), f->cmbTarget);
    EXPECT_EQ(f->lblTarget->text(), "Limit:");

    static const QRegularExpression anyTime(QStringLiteral(R"(\d+(?::\d+)+(?:\.\d+)?)"));
    static const QRegularExpression ours(
        QStringLiteral(R"(^(?:[1-9]\d*:[0-5]\d|[1-5]?\d):[0-5]\d(?:\.\d|\.\d{3})?$)"));
    QStringList shown;
    for (const QWidget* c : f->findChildren<QWidget*>()) {
        shown << c->toolTip();
        if (auto* l = qobject_cast<const QLabel*>(c))
            shown << l->text();
        else if (auto* e = qobject_cast<const QLineEdit*>(c))
            shown << e->text();
        else if (auto* b = qobject_cast<const QComboBox*>(c))
            for (int i = 0; i < b->count(); ++i)
                shown << b->itemText(i);
    }
    int times = 0;
    for (const QString& text : shown)
        for (const auto& m : anyTime.globalMatch(text)) {
            ++times;
            EXPECT_TRUE(ours.match(m.captured()).hasMatch()) << qPrintable(text);
        }
    EXPECT_GE(times, 7);
}

TEST_F(EditorFace, AtTheLeastSizeNothingIsCutOffAndEveryControlIsNamedInTabOrder) {
    w->resize(719, 476);
    openSong(16000);
    f->cmbNormalise->setCurrentIndex(2); // loudness
    click(*w, "CmdEditDone");
    f->txtMarkIn->setText(QStringLiteral("x"));
    QTest::keyClick(f->txtMarkIn, Qt::Key_Return);
    ASSERT_TRUE(f->lblDoneResult->isVisible() && f->lblMarkError->isVisible());
    QCoreApplication::processEvents(); // the layouts settle
    QList<QWidget*> shown = f->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    shown.removeIf([](const QWidget* c) { return !c->isVisible(); });
    for (const QWidget* c : shown) {
        const std::string name = c->objectName().toStdString();
        EXPECT_TRUE(f->rect().contains(c->geometry())) << name;
        for (const QWidget* d : shown)
            EXPECT_TRUE(c == d || !c->geometry().intersects(d->geometry())) << name;
        EXPECT_TRUE(c == f->waveHost || !c->accessibleName().isEmpty()) << name;
        if (auto* l = qobject_cast<const QLabel*>(c)) {
            EXPECT_LE(l->wordWrap() ? l->heightForWidth(l->width())
                                    : l->fontMetrics().horizontalAdvance(l->text()),
                      l->wordWrap() ? l->height() : l->contentsRect().width())
                << name;
        } else if (auto* combo = qobject_cast<const QComboBox*>(c)) {
            QStyleOptionComboBox o;
            o.initFrom(combo);
            const int room =
                combo->style()
                    ->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, combo)
                    .width();
            for (int i = 0; i < combo->count(); ++i)
                EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->itemText(i)), room) << name;
        }
    }
    // The focus goes row by row.
    const QStringList order =
        QStringLiteral(
            "SliderEdit CmdEditPlay CmdEditStop CmdPlaySel chkLoop chkSnap txtMarkIn CmdMarkin "
            "CmdPlayIn txtMarkOut CmdMarkOut CmdPlayOut CmdExport spnFadeIn spnFadeOut "
            "cmbNormalise "
            "spnNormTarget cmbTarget CmdUndoCut CmdEditDone")
            .split(QLatin1Char(' '));
    QStringList seen{"SliderEdit"};
    for (QWidget* at = f->SliderEdit->nextInFocusChain(); at != f->SliderEdit;
         at = at->nextInFocusChain())
        if (order.contains(at->objectName()) && !seen.contains(at->objectName()))
            seen << at->objectName();
    EXPECT_EQ(seen, order);
}

} // namespace
