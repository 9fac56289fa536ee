// The clip editor's marks: the buttons' and keys' marks, typed times, the snap to a zero
// crossing, and the clip's length against its limit.
//
// A typed time is checked as it is typed: what is wrong with it (not a time, past the song's
// end, Out not after In) shows under the fields at once and goes as soon as the text is right.
// The mark itself is set when the typing is done (Enter, or the focus leaving the field), not at
// every key: on the way to "1:23.500" the text passes "1", "1:2" and "1:23", and marks (and
// the waveform's handles, and a snap) jumping through those would only get in the way.
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/TimeText.h"
#include "editor/ZeroCrossing.h"
#include "engines/player/WavPlayer.h"
#include "engines/util/FrameTime.h"
#include "ui/ThemeColours.h"

#include <algorithm>

namespace quaverly {

namespace {

// A field whose text cannot be taken holds true in this.
const char kErrorProperty[] = "timeError";

QString fieldTip(bool in) {
    return in ? EditorHandlers::tr("The In mark to the millisecond: type a time (m:ss.mmm, or "
                                   "seconds) and press Enter.\nI sets it at the play position, "
                                   "Home goes there; , and . move it by 10 ms, < and > by 1 s.")
              : EditorHandlers::tr("The Out mark to the millisecond: type a time (m:ss.mmm, or "
                                   "seconds) and press Enter.\nO sets it at the play position, "
                                   "End goes there; [ and ] move it by 10 ms, { and } by 1 s.");
}

// Marks the field whose text cannot be taken, or clears it.
void showFieldError(QLineEdit* field, bool error) {
    if (field->property(kErrorProperty).toBool() == error)
        return;
    field->setProperty(kErrorProperty, error);
    field->setStyleSheet(error ? QStringLiteral("QLineEdit { border: 1px solid #c62828; }")
                               : QString());
}

} // namespace

void EditorHandlers::connectMarks() {
    frame_.txtMarkIn->setToolTip(fieldTip(true));
    frame_.txtMarkOut->setToolTip(fieldTip(false));
    connect(frame_.txtMarkIn, &QLineEdit::editingFinished, this,
            [this] { applyTypedMark(Mark::In); });
    connect(frame_.txtMarkOut, &QLineEdit::editingFinished, this,
            [this] { applyTypedMark(Mark::Out); });
    for (QLineEdit* field : {frame_.txtMarkIn, frame_.txtMarkOut})
        connect(field, &QLineEdit::textEdited, this, &EditorHandlers::showMarkProblem);
    connect(frame_.cmbTarget, &QComboBox::currentIndexChanged, this,
            &EditorHandlers::showClipLength);
    connect(frame_.actMarkIn, &QAction::triggered, this, &EditorHandlers::CmdMarkin_Click);
    connect(frame_.actMarkOut, &QAction::triggered, this, &EditorHandlers::CmdMarkOut_Click);
    const struct {
        QAction* key;
        Mark mark;
        qint64 delta;
    } nudges[] = {{frame_.actInEarlier, Mark::In, -kNudgeMs},
                  {frame_.actInLater, Mark::In, kNudgeMs},
                  {frame_.actInEarlier1s, Mark::In, -kNudgeLongMs},
                  {frame_.actInLater1s, Mark::In, kNudgeLongMs},
                  {frame_.actOutEarlier, Mark::Out, -kNudgeMs},
                  {frame_.actOutLater, Mark::Out, kNudgeMs},
                  {frame_.actOutEarlier1s, Mark::Out, -kNudgeLongMs},
                  {frame_.actOutLater1s, Mark::Out, kNudgeLongMs}};
    for (const auto& n : nudges) {
        connect(n.key, &QAction::triggered, this, [this, mark = n.mark, delta = n.delta] {
            mark == Mark::In ? nudgeMarkIn(delta) : nudgeMarkOut(delta);
        });
    }
    showMarks();
}

void EditorHandlers::setMarkIn(qint64 ms) {
    applyMark(Mark::In, ms, 0);
}

void EditorHandlers::setMarkOut(qint64 ms) {
    applyMark(Mark::Out, ms, 0);
}

void EditorHandlers::nudgeMarkIn(qint64 deltaMs) {
    applyMark(Mark::In, *s_.MarkIn + deltaMs, deltaMs < 0 ? -1 : 1);
}

void EditorHandlers::nudgeMarkOut(qint64 deltaMs) {
    applyMark(Mark::Out, *s_.MarkOut + deltaMs, deltaMs < 0 ? -1 : 1);
}

qint64 EditorHandlers::songLengthMs() const {
    return grid_.isValid() ? grid_.lengthMs() : s_.editorPlayer->Length();
}

void EditorHandlers::applyMark(Mark which, qint64 ms, int direction) {
    if (!editing_)
        return;
    ms = std::clamp<qint64>(ms, 0, songLengthMs());
    if (frame_.chkSnap->isChecked())
        ms = snapped(which, ms, direction);
    (which == Mark::In ? *s_.MarkIn : *s_.MarkOut) = ms;
    showMarks();
    emit marksChanged(*s_.MarkIn, *s_.MarkOut);
}

qint64 EditorHandlers::snapped(Mark which, qint64 ms, int direction) const {
    if (!grid_.isValid())
        return ms;
    const qint64 in = *s_.MarkIn;
    const qint64 was = which == Mark::In ? in : *s_.MarkOut;
    const auto frameOf = [&](qint64 mark) {
        return which == Mark::In ? grid_.inFrame(mark) : grid_.outFrame(in, mark);
    };
    const std::uint64_t radius = frametime::msToFrames(kSnapMs, grid_.rate()).value_or(0);
    const std::uint64_t target = frameOf(ms);
    std::uint64_t lo = target > radius ? target - radius : 0;
    std::uint64_t hi = target + radius;
    // A nudge goes past the mark: only crossings on its side count.
    const std::uint64_t from = frameOf(was);
    if (direction > 0)
        lo = std::max(lo, from + 1);
    else if (direction < 0)
        hi = from > 0 ? std::min(hi, from - 1) : 0;
    if (direction < 0 && from == 0)
        return ms;
    const auto crossing = findZeroCrossing(song_, layout_, target, lo, hi);
    if (!crossing)
        return ms;
    const FramePoint at{*crossing, 0};
    const qint64 mark = which == Mark::In ? grid_.inMarkNear(at) : grid_.outMarkNear(in, at);
    // A crossing within half a millisecond of the mark may round back onto it: then the nudge
    // goes the plain distance.
    if ((direction > 0 && mark <= was) || (direction < 0 && mark >= was))
        return ms;
    return mark;
}

EditorHandlers::TypedMark EditorHandlers::typedMark(Mark which, qint64 in) const {
    const QLineEdit* field = which == Mark::In ? frame_.txtMarkIn : frame_.txtMarkOut;
    const qint64 current = which == Mark::In ? *s_.MarkIn : *s_.MarkOut;
    const auto us = parseMarkTime(field->text());
    if (!us)
        return {current, tr("Not a time: type m:ss.mmm (1:02.500) or seconds (62.5)")};
    if (*us == current * 1000)
        return {current, {}}; // the mark as it is, unsnapped
    const qint64 length = songLengthMs();
    if (*us > length * 1000)
        return {current, tr("The song ends at %1").arg(positionText(length))};
    if (!grid_.isValid())
        return {(*us + 500) / 1000, {}};
    const FramePoint at = grid_.pointAt(*us);
    return {which == Mark::In ? grid_.inMarkNear(at) : grid_.outMarkNear(in, at), {}};
}

std::pair<EditorHandlers::TypedMark, EditorHandlers::TypedMark> EditorHandlers::typedMarks() const {
    const TypedMark in = typedMark(Mark::In, *s_.MarkIn);
    // Out's frame is counted from In: from the typed one when it can be taken.
    return {in, typedMark(Mark::Out, in.why.isEmpty() ? in.ms : *s_.MarkIn)};
}

void EditorHandlers::applyTypedMark(Mark which) {
    if (!editing_)
        return;
    const TypedMark typed = typedMark(which, *s_.MarkIn);
    // A text that cannot be taken stays, explained, for the user to mend; one that gives the
    // mark as it is leaves it there (and shows it in the window's way).
    if (!typed.why.isEmpty()) {
        showMarkProblem();
        return;
    }
    if (typed.ms == (which == Mark::In ? *s_.MarkIn : *s_.MarkOut)) {
        showMarks();
        return;
    }
    applyMark(which, typed.ms, 0);
}

QString EditorHandlers::markProblem(bool asTyped) const {
    const auto [in, out] = typedMarks();
    if (!in.why.isEmpty())
        return in.why;
    if (!out.why.isEmpty())
        return out.why;
    if (asTyped ? in.ms >= out.ms : *s_.MarkIn >= *s_.MarkOut)
        return tr("Out must be after In");
    return {};
}

void EditorHandlers::showMarkProblem() {
    // Said under the fields, not in a box nor a tip over the other field: the typing goes on
    // from there, and the next click lands where it is aimed.
    const auto [in, out] = typedMarks();
    showFieldError(frame_.txtMarkIn, editing_ && !in.why.isEmpty());
    showFieldError(frame_.txtMarkOut, editing_ && !out.why.isEmpty());
    frame_.setMarkError(editing_ ? markProblem(true) : QString());
}

void EditorHandlers::showMarks() {
    const struct {
        QLineEdit* field;
        qint64 mark;
    } fields[] = {{frame_.txtMarkIn, *s_.MarkIn}, {frame_.txtMarkOut, *s_.MarkOut}};
    for (const auto& f : fields)
        f.field->setText(positionText(f.mark));
    frame_.CmdPlaySel->setEnabled(editing_ && *s_.MarkIn < *s_.MarkOut);
    showMarkProblem();
    showClipLength();
}

void EditorHandlers::showClipLength() {
    const qint64 in = *s_.MarkIn, out = *s_.MarkOut;
    const qint64 length = grid_.isValid() ? grid_.clipMs(in, out) : std::max<qint64>(out - in, 0);
    const qint64 target = frame_.cmbTarget->currentData().toLongLong();
    const bool over = target > 0 && length > target;
    QLabel& gauge = *frame_.lblClipLength;
    gauge.setText(tr("Clip %1").arg(clipLengthText(length)));
    // Red past the target; otherwise the frame's own colours.
    QPalette palette;
    if (over)
        palette.setColor(QPalette::WindowText, alertText(frame_.palette()));
    gauge.setPalette(palette);
    gauge.setToolTip(
        over ? tr("The clip is longer than the limit of %1").arg(clockSeconds(target / 1000))
             : tr("The clip's length between the marks"));
}

} // namespace quaverly
