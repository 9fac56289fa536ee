#include "engines/encoder/internal/ReadAhead.h"

#include <algorithm>

namespace quaverly::encode::internal {

ReadAhead::ReadAhead(PcmSource& source, std::size_t readFrames, std::size_t blockFrames,
                     Layout layout, std::stop_token stop)
    : source_(source), readFrames_(readFrames), blockFrames_(blockFrames),
      channels_(std::size_t(source.channels())) {
    for (Slot& slot : slots_)
        slot.samples.resize(readFrames * channels_);
    if (layout == Layout::Planar)
        interleaved_.resize(readFrames * channels_);
    reader_ = std::jthread([this, stop = std::move(stop)] { run(stop); });
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    freed_.notify_one();
    reader_.join();
}

void ReadAhead::run(const std::stop_token& stop) {
    for (std::size_t written = 0;; ++written) {
        if (!waitForRoom())
            return;
        Slot& slot = slots_[written % kDepth];
        try {
            readBlock(slot, stop);
        } catch (...) {
            // The source is the caller's code and may throw (std::bad_alloc where its buffers
            // grow; the tests' failing sources on purpose). An exception cannot leave this
            // thread: it is handed to the encoder's thread, which throws it again, as it would
            // have met it reading the source itself.
            thrown_ = std::current_exception();
            slot.frames = 0;
            slot.failed.reset();
        }
        const bool last = slot.frames == 0 || slot.failed;
        publish();
        if (last)
            return;
    }
}

void ReadAhead::readBlock(Slot& slot, const std::stop_token& stop) {
    slot.frames = 0;
    slot.failed.reset();
    if (stop.stop_requested())
        return;
    const bool planar = !interleaved_.empty();
    const Result<std::size_t> got =
        source_.read(planar ? interleaved_.data() : slot.samples.data(), readFrames_);
    if (!got) {
        slot.failed = got.error();
        return;
    }
    // Each block's planes where the block's frames would be.
    for (std::size_t at = 0; planar && at < *got; at += blockFrames_) {
        const std::size_t offset = at * channels_;
        toPlanes(interleaved_.data() + offset, std::min(blockFrames_, *got - at), channels_,
                 slot.samples.data() + offset);
    }
    slot.frames = *got;
}

bool ReadAhead::waitForRoom() {
    std::unique_lock lock(mutex_);
    // Full: wait until the encoder has freed half, so that it wakes this thread rarely.
    if (busy_ == kDepth)
        freed_.wait(lock, [this] { return abandoned_ || busy_ <= kDepth / 2; });
    return !abandoned_;
}

void ReadAhead::publish() {
    {
        const std::lock_guard lock(mutex_);
        ++busy_;
        ++ready_;
    }
    filled_.notify_one();
}

Result<std::span<const float>> ReadAhead::next() {
    if (over_)
        return std::span<const float>();
    if (holding_) {
        // The rest of the read taken last, block by block, before the next read.
        const Slot& slot = slots_[(taken_ - 1) % kDepth];
        if (handed_ < slot.frames)
            return handOut(slot);
    }
    std::unique_lock lock(mutex_);
    // The read handed out last is free again; the reader waits for half of them.
    if (holding_ && --busy_ == kDepth / 2)
        freed_.notify_one();
    holding_ = false;
    filled_.wait(lock, [this] { return ready_ > 0; });
    --ready_;
    lock.unlock();

    const Slot& slot = slots_[taken_++ % kDepth];
    holding_ = true;
    handed_ = 0;
    if (slot.failed) {
        over_ = true;
        return *slot.failed;
    }
    if (slot.frames == 0) {
        over_ = true;
        if (thrown_)
            std::rethrow_exception(thrown_);
        return std::span<const float>();
    }
    return handOut(slot);
}

std::span<const float> ReadAhead::handOut(const Slot& slot) {
    const std::size_t frames = std::min(blockFrames_, slot.frames - handed_);
    const std::span<const float> block(slot.samples.data() + handed_ * channels_,
                                       frames * channels_);
    handed_ += frames;
    return block;
}

} // namespace quaverly::encode::internal
