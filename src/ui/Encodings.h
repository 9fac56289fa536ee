#pragma once
// Every encoding of the window goes through here, in any written format: the converter's, the
// list's save, the clip editor's "Export Clip" and the recorder's save. Each starter says what it
// changed on the window for the encoding (busy window shown, window disabled) and which work files
// belong to the job; the completion of each job undoes exactly that and removes only that job's
// files, so jobs that overlap never undo each other's state or delete each other's sources.
//
// Threads: UI thread only. The encoder works on its own thread and reports back here queued.

#include "engines/encoder/Mp3Encoder.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

class QWidget;

namespace quaverly {

class BusyWindow;
class Dialogs;
class WavPlayer;

// An encoding's failure as the window tells it: "Cannot read \"FILE\": cause" (the WAV source),
// "Cannot write \"FILE\": cause", "Cannot encode \"FILE\": cause", "Cannot resample \"FILE\":
// cause", "Encoding \"FILE\" was cancelled", FILE in the platform's separators; a source's own
// failure (a song of the list) as its Error reads: "FILE: cause".
QString encodeFailureText(const mp3::EncodeFailure& failure);

// What the window says when a file of `format` was not saved, `detail` telling why: "The M4R
// file was not saved.\n\n" and the detail.
QString notSavedText(encode::Format format, const QString& detail);

class Encodings final : public QObject {
    Q_OBJECT
public:
    struct Job {
        bool showsBusyWindow = false; // the starter showed the busy window for it
        bool disablesWindow = false;  // the starter disabled the main window for it
        QStringList workFiles;        // removed when the job ends, whatever its outcome
        // Words a failure for the user; unset, or giving the empty text: notSavedText() with
        // encodeFailureText().
        std::function<QString(const EncodeResult&)> failureText = nullptr;
    };

    Encodings(QWidget& window, Dialogs& dialogs, BusyWindow& busy, WavPlayer& editPlayer,
              WavPlayer& listPlayer, QObject* parent = nullptr);

    // Queues the encoding of wav into mp3 at bitRate and returns its job id.
    int start(const QString& wav, const QString& mp3, int bitRate, Job job);
    // The same in any written format, with the clip's tags (see encodeSong); startSourceAs
    // encodes sound made by `make` on the encoder's thread (see Mp3Encoder::EncodeSourceAs).
    int startAs(const QString& wav, const QString& target, Mp3Encoder::Output output, Job job);
    int startSourceAs(Mp3Encoder::SourceFactory make, const QString& sourceName,
                      const QString& target, Mp3Encoder::Output output, Job job);
    int pending() const { return int(jobs_.size()); }
    // True while a job that showed the busy window has not ended: other work that shows the
    // busy window meanwhile leaves it shown when it ends.
    bool holdsBusyWindow() const;
    // Stops every job without a word to the user (for the shutdown, when the user asked for
    // it): no target is left half-written, the jobs' work files go, and the busy window and
    // the main window are released.
    void cancelAll();

    Mp3Encoder Mp3Enc1;

signals:
    // After the completion handling of a job has run (for tests and callers that wait).
    void finished(const quaverly::EncodeResult& result);

private:
    // The completion of one job: the busy window goes (unless another job still shows it),
    // the user hears how it went ("Finish Save", or what failed), both players stop, the job's
    // work files go, and the window is enabled again (unless another job still holds it).
    void Mp3Enc1_EncodeDone(const EncodeResult& result);

    QWidget& window_;
    Dialogs& dialogs_;
    BusyWindow& busy_;
    WavPlayer& editPlayer_;
    WavPlayer& listPlayer_;
    QHash<int, Job> jobs_;
};

} // namespace quaverly
