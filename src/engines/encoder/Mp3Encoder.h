#pragma once
// A queue of encodings: WAV files (or other sound made on its thread) in, constant-bit-rate MP3
// files (or any written format) out, one job after another on a worker thread of its own, each
// job's end announced by EncodeDone. The window's encodings run as its jobs instead (see
// ui/Encodings.h, which shares EncodeResult and Output); the encode bench measures this queue.
//
// Threads: an Mp3Encoder is created, used and destroyed on one thread, the thread it lives on
// (the UI thread in the program); every public function is for that thread only. Encoding runs
// on the encoder's worker thread, which touches no state of the caller's: it takes queued jobs,
// and hands each result back to the encoder's thread as a queued call that emits EncodeDone.

#include "engines/encoder/MeteredSource.h"
#include "engines/encoder/Mp3Encode.h"
#include "engines/encoder/SongEncode.h"

#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace quaverly {

struct EncodeResult {
    int jobId = 0;   // what EncodeFiles returned for this job
    QString source;  // the WAV path as given
    QString target;  // the MP3 path as given
    int bitRate = 0; // kbit/s the job encoded at (MP3 jobs)
    encode::Format format = encode::Format::Mp3;
    // Unset only when the target is complete and in place.
    std::optional<mp3::EncodeFailure> failure;

    bool ok() const { return !failure; }
};

class Mp3Encoder : public QObject {
    Q_OBJECT
    Q_PROPERTY(int BitRate READ bitRate WRITE setBitRate)

public:
    static constexpr int kDefaultBitRate = 128;

    explicit Mp3Encoder(QObject* parent = nullptr);
    // Stops at once: the running job is abandoned within one block (its temporary file removed,
    // its target untouched), queued jobs never start, no EncodeDone follows, and the worker is
    // joined before this returns.
    ~Mp3Encoder() override;

    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Any MPEG Layer III constant bit rate (8 to 320 kbit/s; the program uses 56, 96, 128 and
    // 256). Any other value is refused with a warning and the bit rate stays as it was; callers
    // that take rates from outside check them with isValidBitRate() first.
    void setBitRate(int kbps);
    int bitRate() const { return bitRate_; }
    static bool isValidBitRate(int kbps);

    // Queues the encoding of sourceWav into targetMp3 at the current bit rate and returns its job
    // id (> 0) at once. Jobs run in the order queued. Every job, even one that cannot start (no
    // such source, say), ends with exactly one EncodeDone.
    int EncodeFiles(const QString& sourceWav, const QString& targetMp3);

    // Makes a job's sound on the worker thread when the job starts. A failure ends the job as
    // the source's own (mp3::EncodeStep::Source).
    using SourceFactory = encode::SourceFactory;
    // Like EncodeFiles, for sound that is not one WAV file (the joined songs of the list), made
    // by `make`; sourceName stands for it in EncodeResult::source and in messages.
    int EncodeSource(SourceFactory make, const QString& sourceName, const QString& targetMp3);

    // A job in any written format with its tags (see encodeSong), beside the MP3 jobs at the
    // current bit rate above.
    struct Output {
        encode::Settings settings;
        ClipTags tags;
    };
    int EncodeFilesAs(const QString& sourceWav, const QString& target, Output output);
    int EncodeSourceAs(SourceFactory make, const QString& sourceName, const QString& target,
                       Output output);

    // 0 when idle, else the number of jobs queued or running whose EncodeDone has not been
    // emitted yet. Inside an EncodeDone handler the finished job no longer counts.
    int EncoderState() const { return pending_; }

    // Abandons every job: queued ones never start, the running one stops within one block, and
    // none of them gets an EncodeDone. When this returns no job runs any more, so nothing of
    // theirs is left (a target is complete and in place, or as it was before). Later jobs run
    // as usual.
    void cancelAll();

signals:
    // Once per job, on the encoder's thread, after the target is complete and in place (or known
    // failed, the target then as it was before) and the source file is closed. A handler may
    // destroy the encoder with deleteLater(), not with delete.
    void EncodeDone(const quaverly::EncodeResult& result);

private:
    struct Job {
        int id = 0;
        QString source;
        QString target;
        int bitRate = 0;
        SourceFactory make;           // null: source is a WAV file
        std::optional<Output> output; // unset: MP3 at bitRate, no tags
    };

    int queue(Job job);

    void run(std::stop_token stop); // worker thread
    // Encoder's thread: emits the oldest result handed over (one per queued call).
    Q_INVOKABLE void deliver();

    // Owner thread only.
    int bitRate_ = kDefaultBitRate;
    int nextId_ = 1;
    int pending_ = 0;
    QSet<int> live_; // jobs whose EncodeDone is still owed: a cancelled job's result is dropped

    // Shared with the worker, under mutex_.
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable jobEnded_; // the running job has ended
    std::deque<Job> queue_;
    std::deque<EncodeResult> results_; // finished, for deliver()
    bool running_ = false;             // a job is being encoded
    std::stop_source cancelJob_;       // stops the running job

    std::jthread worker_; // last: starts after, and is joined before, everything above
};

} // namespace quaverly

Q_DECLARE_METATYPE(quaverly::EncodeResult)
