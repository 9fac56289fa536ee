#pragma once
// The clip editor: a double click on a song opens its working copy in the editor's player; the
// slider, Play and Stop move about in it; "Mark In" and "Mark Out" take the play position; and
// "Done" cuts the working copy down to the stretch between the marks, in place, as a job of the
// window's Jobs (busy window with progress and Cancel; a Cancel leaves the song, its undo and
// the editor as they were). From then on list playback and the list saves hear only the clip,
// and the editor shows the clip, marked whole, ready to be played or cut again.
//
// The marks are the window's MarkIn and MarkOut, whole milliseconds. Besides the buttons they
// are set by a typed time in their fields, by the keys that move them, and by setMarkIn() and
// setMarkOut() (a waveform view). A typed time becomes the mark whose frame, as the cut makes
// frames of the marks, is nearest to it. With "Snap to zero crossing" ticked, every mark set by
// the user then moves to the nearest zero crossing of the song within 10 ms (see ZeroCrossing.h).
// "Play Selection" plays from In to Out (again and again with "Loop"); "Around In" and "Around
// Out" play one second before to one second after their mark. The clip's length shows against
// the chosen limit, red when longer. A play that cannot start, or that breaks off (the sound
// server went away), is reported once with the player's reason; the next press tries again.
//
// "Export Clip…" writes the stretch between the marks, with the fades and the level the frame
// sets, in the output frame's format to a file the user picks, with its title, as a job of the
// window (EditorExport.cpp); a name ending in ".wav" gets the clip as 16-bit PCM WAV, untagged. The
// song, its marks and its undo stay as they are, and the list is not saved. Saved in the codec of
// the file the song was made from, without fades or a level change, the clip keeps that file's own
// frames where it can (ui/KeptSave.h), through what the working copy holds of the file: all of it
// when added, narrowed by each "Done" without effects, no longer a stretch of it after a "Done"
// with them, as before again after an undo. A clip longer than the
// chosen preset allows is not written: the user may have the Out mark moved to the preset's length
// after the In mark instead.
//
// Keys, while the focus is in the frame: Space plays or stops, I and O set the marks at the play
// position, Home and End go to the marks, ", ." and "[ ]" move the In and the Out mark by 10 ms
// ("< >" and "{ }" by a second); Ctrl+Z undoes the last cut when the window lends an undo.
//
// A waveform view follows the editor through songOpened, songClosed, marksChanged and
// positionChanged (every kPositionMs while playing), lets go of a song between releaseRequested
// and releaseEnded, and drives the editor through setMarkIn, setMarkOut and seek.
//
// Threads: UI thread only; the player's notifications arrive there.

#include "editor/ClipCut.h"
#include "editor/MarkTime.h"
#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"
#include "ui/Encodings.h"
#include "ui/KeptSave.h"
#include "ui/WindowServices.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>

class QLineEdit;
class QWidget;

namespace quaverly {

class BusyWindow;
class CutHistory;
class Dialogs;
class EditSongFrame;
class Encodings;
class Jobs;
class OutputChoice;
class WavPlayer;
class WaveformView;
struct ClipEffects;
struct DoneWork;

// What the window lends the clip editor.
// Of the window's pieces, "Export Clip…" needs the encodings and the working folder (without
// them the button stays disabled) and "Done" the jobs.
struct EditorServices : WindowServices {
    QString* ListMode = nullptr; // the window's ListMode: "Edit" while a song is open, "Play" after
    qint64* MarkIn = nullptr;    // the window's marks, in milliseconds
    qint64* MarkOut = nullptr;
    // The working copy of the selected song, and its name; empty when no song is selected.
    std::function<QString()> selectedCopy;
    std::function<QString()> selectedName;
    // The list player's frame makes way for the editor's.
    std::function<void()> hideListPlayer;
    // Optional: puts the working copy back as it was before its last cut, or says why it could
    // not (nothing to put back, a failure), which the editor tells the user. Without it the
    // editor offers no undo.
    std::function<Status(const QString& workingCopy)> undoCut;
    // Optional: where "Done" keeps each song as it was before its cut (for undoCut); without it
    // a cut cannot be undone.
    CutHistory* history = nullptr;
    // Optional: the file the selected song was made from, for the clip's tags, and the title its
    // tags gave when it was listed (empty: none), offered for the clip's.
    std::function<QString()> selectedSource = nullptr;
    std::function<QString()> selectedTitle = nullptr;
    // Optional: what a working copy holds of the file its song was made from, which "Done" and
    // its undo change, and the song's format as its row shows it ("MP3"). With them "Export
    // Clip…" keeps the song's own frames where it can; without them every clip is re-encoded.
    std::function<SongOrigin(const QString& workingCopy)> originOf = nullptr;
    std::function<void(const QString& workingCopy, const SongOrigin& origin)> setOrigin = nullptr;
    std::function<QString(const QString& workingCopy)> formatOf = nullptr;
};

class EditorHandlers final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPositionMs = 16;       // positionChanged while playing
    static constexpr qint64 kSnapMs = 10;        // how far a mark may move to a zero crossing
    static constexpr qint64 kNudgeMs = 10;       // ", ." and "[ ]"
    static constexpr qint64 kNudgeLongMs = 1000; // "< >" and "{ }"
    static constexpr qint64 kAroundMs = 1000;    // "Around In/Out": this much before and after

    EditorHandlers(EditSongFrame& frame, EditorServices services, QObject* parent = nullptr);

    // Opens the selected song, stopped at 0, with the marks at its start and its end.
    void List1_DblClick();
    void editorPlayer_StatusUpdate();
    // Moves the play position to the slider's second, as seek() does: a playing song plays on
    // from there, a stopped one stays stopped.
    void SliderEdit_Click();
    void CmdEditPlay_Click();
    void CmdEditStop_Click();
    void CmdMarkin_Click();
    void CmdMarkOut_Click();
    // Starts the job that cuts the open song's working copy to [MarkIn, MarkOut]; marks that
    // cannot be cut give "Time Input Error: <why>." and change nothing. Once cut, the editor
    // shows the clip with the marks at its ends, and the fades and the level are set back to off.
    void CmdEditDone_Click();
    // Plays from the In mark to the Out mark (and again with "Loop" ticked).
    void CmdPlaySel_Click();
    // Plays one second before to one second after the mark, within the song.
    void CmdPlayIn_Click();
    void CmdPlayOut_Click();
    // Space: stops when playing, else plays as "Play" does.
    void togglePlay();
    // Ctrl+Z: puts back the song as it was before its last cut and opens it again, with the
    // marks of that cut. Only offered with EditorServices::undoCut.
    void undoLastCut();
    // "Export Clip…"; marks that cannot be cut give "Time Input Error: <why>." and write nothing.
    void CmdExport_Click();
    // Opens the song in the editor again if it is not open and sets the marks at 0 and `outMs`.
    void markFirst(qint64 outMs);

    // The marks, from a waveform view or a program: clamped to the song, snapped when "Snap to
    // zero crossing" is ticked, shown in the labels and fields. Nothing while no song is open.
    void setMarkIn(qint64 ms);
    void setMarkOut(qint64 ms);
    // Moves a mark by `deltaMs`; with the snap, to the nearest crossing on that side.
    void nudgeMarkIn(qint64 deltaMs);
    void nudgeMarkOut(qint64 deltaMs);
    // Moves the play position to `ms` (clamped to the song): playback goes on from there, or the
    // stopped player waits there. Nothing while no song is open.
    void seek(qint64 ms);

    // Shows the open song in `view`, which the frame takes: the view follows the marks and the
    // play position, its handles set the marks and a click on it seeks (EditorWaveform.cpp).
    void attachWaveform(WaveformView* view);

    // The players have let go of the song (a click on the list, a remove): the editor's
    // controls go idle, and with `hide` the frame goes too.
    void reset(bool hide);

    // The frames the cut makes of the marks, for the open song.
    const CutGrid& grid() const { return grid_; }
    // The working copy open for editing; empty when none is.
    QString songInEditor() const { return editing_ ? song_ : QString(); }
    // Whether fades or a level change are set for the next "Done" or "Export Clip…".
    bool effectsSet() const;

signals:
    // A song's working copy is open for editing (also again after an undo); it is closed.
    void songOpened(const QString& path);
    void songClosed();
    // The marks have changed, in ms.
    void marksChanged(qint64 in, qint64 out);
    // The play position: while playing every kPositionMs, on a seek and when playback stops.
    void positionChanged(qint64 ms);
    // A working copy's audio has changed ("Done", an undo): what was read of it is out of date.
    void songChanged(const QString& path);
    // A working copy is about to be replaced ("Done", an undo) or deleted (the list's removal,
    // passed on): whatever reads it in the background closes it before the signal returns and
    // leaves it alone until releaseEnded(path). Windows refuses to replace or delete an open
    // file.
    void releaseRequested(const QString& path);
    void releaseEnded(const QString& path);

private:
    enum class Mark { In, Out };
    enum class Preview { None, Selection, Around };

    void setControlsEnabled(bool enabled);
    // What "Done" is asked to do besides the cut, from the frame's effect controls.
    ClipEffects chosenEffects() const;
    // The undo key and button, for a song whose last cut can be undone; "Export Clip…" for a
    // song in the editor.
    void showUndo();
    // Opens song_ in the editor's player; false (reported, the controls idle) when it cannot.
    bool openSong();
    // The editor's player holds the open song, opened again if someone closed it.
    bool ensureOpen();
    // Opens `song` for editing with the marks at its ends.
    void openForEditing(const QString& song, const QString& name);
    // The editing is over (a reset, "Done"): the view lets go.
    void stopEditing();
    // "Done"'s job has ended: the editor opens the clip, or, when the cut failed or was
    // cancelled, goes on with the song as it was (a cancelled one at `position`, as before).
    // Why a cut did not happen, in words: its failure, or the marks out of order.
    static QString notCutText(const Error& failure);
    // `frames`: the working copy's frames the cut keeps (unknown: nullopt); `effects`: whether
    // fades or a level change were asked.
    void finishDone(DoneWork& work, bool cancelled, qint64 position,
                    std::pair<qint64, qint64> marks, std::optional<MarkedFrames> frames,
                    bool effects);

    // EditorMarks.cpp
    void connectMarks();
    // Sets both marks to exactly these times, within the song.
    void placeMarks(qint64 in, qint64 out);
    // "Export Clip…" to a WAV file: the cut, with its effects, as a job of the window; `note`
    // adds to its "Finish Save".
    void exportWav(const QString& target, qint64 in, qint64 out, const ClipEffects& effects,
                   const QString& note = {});
    // The clip of the working copy's `frames` into `target` that keeps the song's own frames;
    // nullopt when it is re-encoded (with `note` for the "Finish Save" when that says why).
    std::optional<KeptClip> keptClip(const QString& target,
                                     const std::optional<MarkedFrames>& frames, bool effects,
                                     QString* note) const;
    // "Export Clip…" re-encoded: the whole song from its working copy, or the clip cut from it
    // into a work file first.
    void exportEncoded(const QString& target, const encode::Settings& settings, qint64 in,
                       qint64 out, const ClipEffects& effects,
                       const std::optional<MarkedFrames>& kept, Encodings::Job job);
    qint64 songLengthMs() const;
    // Sets a mark from the user: clamped, snapped when asked (for a nudge, to a crossing on the
    // side of `direction` from where the mark was), then shown.
    void applyMark(Mark which, qint64 ms, int direction);
    qint64 snapped(Mark which, qint64 ms, int direction) const;
    // What a mark field's text stands for: its mark while it shows it, else the typed time on
    // the cut's frames (Out's counted from In at `in`); or why it stands for none (`ms` is then
    // the mark as it is).
    struct TypedMark {
        qint64 ms = 0;
        QString why;
    };
    TypedMark typedMark(Mark which, qint64 in) const;
    std::pair<TypedMark, TypedMark> typedMarks() const; // In, then Out from it
    // Sets the mark to its field's typed time, unless the text cannot be taken.
    void applyTypedMark(Mark which);
    // Why the marks cannot be cut (a field's text that cannot be taken, Out not after In), in
    // words; empty when they can. `asTyped`: the marks as the fields' texts would set them.
    // showMarkProblem() puts that under the fields, as the user types.
    QString markProblem(bool asTyped = false) const;
    void showMarkProblem();
    // The fields, the clip's length and what depends on the marks.
    void showMarks();
    void showClipLength();

    // EditorPreview.cpp
    void connectPreview();
    void playRange(qint64 from, qint64 to, Preview kind);
    // Plays the editor's player from `from` (else on from where it is) to `to` (else the end);
    // false (reported) when it cannot play.
    bool startPlayer(std::optional<qint64> from = std::nullopt,
                     std::optional<qint64> to = std::nullopt);
    // Tells the user why the open song cannot be played.
    void reportUnplayable(const Error& why);
    // The player's playback ended by itself: played to its end, or broken off with the Error.
    void editorPlayer_Done(const Status& ended);
    void startFollowing();
    void followPosition();
    void showPosition(qint64 ms);

    EditSongFrame& frame_;
    EditorServices s_;
    QString song_;       // the working copy open in the editor
    QString songName_;   // its name in the list
    QString songSource_; // the file it was made from; empty when unknown
    QString songTitle_;  // the title of its tags; empty when none
    bool editing_ = false;
    WavLayout layout_; // the open song's, for the zero crossings
    CutGrid grid_;
    Preview preview_ = Preview::None;
    QTimer positionTimer_;
    // The marks of each song's last cut, for its undo: the song opens again with them.
    QHash<QString, std::pair<qint64, qint64>> cutMarks_;
    // What each song's working copy held of its file before its last cut, for its undo.
    QHash<QString, SongOrigin> cutOrigins_;
};

} // namespace quaverly
