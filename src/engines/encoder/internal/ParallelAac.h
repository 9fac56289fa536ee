#pragma once
// AAC encoding spread over several threads, with one valid, gapless stream as its result.
//
// The input is cut into segments of whole packets. Each segment is encoded by an encoder of its
// own, started some packets before the segment (so that its psychoacoustic model and rate
// control have settled) and run some packets past it. Every encoder starts at a multiple of the
// packet length, so packet n of any encoder stands for the same samples as packet n of a single
// pass. AAC codes each packet on its own; a decoder joins neighbours only by overlapping the tail
// of one packet's window with the head of the next one's, and an encoder shapes that head after the
// tail it gave the packet before. So neighbouring segments are spliced at a packet P inside
// their overlap where both encoders ended packet P-1 with the same kind of window tail (long or
// short) and the same window shape: the later encoder's packet P then overlaps the earlier
// encoder's packet P-1 as it would its own. The splice nearest the planned boundary wins.
// Should no packet of an overlap qualify, finish() says so (spliceFailed()), and the caller
// encodes in one pass instead.
//
// Threads: one thread (the encoding thread) calls every public function; the workers of an
// OrderedPool only encode the segments handed to them.

#include "engines/encoder/internal/AacStream.h"
#include "engines/util/OrderedPool.h"

#include <cstdint>
#include <stop_token>
#include <vector>

namespace quaverly::encode::internal {

class ParallelAacEncoder {
public:
    // Writes the packets through `mp4` (opened), each at its packet's time less `lead`. A stop
    // request abandons the encoding within a few milliseconds: every later call fails.
    ParallelAacEncoder(QString target, Mp4Writer& mp4, int lead, int threads,
                       std::stop_token stop = {});
    ~ParallelAacEncoder() = default; // abandons what is still being encoded
    ParallelAacEncoder(const ParallelAacEncoder&) = delete;
    ParallelAacEncoder& operator=(const ParallelAacEncoder&) = delete;

    // The segments: evened out over the threads for about `expectedFrames` of input.
    void open(int sampleRate, int channels, int kbps, std::int64_t expectedFrames);
    // Interleaved frames of input (the lead included), full scale +-1.
    Status add(const float* pcm, std::size_t frames);
    // Encodes the rest and writes every packet; the file is then complete but for its index.
    Status finish();
    // After a failed finish(): no packet of an overlap could be spliced at.
    bool spliceFailed() const { return spliceFailed_; }

    // Packets before a segment that its encoder encodes first: its rate control takes about 20
    // to settle, and until then codes a few dB worse than a single pass. Packets after it, and
    // how far before the planned boundary a splice may lie.
    static constexpr std::int64_t kLeadIn = 32;
    static constexpr std::int64_t kLeadOut = 8;
    static constexpr std::int64_t kReach = 8;
    // Packets of the shortest segment (about 6 s at 44.1 kHz): long enough that its overlaps
    // cost little.
    static constexpr std::int64_t kMinSegment = 256;

private:
    struct Job {
        std::int64_t firstPacket = 0; // the packet (and frame) the encoder starts at
        bool last = false;
        std::vector<float> pcm;
    };
    struct Result {
        std::int64_t firstPacket = 0;
        std::vector<decode::AvPacketPtr> packets; // the encoder's, from its priming packet on
        Status failure;
    };

    Result encodeJob(const Job& job) const; // worker threads
    Status dispatch(bool last);
    Status collect(bool wait);
    Status splice(Result next);
    Status writeHeld(std::int64_t until);
    Error cancelled() const;

    QString target_;
    Mp4Writer& mp4_;
    int lead_;
    int threads_;
    int sampleRate_ = 0, channels_ = 0, kbps_ = 0;
    std::int64_t segment_ = 0; // packets

    // Encoding thread only.
    std::vector<float> buffer_;    // input from bufferStart_ on, not yet all handed out
    std::int64_t bufferStart_ = 0; // in packets (of input frames)
    std::int64_t received_ = 0;    // input frames given to add()
    std::optional<Result> held_;   // the latest result, its tail waiting for the next splice
    std::int64_t heldFrom_ = 0;    // its first packet not written yet
    bool spliceFailed_ = false;

    // Last: its workers are joined before everything above goes.
    OrderedPool<Job, Result> workers_;
};

} // namespace quaverly::encode::internal
