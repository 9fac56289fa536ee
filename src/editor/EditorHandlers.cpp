#include "editor/EditorHandlers.h"

#include "editor/ClipDone.h"
#include "editor/CutHistory.h"
#include "editor/EditSongFrame.h"
#include "editor/TimeText.h"
#include "engines/player/WavPlayer.h"
#include "ui/Dialogs.h"
#include "ui/Jobs.h"
#include "ui/PlayerMessages.h"
#include "ui/Widgets.h"

#include <QAction>

#include <algorithm>
#include <memory>

namespace quaverly {

EditorHandlers::EditorHandlers(EditSongFrame& frame, EditorServices services, QObject* parent)
    : QObject(parent), frame_(frame), s_(std::move(services)) {
    connectClicks(this, {{frame_.CmdEditPlay, &EditorHandlers::CmdEditPlay_Click},
                         {frame_.CmdEditStop, &EditorHandlers::CmdEditStop_Click},
                         {frame_.CmdMarkin, &EditorHandlers::CmdMarkin_Click},
                         {frame_.CmdMarkOut, &EditorHandlers::CmdMarkOut_Click},
                         {frame_.CmdEditDone, &EditorHandlers::CmdEditDone_Click},
                         {frame_.CmdExport, &EditorHandlers::CmdExport_Click}});
    connect(s_.editorPlayer, &WavPlayer::StatusUpdate, this,
            &EditorHandlers::editorPlayer_StatusUpdate);
    // A click on the slider: the handle let go after a click or a drag, or a step by the keys
    // or the wheel (whose new value is applied right after the action is announced).
    connect(frame_.SliderEdit, &QSlider::sliderReleased, this, &EditorHandlers::SliderEdit_Click);
    connect(frame_.SliderEdit, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, &EditorHandlers::SliderEdit_Click,
                                      Qt::QueuedConnection);
    });
    connectMarks();
    connectPreview();
    if (s_.undoCut) {
        QAction* undo =
            frame_.addKey("actUndoCut", tr("Undo the last cut"), QKeySequence(QKeySequence::Undo));
        undo->setEnabled(false);
        connect(undo, &QAction::triggered, this, &EditorHandlers::undoLastCut);
        connect(frame_.CmdUndoCut, &QPushButton::clicked, this, &EditorHandlers::undoLastCut);
        frame_.addKeyHint(
            tr("%1   undo the last cut").arg(undo->shortcut().toString(QKeySequence::NativeText)));
    }
}

void EditorHandlers::setControlsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             frame_.SliderEdit, frame_.CmdEditPlay, frame_.CmdEditStop, frame_.CmdMarkin,
             frame_.CmdMarkOut, frame_.CmdEditDone, frame_.txtMarkIn, frame_.txtMarkOut,
             frame_.CmdPlayIn, frame_.CmdPlayOut})
        w->setEnabled(enabled);
    for (QAction* a : frame_.keyActions())
        a->setEnabled(enabled);
    // "Play Selection" also needs a selection (see showMarks); the undo needs a song.
    frame_.CmdPlaySel->setEnabled(enabled && *s_.MarkIn < *s_.MarkOut);
    showMarkProblem();
    showUndo();
}

void EditorHandlers::showUndo() {
    const bool can = s_.undoCut && !song_.isEmpty() && (!s_.history || s_.history->canUndo(song_));
    if (auto* undo = frame_.findChild<QAction*>(QStringLiteral("actUndoCut")))
        undo->setEnabled(can);
    frame_.CmdUndoCut->setEnabled(can);
    frame_.CmdExport->setEnabled(s_.encodings && s_.jobs && s_.workPath && !song_.isEmpty());
}

bool EditorHandlers::effectsSet() const {
    return chosenEffects().any();
}

ClipEffects EditorHandlers::chosenEffects() const {
    ClipEffects fx;
    fx.fadeInMs = frame_.spnFadeIn->value();
    fx.fadeOutMs = frame_.spnFadeOut->value();
    fx.normalise = ClipEffects::Normalise(frame_.cmbNormalise->currentData().toInt());
    if (fx.normalise == ClipEffects::Normalise::Peak)
        fx.peakDbfs = frame_.spnNormTarget->value();
    else if (fx.normalise == ClipEffects::Normalise::Loudness)
        fx.loudnessLufs = frame_.spnNormTarget->value();
    return fx;
}

void EditorHandlers::reset(bool hide) {
    // The editor's player has let go of the song: nothing here could act on it, nor undo its
    // cut (it may have left the list).
    stopEditing();
    song_.clear();
    setControlsEnabled(false);
    if (hide)
        frame_.setVisible(false);
}

void EditorHandlers::stopEditing() {
    preview_ = Preview::None;
    positionTimer_.stop();
    if (editing_) {
        editing_ = false;
        emit songClosed();
    }
}

void EditorHandlers::List1_DblClick() {
    const QString song = s_.selectedCopy();
    if (song.isEmpty())
        return; // no song selected: nothing to open
    songSource_ = s_.selectedSource ? s_.selectedSource() : QString();
    songTitle_ = s_.selectedTitle ? s_.selectedTitle() : QString();
    openForEditing(song, s_.selectedName());
}

void EditorHandlers::openForEditing(const QString& song, const QString& name) {
    s_.listPlayer->stop();
    s_.listPlayer->close();
    WavPlayer& player = *s_.editorPlayer;
    player.stop();
    stopEditing();
    if (song != song_)
        frame_.setDoneResult(QString());
    song_ = song;
    songName_ = name;
    if (!openSong())
        return;
    const qint64 length = player.Length();
    // The player has just read the same header.
    const auto layout = probeWav(song_);
    layout_ = layout ? *layout : WavLayout{};
    grid_ = layout_.blockAlign ? CutGrid(layout_.sampleRate, layout_.dataSize / layout_.blockAlign)
                               : CutGrid();
    frame_.SliderEdit->setMaximum(int(wholeSeconds(length)));
    frame_.SliderEdit->setValue(0);
    *s_.ListMode = QStringLiteral("Edit");
    *s_.MarkIn = 0;
    *s_.MarkOut = length;
    frame_.Lbltotal->setText(positionText(0));
    editing_ = true;
    setControlsEnabled(true);
    showMarks();
    s_.hideListPlayer();
    frame_.setVisible(true);
    // The keys act on the song at once.
    frame_.setFocus(Qt::OtherFocusReason);
    emit songOpened(song_);
    emit marksChanged(*s_.MarkIn, *s_.MarkOut);
    emit positionChanged(0);
}

void EditorHandlers::editorPlayer_StatusUpdate() {
    const qint64 position = s_.editorPlayer->Position();
    frame_.Lbltotal->setText(positionText(position));
    // The handle stays where the user holds it.
    if (!frame_.SliderEdit->isSliderDown())
        frame_.SliderEdit->setValue(int(wholeSeconds(position)));
}

bool EditorHandlers::openSong() {
    const Status opened = s_.editorPlayer->open(song_);
    if (opened)
        return true;
    reset(false);
    s_.dialogs->tell(cannotOpenInEditorText(songName_, opened.error()), Dialogs::Icon::Warning);
    return false;
}

bool EditorHandlers::ensureOpen() {
    // Others close the editor's player before they touch the songs (a list save): the song is
    // opened again, from its start.
    return s_.editorPlayer->isOpen() || openSong();
}

void EditorHandlers::SliderEdit_Click() {
    // As a click on the waveform: the play position moves, and only a playing song goes on
    // playing from there.
    if (frame_.SliderEdit->isEnabled())
        seek(qint64(frame_.SliderEdit->sliderPosition()) * 1000);
}

void EditorHandlers::CmdEditPlay_Click() {
    if (!s_.editorPlayer->isPlaying())
        preview_ = Preview::None; // to the end, whatever was previewed before
    if (ensureOpen()) {
        startPlayer();
        startFollowing();
    }
}

void EditorHandlers::CmdEditStop_Click() {
    preview_ = Preview::None;
    s_.editorPlayer->stop();
    followPosition();
}

void EditorHandlers::togglePlay() {
    if (s_.editorPlayer->isPlaying())
        CmdEditStop_Click();
    else
        CmdEditPlay_Click();
}

// A mark is the exact play position.
void EditorHandlers::CmdMarkin_Click() {
    if (!ensureOpen())
        return;
    applyMark(Mark::In, s_.editorPlayer->Position(), 0);
}

void EditorHandlers::CmdMarkOut_Click() {
    if (!ensureOpen())
        return;
    applyMark(Mark::Out, s_.editorPlayer->Position(), 0);
}

void EditorHandlers::CmdEditDone_Click() {
    if (const QString why = markProblem(); !why.isEmpty()) {
        s_.dialogs->tell(QStringLiteral("Time Input Error: %1.").arg(why), Dialogs::Icon::Warning);
        return;
    }
    if (!ensureOpen())
        return;
    // The player and the waveform let go of the song: the cut replaces it.
    const qint64 position = s_.editorPlayer->Position();
    s_.editorPlayer->stop();
    s_.editorPlayer->close();
    emit releaseRequested(song_);
    // What the cut keeps of the working copy, for what it then holds of the song's file.
    std::optional<MarkedFrames> frames;
    if (grid_.isValid())
        if (const auto marked = markedFrames(grid_.rate(), grid_.frames(), *s_.MarkIn, *s_.MarkOut))
            frames = *marked;
    const ClipEffects effects = chosenEffects();
    // The cut only reads the song, and replaces the working copy whole; the effects write it
    // once more, whole. A Done that fails or is cancelled anywhere leaves it as it was, and so
    // does the history: the worker only prepares the undo's keeping, which done() commits here.
    // Filled by the job's thread, read by the completion after it.
    auto work = std::make_shared<std::optional<DoneWork>>();
    const bool started = s_.jobs->start(
        {tr("Cutting %1").arg(songName_),
         [work, song = song_, in = *s_.MarkIn, out = *s_.MarkOut, effects,
          history = s_.history](JobContext& job) {
             const WorkProgress progress{
                 job.stop(),
                 [&job](std::uint64_t done, std::uint64_t total) { job.progress(done, total); }};
             *work = cutClipForUndo(song, song, in, out, effects, history, progress);
         },
         [this, work, position, song = song_, marks = std::pair(*s_.MarkIn, *s_.MarkOut), frames,
          withEffects = effects.any()](bool cancelled) {
             finishDone(**work, cancelled, position, marks, frames, withEffects);
             emit releaseEnded(song);
         }});
    if (!started) { // another job runs: nothing was cut
        emit releaseEnded(song_);
        ensureOpen();
    }
}

QString EditorHandlers::notCutText(const Error& failure) {
    return marksOutOfOrder(failure) ? tr("Out must be after In") : failureText(failure);
}

void EditorHandlers::finishDone(DoneWork& work, bool cancelled, qint64 position,
                                std::pair<qint64, qint64> marks, std::optional<MarkedFrames> frames,
                                bool effects) {
    const DoneOutcome& done = work.outcome;
    if (!done) {
        // A Cancel is the user's own: nothing to tell, and the song goes on where it was.
        if (cancelled) {
            seek(position);
            return;
        }
        s_.dialogs->tell(
            tr("%1 was not cut; it is as it was.\n\n%2").arg(songName_, notCutText(done.error())),
            Dialogs::Icon::Critical);
        // The song opens again, so that the marks can be taken anew.
        ensureOpen();
        return;
    }
    // A Cancel that came too late to stop the cut changes nothing of this: the song is cut.
    if (work.kept)
        work.kept->commit();
    cutMarks_.insert(song_, marks);
    if (s_.originOf && s_.setOrigin) {
        const SongOrigin before = s_.originOf(song_);
        cutOrigins_.insert(song_, before);
        SongOrigin after = before;
        after.stretchKnown = false; // marks the cut could not place
        if (frames)
            after = cutOrigin(before, frames->first, frames->end, effects);
        s_.setOrigin(song_, after);
    }
    // The effects are done: they go back to off, so that a second "Done" does not fade or
    // normalise the clip again.
    frame_.spnFadeIn->setValue(0);
    frame_.spnFadeOut->setValue(0);
    frame_.cmbNormalise->setCurrentIndex(0);
    emit songChanged(song_);
    // The editor goes on with the clip: its waveform, its length, the marks at its two ends.
    openForEditing(song_, songName_);
    frame_.setDoneResult(done->effects.summary());
}

void EditorHandlers::undoLastCut() {
    if (!s_.undoCut || song_.isEmpty())
        return;
    const bool wasEditing = editing_;
    // The working copy is replaced: the player and the waveform let go of it first.
    s_.editorPlayer->stop();
    s_.editorPlayer->close();
    emit releaseRequested(song_);
    const Status undone = s_.undoCut(song_);
    if (undone) {
        if (const auto before = cutOrigins_.find(song_); before != cutOrigins_.end()) {
            if (s_.setOrigin)
                s_.setOrigin(song_, *before);
            cutOrigins_.erase(before);
        }
        emit songChanged(song_);
    } else
        s_.dialogs->tell(tr("The cut could not be undone; the song is as it was.\n\n%1")
                             .arg(undone.error().text()),
                         Dialogs::Icon::Critical);
    emit releaseEnded(song_);
    if (!undone) {
        // Nothing was put back: the song goes on as it was, marks and all.
        if (wasEditing)
            ensureOpen();
        showUndo();
        return;
    }
    frame_.setDoneResult(QString());
    // The song opens again with the marks of the cut, to be moved and cut anew (marked whole
    // when they are not known).
    const auto cut = cutMarks_.find(song_);
    const bool known = cut != cutMarks_.end();
    const std::pair<qint64, qint64> marks = known ? *cut : std::pair<qint64, qint64>{};
    if (known)
        cutMarks_.erase(cut);
    openForEditing(song_, songName_);
    if (!editing_ || !known)
        return;
    placeMarks(marks.first, marks.second);
}

} // namespace quaverly
