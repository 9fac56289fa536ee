#pragma once
// What the song list's buttons do: adding, inserting, removing and moving songs, a click on a
// song, and saving the list as one WAV file or one encoded file of the output frame's format
// (SongListSaves.cpp). Every song owns one working copy in the
// working folder, whose path the list item carries (AudioEditPanel::kWorkingCopyRole), so songs
// of the same name never share audio, and a song moved in the list takes its audio along. A
// song's text is its name from its tags, or its file's (songNameFor); its tool tip the picked
// file's path, format and length; its row shows the length and the format's word beside the
// text, and marks the song playing and the song edited (SongRowMarks). The clip editor's messages
// and the list's own name the song by that text.
//
// The list also takes files dropped from a file manager, and keys: Enter asks for the editor,
// Delete removes, Ctrl+Up and Ctrl+Down move the selected song.
//
// Adding songs runs as a job (ui/Jobs.h): the working copies are made on the job's thread, and
// the songs listed when it ends; Cancel leaves the list and the working folder as they were.
//
// Threads: UI thread only (a job's work touches no member).

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"
#include "ui/KeptSave.h"
#include "ui/WindowServices.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

class QEvent;
class QKeyEvent;
class QWidget;

namespace quaverly {

class Error;
class AudioEditPanel;
class BusyWindow;
class Dialogs;
class Encodings;
class Jobs;
class OutputChoice;
class SongRowMarks;
class WavPlayer;
struct SongSummary;
struct MadeCopy;

// What the window lends the song list.
struct SongListServices : WindowServices {};

class SongListHandlers final : public QObject {
    Q_OBJECT
public:
    SongListHandlers(AudioEditPanel& panel, SongListServices services, QObject* parent = nullptr);

    // "ADD": asks for song files (any the song reader reads) and appends them as songs, in
    // order.
    void CmdAdd_Click();
    // "Insert": asks as "ADD" does and puts the songs above the selected one (at the end when
    // none is selected), which stays selected.
    void CmdIns_Click();
    // "Move UP" / "Move Down": the selected song changes places with its neighbour and stays
    // selected. Nothing happens at the ends or without a selection.
    void CmdUP_Click();
    void CmdDown_Click();
    // "Remove": removes the selected song and its own working copy after a confirmation.
    void Cmdremove_Click();
    // A click on a song: the players let go of their files and "Play Control" shows.
    void List1_Click();
    // "Save The List to Wav".
    void CmdSaveWav_Click();
    // "Save The List to MP3" (or to the chosen format): the joined list encoded in the format
    // that the name given decides, else the chosen one, with the title asked first. A list
    // longer than the chosen preset allows is not saved: the user may open its first song in
    // the editor instead, marked to the preset's length (shortenRequested). A name ending in
    // .wav gets the joined songs as WAV, as "Save The List to Wav" writes them.
    void CmdSaveList_Click();

    // Appends the named files as songs, in order, as "ADD" does; relative names are taken from
    // the current folder. Names of no file, or of a folder or another file that is not a
    // regular one, and `notFiles` (what else a drop carried: web addresses, ...) are reported
    // in the message that tells the songs' own failures. For the files of the command line
    // and for files dropped on the list. Returns once the adding job has started (or nothing
    // was to be added); the songs are listed when it ends.
    void addFiles(const QStringList& names, const QStringList& notFiles = {});

    // What a conversion does on the job's thread once a working copy is made: `progress`
    // counts the rest of the job, and its stop is requested once Cancel was pressed. Returns its
    // failure, if any.
    using AfterCopy = std::function<Status(const QString& copy, const WorkProgress& progress)>;
    // Called on the window thread when a copySong job has ended: the copy made (empty when none
    // was, or after Cancel) and what `after` returned (success when it did not run).
    using CopyDone = std::function<void(const QString& copy, const Status& after)>;
    // For the converter: a job that makes a working copy of `picked` as "ADD" makes one, with
    // `words` in the busy window, then runs `after` (if any) on the same thread. A copy that
    // could not be made is reported as not converted, with why; with `listing` a copy made is
    // listed at the end as an added song, whatever `after` returned. Cancel removes the copy, lists
    // nothing and says nothing (unless it came after `after` had succeeded: then the job ends as if
    // not cancelled). `done` runs when the job has ended, not when none could start (no working
    // folder, reported here, or another job running).
    void copySong(const QString& picked, bool listing, const QString& words, AfterCopy after,
                  CopyDone done);
    // The working copy of every song, in list order.
    QStringList workingCopies() const;

signals:
    // The clip editor must go back to its idle state (after a click on a song or a remove);
    // the window, which owns the editor, does that. A click on a song also hides the editor.
    void editorReset(bool songClicked);
    // Enter on the list: the selected song should open in the clip editor, as on a double click.
    void editRequested();
    // Songs changed rows: the song that was at row i is now at newRowOf[i] (a move, or songs
    // inserted above it). Sent after each change, before anything else can happen.
    void songsRenumbered(const QList<int>& newRowOf);
    // A song has left the list; its working copy is gone.
    void songRemoved(const QString& workingCopy);
    // A working copy is about to be deleted: whatever reads it in the background (the clip
    // editor's waveform) closes it before the signal returns, and leaves it alone until
    // releaseEnded(). Windows refuses to delete an open file.
    void releaseRequested(const QString& workingCopy);
    void releaseEnded(const QString& workingCopy);
    // The song at `row` should open in the clip editor, as on a double click, with the marks at
    // its start and at `outMs`.
    void shortenRequested(int row, qint64 outMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The list into the WAV file `target`, as a job: the one song of a list of one keeps its own
    // samples where it can, else the joined songs (joinAsWav; `note` adds to its "Finish Save").
    void saveListAsWav(const QString& target);
    void joinAsWav(const QString& target, const QString& note);
    // The joined songs encoded into `target`, as a job.
    void encodeList(const QString& target, const encode::Settings& settings,
                    std::function<ClipTags()> tags, const QString& note);
    // The clip a save of a list of one song into `target` makes by keeping the song's frames;
    // nullopt when it is re-encoded (with `note` for the "Finish Save" when it says why).
    std::optional<KeptClip> keptClip(const QString& target, QString* note) const;
    void stopAndClosePlayers();
    bool refuseEmptyList();
    // A target that is one of the songs' working copies would be written while it is read.
    bool refuseWorkingCopy(const QString& target);
    // What a save's failure calls each song, in list order: its name and its working copy's.
    QStringList songNames() const;
    // The joined list's frames and rate; nullopt when its songs cannot be read.
    std::optional<std::pair<std::int64_t, int>> joinedLength() const;
    // The title the list's save offers.
    QString listTitle() const;
    // Asks for songs as "ADD" and "Insert" do, under `title`.
    QStringList pickSongs(const QString& title);
    // Adds `files` in order above the song at `row` (at the end for -1) as one job; `refused`
    // is told after the songs' failures.
    void addSongs(const QStringList& files, int row, const QStringList& refused = {});
    // A working copy made into the list above the song at `row` (-1: at the end).
    void listSong(const MadeCopy& made, int row);
    // Why no working copy of `picked` was made for a conversion.
    void tellNotConverted(const QString& picked, const Error& error);
    void tellNoWorkingFolder(const QString& picked, bool listing);
    void moveSelected(int step);
    void updateOrderButtons();
    bool handleKey(const QKeyEvent& key);
    bool handleDrag(QEvent* event);

    AudioEditPanel& panel_;
    SongListServices s_;
    SongRowMarks* marks_; // the rows' marks for the song playing and the song edited
};

} // namespace quaverly
