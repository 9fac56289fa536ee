#include "recorder/TakeRecorder.h"

#include <algorithm>

namespace quaverly {

using namespace quaverly::bass;

namespace {
constexpr std::size_t kFrameBytes = RecordTake::kChannels * 2;
static_assert(TakeRecorder::kRingBytes % kFrameBytes == 0, "the ring holds whole frames");
} // namespace

TakeRecorder::TakeRecorder(Options options) : options_(options), take_(options.reallocate) {}

TakeRecorder::~TakeRecorder() {
    discard();
}

void TakeRecorder::discard() {
    if (recordChannel_)
        BASS_ChannelStop(recordChannel_); // no block after this: the ring may go
    if (playStream_)
        BASS_StreamFree(playStream_); // it reads the take
    release();
}

void TakeRecorder::failed() {
    errorCode_ = BASS_ErrorGetCode();
    errorText_ = lastErrorText();
}

bool TakeRecorder::BeginRecording() {
    if (recordChannel_)
        return true;
    discard();
    errorCode_ = 0;
    errorText_.clear();
    accepted_ = 0;
    lost_ = 0;
    full_ = false;
    // A fresh ring per take: nothing left from the last one can slip into this one.
    ring_ = std::make_unique<SpscRing>(options_.ringBytes);
    if (!take_.start()) {
        errorCode_ = BASS_ERROR_MEM;
        errorText_ = "no memory for the take";
        return false;
    }
    recordChannel_ = BASS_RecordStart(RecordTake::kSampleRate, RecordTake::kChannels, 0,
                                      &TakeRecorder::OnRecordedData, this);
    if (!recordChannel_) {
        failed();
        take_.clear();
        return false;
    }
    return true;
}

BOOL TakeRecorder::OnRecordedData(HRECORD, const void* data, DWORD length, void* user) {
    return static_cast<TakeRecorder*>(user)->deliver(data, length) ? 1 : 0;
}

bool TakeRecorder::deliver(const void* data, std::size_t bytes) {
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
    if (keep < bytes) {
        full_.store(true, std::memory_order_release);
        return false; // the take is as large as a WAV file can be: the layer stops recording
    }
    return true;
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
    if (!recordChannel_)
        return Stop::None;
    if (!drain())
        return Stop::OutOfMemory;
    if (full_.load(std::memory_order_acquire))
        return Stop::TooLarge;
    if (BASS_ChannelIsActive(recordChannel_) == BASS_ACTIVE_STOPPED) {
        // The proc marks the take full before it ends the recording: stopped and not full is a
        // device that failed.
        if (full_.load(std::memory_order_acquire))
            return Stop::TooLarge;
        failed();
        return Stop::DeviceFailed;
    }
    return Stop::None;
}

void TakeRecorder::EndRecording() {
    if (!recordChannel_)
        return;
    BASS_ChannelStop(recordChannel_); // no block arrives after this returns
    recordChannel_ = 0;
    // When the take cannot grow, what is still in the ring goes (the caller says why); what is
    // in the take is kept.
    drain();
    ring_.reset();
    take_.finish();
    playStream_ = BASS_StreamCreateFile(1, take_.data(), 0, take_.length(), 0);
    if (!playStream_)
        failed();
}

void TakeRecorder::release() {
    recordChannel_ = 0;
    playStream_ = 0;
    ring_.reset();
    take_.clear();
}

} // namespace quaverly
