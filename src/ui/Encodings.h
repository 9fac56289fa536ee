#pragma once
// Every encoding of the window goes through here, in any written format: the converter's, the
// list's save, the clip editor's "Export Clip" and the recorder's save. Each runs as a job of the
// window (Jobs): the busy window shows its words, progress, time left and Cancel, and the main
// window is disabled until it ends, so nothing changes what it reads. Its completion says how it
// went (savedText() or what failed), stops both players and removes the job's work files; a
// cancelled job says nothing, its target as it was before.
//
// Threads: UI thread only. The encoding runs on the job's thread and touches nothing here but
// the job's own state, taken in when the job starts.

#include "engines/encoder/MeteredSource.h"
#include "engines/encoder/Presets.h"
#include "engines/tags/ClipTags.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace quaverly {

class BusyWindow;
class Dialogs;
class Jobs;
class WavPlayer;

// An encoding's failure (its Error, with its EncodeStep) as the window tells it: "Cannot read
// \"FILE\": cause" (the WAV source), "Cannot write \"FILE\": cause", "Cannot encode \"FILE\":
// cause", "Cannot resample \"FILE\": cause", "Encoding \"FILE\" was cancelled", FILE in the
// platform's separators; a source's own failure (a song of the list) as its Error reads:
// "FILE: cause".
QString encodeFailureText(const Error& failure);

// What the window says when a file of `format` was not saved, `detail` telling why: "The M4R
// file was not saved.\n\n" and the detail.
QString notSavedText(encode::Format format, const QString& detail);

// The tags of a clip made from the song file `source` (none when it is empty), for Job::tags:
// its artist, album and cover, `title`, and what `preset` (when given) asks for.
std::function<ClipTags()> tagsReadFrom(const QString& source, const QString& title,
                                       const encode::Preset* preset);

// What the window says when `target` was saved: "Finish Save: NAME is saved.", NAME the file's
// name without its folder.
QString savedText(const QString& target);
// The same for the convert panel's WAV file: "Convert Finish: NAME is saved."
QString convertedText(const QString& target);

class Encodings final : public QObject {
    Q_OBJECT
public:
    struct Job {
        // The starter showed the busy window for it: what it says is the job's words (else
        // "Saving.......").
        bool showsBusyWindow = false;
        QStringList workFiles; // removed when the job ends, whatever its outcome
        // Words a failure for the user; unset, or giving the empty text: notSavedText() with
        // encodeFailureText().
        std::function<QString(const EncodeResult&)> failureText = nullptr;
        // Work on the job's thread before the encoding reads its source (the recorder writes its
        // take into the work file to encode), with the job's stop, its progress the first tenth
        // of the job's. A failure ends the job as a failure to write the file its Error names.
        std::function<Status(const WorkProgress&)> prepare = nullptr;
        // Tells the user of a failure in its own way; true when it did (the default words then
        // stay unsaid).
        std::function<bool(const EncodeResult&)> tellsFailure = nullptr;
        // Makes the clip's tags on the job's thread, before the encoding: reading a song's tags
        // and cover (tagsReadFrom) never holds the window, however slow or large its file.
        // Unset: the tags the starter gave.
        std::function<ClipTags()> tags = nullptr;
        // A paragraph the "Finish Save" message adds (why the clip was re-encoded).
        QString savedNote = QString();
    };

    Encodings(Dialogs& dialogs, BusyWindow& busy, Jobs& jobs, WavPlayer& editPlayer,
              WavPlayer& listPlayer, QObject* parent = nullptr);

    // Starts the encoding of wav into a plain MP3 at bitRate (LAME's bytes alone) and returns
    // its job id; 0 while another job of the window runs (the window is disabled then, so the
    // user cannot ask for one): nothing started, the job's work files removed.
    int start(const QString& wav, const QString& mp3, int bitRate, Job job);
    // The same in any written format, with the clip's tags (see encodeSong); startSourceAs
    // encodes sound made by `make` on the job's thread, sourceName standing for it.
    int startAs(const QString& wav, const QString& target, encode::Output output, Job job);
    int startSourceAs(encode::SourceFactory make, const QString& sourceName, const QString& target,
                      encode::Output output, Job job);
    // 1 while an encoding runs (its completion not yet run), else 0.
    int pending() const { return running_ ? 1 : 0; }
    // True while an encoding runs: other work that shows the busy window meanwhile leaves it
    // shown when it ends.
    bool holdsBusyWindow() const { return running_; }

signals:
    // After the completion handling of a job has run, a cancelled one's too (its failure then
    // EncodeStep::Cancel).
    void finished(const quaverly::EncodeResult& result);

private:
    int run(encode::EncodeOrder order, Job job);
    // The completion of one job: the user hears how it went (savedText(), or what failed; a
    // cancel says nothing), both players stop and the job's work files go.
    void finishEncoding(const EncodeResult& result, const Job& job, bool cancelled);

    Dialogs& dialogs_;
    BusyWindow& busy_;
    Jobs& jobs_;
    WavPlayer& editPlayer_;
    WavPlayer& listPlayer_;
    int nextId_ = 1;
    bool running_ = false;
};

} // namespace quaverly
