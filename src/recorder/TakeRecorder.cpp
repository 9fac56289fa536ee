#include "recorder/TakeRecorder.h"

#include <algorithm>

namespace quaverly {

namespace {
constexpr std::size_t kFrameBytes = RecordTake::kChannels * 2;
static_assert(TakeRecorder::kRingBytes % kFrameBytes == 0, "the ring holds whole frames");
} // namespace

TakeRecorder::TakeRecorder(Options options) : options_(options), take_(options.reallocate) {}

TakeRecorder::~TakeRecorder() {
    discard();
}

void TakeRecorder::discard() {
    monitor_.reset();
    capture_.reset(); // no block after this: the ring may go
    player_.reset();  // it reads the take
    ring_.reset();
    take_.clear();
}

Status TakeRecorder::BeginRecording(audio::CaptureDevice& device) {
    if (capture_)
        return {};
    discard(); // the monitoring too: one capture at a time
    meter_.reset();
    failure_ = {};
    accepted_ = 0;
    lost_ = 0;
    delivered_ = 0;
    full_ = false;
    // A fresh ring per take: nothing left from the last one can slip into this one.
    ring_ = std::make_unique<SpscRing>(options_.ringBytes);
    if (!take_.start())
        return Error(QString(), QStringLiteral("no memory for the take"), sound::kMemory);
    auto capture =
        device.start(RecordTake::kSampleRate, RecordTake::kChannels,
                     [this](const void* data, std::size_t bytes) { return deliver(data, bytes); });
    if (!capture) {
        take_.clear();
        return capture.error();
    }
    capture_ = std::move(*capture);
    device_ = device.backend();
    return {};
}

Status TakeRecorder::startMonitoring(audio::CaptureDevice& device) {
    if (capture_ || monitor_)
        return {};
    meter_.reset();
    auto monitor = device.start(RecordTake::kSampleRate, RecordTake::kChannels,
                                [this](const void* data, std::size_t bytes) {
                                    meter_.feed(data, bytes);
                                    return true;
                                });
    if (!monitor)
        return monitor.error();
    monitor_ = std::move(*monitor);
    return {};
}

void TakeRecorder::stopMonitoring() {
    monitor_.reset();
}

Status TakeRecorder::monitorFailure() const {
    return monitor_ ? monitor_->failure() : Status{};
}

bool TakeRecorder::deliver(const void* data, std::size_t bytes) {
    meter_.feed(data, bytes);
    // Only the device thread stores accepted_, so reading it relaxed here is exact.
    const std::uint64_t accepted = accepted_.load(std::memory_order_relaxed);
    const std::uint64_t room = options_.maxDataBytes - std::min(accepted, options_.maxDataBytes);
    std::size_t keep = std::size_t(std::min<std::uint64_t>(bytes, room));
    keep -= keep % kFrameBytes;
    std::size_t written = std::min(keep, ring_->freeSpace());
    written = ring_->write(data, written - written % kFrameBytes);
    accepted_.store(accepted + written, std::memory_order_relaxed);
    if (written < bytes)
        lost_.fetch_add(keep - written, std::memory_order_relaxed);
    delivered_.fetch_add(bytes, std::memory_order_relaxed);
    if (!arrivalPending_.exchange(true, std::memory_order_acq_rel))
        arrived_.release();
    if (keep < bytes) {
        full_.store(true, std::memory_order_release);
        return false; // the take is as large as a WAV file can be: the capture stops
    }
    return true;
}

bool TakeRecorder::awaitBlock(std::chrono::milliseconds upTo) {
    const bool came = arrived_.try_acquire_for(upTo);
    arrivalPending_.store(false, std::memory_order_release);
    return came;
}

bool TakeRecorder::drain() {
    while (const std::size_t n = ring_ ? ring_->available() : 0) {
        std::uint8_t* at = take_.reserve(n);
        if (!at)
            return false;
        ring_->read(at, n);
        take_.commit(n);
    }
    return true;
}

TakeRecorder::Stop TakeRecorder::pump() {
    if (!capture_)
        return Stop::None;
    if (!drain())
        return Stop::OutOfMemory;
    if (full_.load(std::memory_order_acquire))
        return Stop::TooLarge;
    if (Status failed = capture_->failure(); !failed) {
        failure_ = std::move(failed);
        return Stop::DeviceFailed;
    }
    return Stop::None;
}

void TakeRecorder::EndRecording() {
    if (!capture_)
        return;
    capture_.reset(); // no block arrives after this
    // When the take cannot grow, what is still in the ring goes (the caller says why); what is
    // in the take is kept.
    drain();
    ring_.reset();
    take_.finish();
    auto player = audio::TakePlayer::open(take_.data(), take_.length(), device_);
    if (player)
        player_ = std::move(*player);
    else
        failure_ = player.error();
}

} // namespace quaverly
