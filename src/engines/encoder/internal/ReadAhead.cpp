#include "engines/encoder/internal/ReadAhead.h"

namespace quaverly::encode::internal {

ReadAhead::ReadAhead(PcmSource& source, std::size_t blockFrames, Layout layout,
                     std::stop_token stop)
    : source_(source), blockFrames_(blockFrames), channels_(std::size_t(source.channels())) {
    for (Slot& slot : slots_)
        slot.samples.resize(blockFrames * channels_);
    if (layout == Layout::Planar)
        interleaved_.resize(blockFrames * channels_);
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
            // Handed to the encoder's thread, which throws it again.
            thrown_ = std::current_exception();
            slot.count = 0;
            slot.failed.reset();
        }
        const bool last = slot.count == 0 || slot.failed;
        publish();
        if (last)
            return;
    }
}

void ReadAhead::readBlock(Slot& slot, const std::stop_token& stop) {
    slot.count = 0;
    slot.failed.reset();
    if (stop.stop_requested())
        return;
    const bool planar = !interleaved_.empty();
    const Result<std::size_t> got =
        source_.read(planar ? interleaved_.data() : slot.samples.data(), blockFrames_);
    if (!got) {
        slot.failed = got.error();
        return;
    }
    if (planar)
        toPlanes(interleaved_.data(), *got, channels_, slot.samples.data());
    slot.count = *got * channels_;
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
    std::unique_lock lock(mutex_);
    // The block handed out last is free again; the reader waits for half of them.
    if (holding_ && --busy_ == kDepth / 2)
        freed_.notify_one();
    holding_ = false;
    filled_.wait(lock, [this] { return ready_ > 0; });
    --ready_;
    lock.unlock();

    const Slot& slot = slots_[taken_++ % kDepth];
    holding_ = true;
    if (slot.failed) {
        over_ = true;
        return *slot.failed;
    }
    if (slot.count == 0) {
        over_ = true;
        if (thrown_)
            std::rethrow_exception(thrown_);
    }
    return std::span<const float>(slot.samples.data(), slot.count);
}

} // namespace quaverly::encode::internal
