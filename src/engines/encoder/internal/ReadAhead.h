#pragma once
// Reads a PcmSource on a thread of its own, a few reads ahead of the encoder, so that the
// encoding thread only encodes: reading the file, the conversion to float and ConvertedSource's
// resampling and mixing run beside it on another core. The source is read as forEachBlock reads
// it (readFrames asked, what came kept) and each read is handed out in blocks of blockFrames, in
// order, so the encoder is handed the very blocks it would read itself and writes the same bytes.
//
// A block can also be handed out planar, one channel after the other (libvorbis takes planes):
// the reader then sorts the samples too, each block into planes of its own.
//
// The reads live in kDepth buffers allocated once and used in turn. The reader refills only
// once half of them are free again, so the two threads wake each other a few times a second,
// not at every read. A read failure is handed out in its place, after the blocks before it
// (the failure the encoding reports is the one it meets first, as when it reads itself).
//
// The reader stops at the source's end, at a failure, at a stop request (checked before each
// read, as forEachBlock does) and when the ReadAhead is destroyed, which waits for it.
//
// Threads: one thread makes the ReadAhead, calls next() and destroys it; between those the
// reader thread is the only one that calls the source.

#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/util/CodecThreads.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>
#include <vector>

namespace quaverly::encode::internal {

enum class Layout { Interleaved, Planar };

// Interleaved frames into planes: channel c's `count` samples at planes + c x count.
inline void toPlanes(const float* frames, std::size_t count, std::size_t channels, float* planes) {
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t i = 0; i < count; ++i)
            planes[c * count + i] = frames[i * channels + c];
}

class ReadAhead {
public:
    static constexpr std::size_t kDepth = 8;

    // Starts reading `source`, which outlives this, in reads of `readFrames` handed out in
    // blocks of `blockFrames`.
    ReadAhead(PcmSource& source, std::size_t readFrames, std::size_t blockFrames, Layout layout,
              std::stop_token stop);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block's samples in the layout asked for, valid until the next call; empty at the
    // source's end or once the reader saw the stop. Waits for the reader when it is behind. A
    // failed read is the source's Error; an exception the reader met is thrown here.
    Result<std::span<const float>> next();

private:
    struct Slot {
        std::vector<float> samples;
        std::size_t frames = 0; // frames of this read
        std::optional<Error> failed;
    };

    // The reader thread's loop, and what it does at each read.
    void run(const std::stop_token& stop);
    void readBlock(Slot& slot, const std::stop_token& stop);
    // The encoder's next block of `slot`, the read it holds.
    std::span<const float> handOut(const Slot& slot);
    // The reader's wait for a free buffer; false once the encoder wants no more.
    bool waitForRoom();
    // Hands the buffer just filled to the encoder.
    void publish();

    PcmSource& source_;
    const std::size_t readFrames_;
    const std::size_t blockFrames_;
    const std::size_t channels_;
    std::vector<float> interleaved_; // the reader's, for planar blocks
    std::array<Slot, kDepth> slots_;

    std::mutex mutex_;
    std::condition_variable filled_; // the encoder waits on it for a block
    std::condition_variable freed_;  // the reader waits on it for room
    std::size_t busy_ = 0;           // buffers filled or in the encoder's hands
    std::size_t ready_ = 0;          // buffers filled and not yet handed out
    bool abandoned_ = false;         // the encoder wants no more
    std::exception_ptr thrown_;      // set before the last block is published

    // The encoder's side alone.
    std::size_t taken_ = 0;  // reads taken from the reader
    std::size_t handed_ = 0; // frames of the read taken last handed out
    bool holding_ = false;   // the read taken last is still in use
    bool over_ = false;      // the last block (end or failure) was handed out

    std::jthread reader_; // last: started once everything above is in place, joined first
};

// forEachBlock with the source read ahead on another thread, when the program may take more than
// one (codecThreads()): the same blocks, the same failures, the same cancel. consume gets each
// block in `layout`.
template <typename Consume>
Status forEachBlockReadAhead(PcmSource& source, const AtomicFile& out, const std::stop_token& stop,
                             Layout layout, Consume&& consume) {
    const auto channels = std::size_t(source.channels());
    if (codecThreads() < 2 && layout == Layout::Interleaved)
        return forEachBlock(source, out, stop, consume);
    if (codecThreads() < 2) {
        std::vector<float> planes(kBlockFrames * channels);
        return forEachBlock(source, out, stop, [&](const float* frames, std::size_t count) {
            toPlanes(frames, count, channels, planes.data());
            return consume(static_cast<const float*>(planes.data()), count);
        });
    }
    ReadAhead ahead(source, kReadFrames, kBlockFrames, layout, stop);
    for (;;) {
        if (stop.stop_requested())
            return cancelled(out);
        const Result<std::span<const float>> block = ahead.next();
        if (!block)
            return block.error().during(EncodeStep::Source);
        // The reader ends early at a stop: that end is no end of the sound.
        if (block->empty())
            return stop.stop_requested() ? Status(cancelled(out)) : Status();
        if (Status failed = consume(block->data(), block->size() / channels); !failed)
            return failed;
    }
}

} // namespace quaverly::encode::internal
