#pragma once
// MP3 encoding spread over several threads, with one valid, gapless stream as its result.
//
// The sound is cut into segments of a fixed number of MPEG frames. Each segment is encoded by a
// LAME encoder of its own, started some frames before the segment (so that its filter bank,
// psychoacoustic model and bit reservoir have settled) and run some frames past it. Every encoder
// starts at a multiple of the frame length, and LAME delays its input by the same 576 samples in
// each, so frame n of any encoder stands for the same stretch of sound as frame n of a single
// pass. Neighbouring segments are spliced at a frame F inside their overlap where:
//  - the later encoder's frame F begins its main data no further back than the earlier
//    encoder's frame F does (those bytes, at the end of the earlier encoder's frame F-1, belong
//    to nothing it keeps, so the later encoder's first main data bytes are copied over them and
//    its frames follow unchanged: every frame finds its main data where its header says);
//  - both encoders ended frame F-1 with the same block types, so the window shapes on either
//    side of the splice overlap as the decoder expects.
// Among such frames the first from which both encoders write the same frames wins (the later one
// has caught up, and the splice changes nothing); failing that, the one where the two bit
// reservoirs are closest. The first encoder is set up exactly like a single pass; its tag frame
// is rewritten at the end for the whole stream (frame and byte counts, seek table, padding,
// CRCs). A sound shorter than a segment and its overlap (or than one and a half segments, when
// its length is known) is one segment: the same bytes as a single pass. Should no frame of an
// overlap qualify, finish() says so and the caller encodes in one pass instead.
//
// Threads: one thread (the encoding thread) calls every public function; the workers of an
// OrderedPool only encode the jobs handed to them.

#include "engines/encoder/Mp3Encode.h"
#include "engines/encoder/internal/Mp3Frames.h"
#include "engines/util/OrderedPool.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::mp3 {

// Encodes a stream of interleaved float frames into an MP3 written to an AtomicFile. Failures
// name the target: EncodeStep::Write when writing it failed, Cancel when the stop was requested,
// Encode otherwise.
class Mp3StreamWriter {
public:
    virtual ~Mp3StreamWriter() = default;
    // With `gapless` LAME's tag frame must come out; without, it has no room for it.
    virtual Status open(int sampleRate, int channels, int kbps, bool gapless) = 0;
    virtual Status encode(const float* frames, std::size_t count) = 0;
    virtual Status finish() = 0;
};

class ParallelMp3Writer final : public Mp3StreamWriter {
public:
    // A stop request abandons the encoding within a few milliseconds: every later call fails.
    ParallelMp3Writer(AtomicFile& out, const QString& target, int threads,
                      std::stop_token stop = {});
    ~ParallelMp3Writer() override = default; // abandons what is still being encoded
    ParallelMp3Writer(const ParallelMp3Writer&) = delete;
    ParallelMp3Writer& operator=(const ParallelMp3Writer&) = delete;

    // Before open(): about how many sample frames will come, so that the segments can be sized
    // to keep every thread busy to the end.
    void expectLength(std::int64_t sampleFrames) { expected_ = sampleFrames; }
    Status open(int sampleRate, int channels, int kbps, bool gapless) override;
    Status encode(const float* frames, std::size_t count) override;
    Status finish() override;
    // After a failed finish() or encode(): the failure was a splice with no frame to splice at,
    // and a single pass will do.
    bool spliceFailed() const { return spliceFailed_; }

private:
    struct Job {
        std::size_t index = 0;
        std::int64_t firstFrame = 0; // global frame of the encoder's first frame
        bool last = false;
        std::vector<float> pcm;
    };
    struct Result {
        std::int64_t firstFrame = 0;
        std::int64_t goodUntil = 0; // global frames before this had the sound after them
        std::size_t tagFrames = 0;  // 1 when frames[0] is the tag placeholder
        std::vector<unsigned char> bytes;
        std::vector<Mp3Frame> frames;
        std::vector<unsigned char> tag; // the first encoder's final tag frame
        std::vector<float> spare;       // the job's buffer, emptied, for a later segment
        QString error;                  // the cause, when the segment could not be encoded
        bool cancelled = false;
    };

    Result encodeJob(Job& job) const;           // worker threads
    Result encodeSegment(const Job& job) const; // worker threads
    Status dispatch(bool last);
    Status collect(bool wait);
    std::vector<float> takeSpare();
    Status splice(Result& next);
    Status writeFrames(const Result& r, std::size_t from, std::size_t to);
    Error fail(EncodeStep step, const QString& cause) const;
    Error writeFailed(const Status& s) const;

    AtomicFile& out_;
    QString target_;
    int threads_;
    SegmentPlan plan_;
    bool fixedPlan_ = false; // a test's plan, taken as it is
    int sampleRate_ = 0, channels_ = 0, kbps_ = 0, frameSamples_ = 1152;
    bool gapless_ = true;
    std::int64_t expected_ = -1;

    // Encoding thread only.
    std::vector<float> buffer_;              // sound from bufferStart_ on, not yet all handed out
    std::vector<std::vector<float>> spares_; // emptied segment buffers
    std::int64_t bufferStart_ = 0;           // in sample frames
    std::int64_t received_ = 0;              // sample frames given to encode()
    std::optional<Result> held_; // the latest result, its tail waiting for the next splice
    std::size_t heldFrom_ = 0;   // its first frame not written yet
    std::vector<unsigned char> tag_;
    std::vector<std::uint64_t> frameOffsets_;
    std::uint64_t written_ = 0;
    std::uint16_t musicCrc_ = 0;
    bool spliceFailed_ = false;

    // Last: its workers are joined before everything above goes.
    OrderedPool<Job, Result> workers_;
};

} // namespace quaverly::mp3
