// The clip editor's marks: the buttons' and keys' marks, typed times, the snap to a zero
// crossing, and the clip's length against its target.
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

// A field whose text could not be taken holds these: true, and the reason.
const char kErrorProperty[] = "timeError";
const char kReasonProperty[] = "timeErrorReason";

QString fieldTip(bool in) {
    return in ? EditorHandlers::tr("The In mark to the millisecond: type a time (m:ss.mmm, or "
                                   "seconds) and press Enter.\nI sets it at the play position, "
                                   "Home goes there; , and . move it by 10 ms, < and > by 1 s.")
              : EditorHandlers::tr("The Out mark to the millisecond: type a time (m:ss.mmm, or "
                                   "seconds) and press Enter.\nO sets it at the play position, "
                                   "End goes there; [ and ] move it by 10 ms, { and } by 1 s.");
}

void clearError(QLineEdit* field) {
    if (!field->property(kErrorProperty).toBool())
        return;
    field->setProperty(kErrorProperty, false);
    field->setProperty(kReasonProperty, QString());
    field->setStyleSheet(QString());
}

} // namespace

void EditorHandlers::connectMarks() {
    frame_.txtMarkIn->setToolTip(fieldTip(true));
    frame_.txtMarkOut->setToolTip(fieldTip(false));
    connect(frame_.txtMarkIn, &QLineEdit::editingFinished, this,
            [this] { applyTypedMark(Mark::In); });
    connect(frame_.txtMarkOut, &QLineEdit::editingFinished, this,
            [this] { applyTypedMark(Mark::Out); });
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

void EditorHandlers::applyMark(Mark which, qint64 ms, int direction, const QString& label) {
    if (!editing_)
        return;
    ms = std::clamp<qint64>(ms, 0, grid_.isValid() ? grid_.lengthMs() : s_.MMCEdit->Length());
    if (frame_.chkSnap->isChecked())
        ms = snapped(which, ms, direction);
    (which == Mark::In ? *s_.MarkIn : *s_.MarkOut) = ms;
    (which == Mark::In ? frame_.Lblin : frame_.Lblout)
        ->setText(label.isEmpty() ? timeText(ms) : label);
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

void EditorHandlers::applyTypedMark(Mark which) {
    QLineEdit* field = which == Mark::In ? frame_.txtMarkIn : frame_.txtMarkOut;
    const qint64 current = which == Mark::In ? *s_.MarkIn : *s_.MarkOut;
    if (!editing_ || field->text().trimmed() == markText(current)) {
        clearError(field);
        showMarkProblem();
        return; // nothing typed: the mark stays where it is, unsnapped
    }
    const auto us = parseMarkTime(field->text());
    if (!us) {
        showMarkError(field, tr("Not a time: type m:ss.mmm (1:02.500) or seconds (62.5)"));
        return;
    }
    const qint64 length = grid_.isValid() ? grid_.lengthMs() : s_.MMCEdit->Length();
    if (*us > length * 1000) {
        showMarkError(field, tr("The song is only %1 long").arg(markText(length)));
        return;
    }
    qint64 ms = (*us + 500) / 1000;
    if (grid_.isValid()) {
        const FramePoint at = grid_.pointAt(*us);
        ms = which == Mark::In ? grid_.inMarkNear(at) : grid_.outMarkNear(*s_.MarkIn, at);
    }
    clearError(field);
    applyMark(which, ms, 0);
}

void EditorHandlers::showMarkError(QLineEdit* field, const QString& why) {
    // Said under the fields, not in a box nor a tip over the other field: the typing goes on
    // from there, and the next click lands where it is aimed.
    field->setProperty(kErrorProperty, true);
    field->setProperty(kReasonProperty, why);
    field->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid #c62828; }"));
    showMarkProblem();
}

QString EditorHandlers::markProblem() const {
    for (const QLineEdit* field : {frame_.txtMarkIn, frame_.txtMarkOut})
        if (field->property(kErrorProperty).toBool())
            return field->property(kReasonProperty).toString();
    if (*s_.MarkIn >= *s_.MarkOut)
        return tr("Out must be after In");
    return {};
}

void EditorHandlers::showMarkProblem() {
    frame_.setMarkError(editing_ ? markProblem() : QString());
}

void EditorHandlers::showMarks() {
    const struct {
        QLineEdit* field;
        qint64 mark;
    } fields[] = {{frame_.txtMarkIn, *s_.MarkIn}, {frame_.txtMarkOut, *s_.MarkOut}};
    for (const auto& f : fields) {
        clearError(f.field);
        f.field->setText(markText(f.mark));
    }
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
    gauge.setText(tr("Clip %1").arg(lengthText(length)));
    // Red past the target; otherwise the frame's own colours.
    QPalette palette;
    if (over)
        palette.setColor(QPalette::WindowText, alertText(frame_.palette()));
    gauge.setPalette(palette);
    gauge.setToolTip(
        over ? tr("The clip is %1 longer than the target").arg(lengthText(length - target))
             : tr("The clip's length between the marks"));
}

} // namespace quaverly
