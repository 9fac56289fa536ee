#pragma once
// The peaks of the songs' working copies, for drawing their waveforms at any zoom.
//
// A request reads the whole WAV once, in a single streaming pass with a fixed buffer, on a worker
// thread: it keeps the smallest and largest sample and the mean square of every block of
// kBaseBlock frames per channel, and derives from them coarser levels, each of blocks twice as
// long as the one below.
// peaks() answers for any range and zoom from the finest level whose blocks are not longer than
// a pixel column; closer in than kBaseBlock frames per column it reads the few frames it needs
// straight from the file, down to single samples.
//
// The peaks are kept per path together with the file's size and modification time; request()
// computes them again when either changed, and invalidate() drops them (the cut calls it after
// it replaced a working copy). Before a working copy is replaced or deleted, letGo() has the
// cache close it and leave it alone until resume(): Windows refuses both while it is open.
//
// Threads: construct, destroy and call every member on one thread (the window thread); ready,
// failed, invalidated and resumed are emitted there. One worker thread of the cache's own takes the
// requests in turn; it only reads the file and hands the result back to that thread queued.
// invalidate() and the destructor make it give up at its next read, and the destructor waits for
// it; so does letGo(), up to its deadline.

#include "engines/util/Error.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace quaverly {

// The smallest and the largest sample of a stretch of one channel, 16-bit scale (8-bit samples
// u are taken as (u - 128) * 256).
struct Peak {
    std::int16_t min = 0;
    std::int16_t max = 0;
    friend bool operator==(const Peak&, const Peak&) = default;
};

// What peaks() returns: for pixel column c (0 <= c < columns) and channel ch, at(c, ch), and the
// RMS level of the same frames (16-bit scale, 0 to 32768), rmsAt(c, ch).
// Column c stands for the frames [s, e) with s = floor(first + c * fpp) and
// e = max(s + 1, floor(first + (c + 1) * fpp)), cut off at the song's end. When blockFrames is
// 1 the peaks are exactly those of these frames; otherwise they are those of every block of
// blockFrames frames (block b holds the frames [b * blockFrames, (b + 1) * blockFrames)) that
// the column's frames touch, with blockFrames <= fpp < 2 * blockFrames (unless one block already
// holds the whole song).
struct PeakColumns {
    int channels = 0;
    int columns = 0; // the columns that hold frames; those past the song's end are left out
    std::int64_t blockFrames = 0;
    std::vector<Peak> peaks; // columns * channels, column by column
    std::vector<float> rms;  // as peaks

    const Peak& at(int column, int channel) const {
        return peaks[std::size_t(column) * std::size_t(channels) + std::size_t(channel)];
    }
    float rmsAt(int column, int channel) const {
        return rms[std::size_t(column) * std::size_t(channels) + std::size_t(channel)];
    }
};

// The song behind a path, as its peaks were computed.
struct PeakSong {
    int channels = 0;
    std::uint32_t sampleRate = 0;
    std::int64_t frames = 0;
};

class PeakCache final : public QObject {
    Q_OBJECT
public:
    static constexpr int kBaseBlock = 256; // frames per block of the finest level
    // How long letGo() waits at most: the worker closes the file at its next read, in a few
    // milliseconds, unless the disk stalls.
    static constexpr std::chrono::milliseconds kLetGoWait{2000};

    enum class State {
        Absent,    // never requested, or invalidated
        Computing, // a worker reads the file
        Ready,     // peaks() and song() answer
        Failed,    // errorString() says why
    };

    explicit PeakCache(QObject* parent = nullptr);
    ~PeakCache() override;

    // Starts computing the peaks of `path` unless they are being computed, or are ready and the
    // file's size and modification time are still those they were computed from (a failure is
    // tried again). Returns the state after the call; ready or failed follows a Computing.
    State request(const QString& path);
    // Drops what is known of `path` and stops its computation; emits invalidated(path) when
    // there was anything to drop.
    void invalidate(const QString& path);
    // For a change of `path` made elsewhere (a cut replaces it, a removal deletes it): stops its
    // computation, waits up to `wait` for the worker to close the file, and opens it no more
    // until resume(path): request() starts nothing for it and peaks() answers from the levels
    // alone (empty closer in than kBaseBlock frames per column). Ready peaks stay; a computation
    // under way is dropped without a signal. False when the worker still had the file open at
    // the deadline. Each letGo() wants its resume().
    bool letGo(const QString& path, std::chrono::milliseconds wait = kLetGoWait);
    // Ends a letGo() and emits resumed(path): the path may be requested again.
    void resume(const QString& path);

    State state(const QString& path) const;
    QString errorString(const QString& path) const;          // of a Failed path
    std::optional<PeakSong> song(const QString& path) const; // of a Ready path

    // The peaks of `width` pixel columns from frame `firstFrame` (>= 0, fractional when zoomed
    // in past one column per frame) at `framesPerPixel` (> 0) frames per column; see
    // PeakColumns. Empty unless the path is Ready. A read of the file that finds it changed or
    // unreadable returns empty and invalidates the path after the call.
    PeakColumns peaks(const QString& path, double firstFrame, double framesPerPixel, int width);

signals:
    void ready(const QString& path);
    void failed(const QString& path, const QString& error);
    void invalidated(const QString& path);
    void resumed(const QString& path);

public:
    // The worker's result: the levels of one song (level k has blocks of kBaseBlock << k frames).
    struct Levels {
        PeakSong song;
        std::vector<std::vector<Peak>> levels;       // [level][block * channels + channel]
        std::vector<std::vector<float>> meanSquares; // as levels: the blocks' mean squares
    };
    // One streaming pass over the WAV at `path`; the Error when it cannot be read (or a stop
    // was requested on `stop`). Callable from any thread.
    static Result<std::shared_ptr<const Levels>> compute(const QString& path,
                                                         const std::stop_token& stop);

private:
    struct Stamp {
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        State state = State::Absent;
        Stamp stamp;
        std::uint64_t generation = 0;
        std::stop_source stop{std::nostopstate}; // of its computation, while it runs
        std::shared_ptr<const Levels> levels;
        QString error;
    };
    struct Job {
        QString path;
        std::uint64_t generation = 0;
        std::stop_token stop;
    };
    // A computation's result, handed from the worker to the cache's thread.
    struct Done {
        QString path;
        std::uint64_t generation = 0;
        std::shared_ptr<const Levels> levels;
        QString error;
    };
    static Stamp stampOf(const QString& path);
    void run();                 // the worker thread
    Q_INVOKABLE void collect(); // the cache's thread: finishes every result handed over
    void finish(const QString& path, std::uint64_t generation, std::shared_ptr<const Levels> levels,
                const QString& error);
    void cancel(Entry& e);
    PeakColumns fromLevels(const Levels& l, double first, double fpp, int width) const;
    PeakColumns fromFile(const QString& path, const Entry& e, double first, double fpp, int width);

    QHash<QString, Entry> entries_;
    QHash<QString, int> held_; // the paths let go of, with their letGo() calls not yet resumed
    std::uint64_t nextGeneration_ = 1;
    std::mutex mutex_; // guards queue_, done_, reading_ and quit_, shared with the worker
    // A plain flag, not the thread's stop token: a wait on a stop token leans on a
    // std::stop_callback, which MinGW's libstdc++ 12 can leave waiting for ever.
    std::condition_variable wake_;
    std::condition_variable closed_; // the worker has closed the file it read
    std::deque<Job> queue_;
    std::deque<Done> done_;
    QString reading_; // the path the worker has open, if any
    bool quit_ = false;
    std::thread worker_; // last: it starts once everything above exists
};

} // namespace quaverly
