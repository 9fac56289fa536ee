#pragma once
// FLAC encoding spread over several threads, with the very stream a single pass writes.
//
// FLAC frames stand alone: each holds one block of samples and nothing of its neighbours. So
// the sound is cut into segments of whole blocks, each segment is encoded into memory by a
// libFLAC encoder of its own (its metadata dropped, no MD5), and the frames are written in
// order, each renumbered as the frame it is in the whole stream (its header's CRC-8 and its
// CRC-16 computed anew). The stream's metadata comes from an encoder set up as a single pass
// would be; it is written first and completed at the end as libFLAC completes its own: the
// smallest and largest frame, the total samples, the MD5 of the sound (computed here, in
// order) and the seek points.
//
// Threads: one thread (the encoding thread) calls every public function; the workers of an
// OrderedPool only encode the segments handed to them.

#include "engines/encoder/SongEncode.h"
#include "engines/encoder/internal/FlacFrames.h"
#include "engines/util/OrderedPool.h"

#include <QCryptographicHash>

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::encode::internal {

class ParallelFlacEncoder {
public:
    // Writes into `out` (open). A stop request abandons the encoding within a few
    // milliseconds: every later call fails.
    ParallelFlacEncoder(AtomicFile& out, int threads, std::stop_token stop = {});
    ParallelFlacEncoder(const ParallelFlacEncoder&) = delete;
    ParallelFlacEncoder& operator=(const ParallelFlacEncoder&) = delete;

    // Writes the metadata for about `expectedFrames` of sound (the seek table's points) and
    // evens the segments out over the threads for that length.
    Status open(int sampleRate, int channels, int level, std::int64_t expectedFrames);
    // Interleaved frames of sound, full scale +-1.
    Status add(const float* pcm, std::size_t frames);
    // Encodes the rest, writes every frame and completes the metadata; the file's position is
    // then its end.
    Status finish();

    // The shortest segment's samples per channel (about 3 s at 44.1 kHz): the cost of an
    // encoder of its own stays small beside its work, and the last segment, which nothing
    // overlaps, short.
    static constexpr std::int64_t kMinSegment = 1 << 17;

private:
    struct Job {
        std::int64_t firstBlock = 0; // the stream's frame number of the segment's first frame
        std::vector<std::int16_t> pcm;
        std::vector<std::uint8_t> bytes; // an earlier result's, emptied, for this one's frames
    };
    struct Result {
        std::vector<std::uint8_t> bytes;       // the frames, renumbered
        std::vector<std::uint32_t> frameSizes; // in bytes
        std::vector<std::int16_t> spare;       // the job's buffer, emptied, for a later segment
        Status failure;
    };

    Result encodeJob(Job& job) const;                    // worker threads
    void encodeSegment(const Job& job, Result& r) const; // worker threads
    Status dispatch(bool last);
    Status collect(bool wait);
    Status write(const Result& r);
    Error failure(const QString& cause) const; // any thread
    Error cancelled() const;                   // any thread

    AtomicFile& out_;
    const QString target_;
    const int threads_;
    int sampleRate_ = 0, channels_ = 0, level_ = 0;
    std::int64_t blockSize_ = 0; // samples per channel of every frame but the last
    std::int64_t segment_ = 0;   // blocks

    // Encoding thread only.
    std::vector<std::int16_t> buffer_; // the next segment's samples
    // Buffers of segments and of their frames that were written, to be used again: allocating
    // megabytes per segment on several threads would spread the heap over every thread's
    // arena, and touch new pages each time.
    std::vector<std::vector<std::int16_t>> spares_;
    std::vector<std::vector<std::uint8_t>> spareBytes_;
    std::int64_t received_ = 0; // samples per channel given to add()
    std::int64_t framesWritten_ = 0;
    FlacStreamHeader header_;
    QCryptographicHash md5_{QCryptographicHash::Md5};

    // Last: its workers are joined before everything above goes.
    OrderedPool<Job, Result> workers_;
};

} // namespace quaverly::encode::internal
