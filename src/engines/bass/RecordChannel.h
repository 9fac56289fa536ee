#pragma once
// A recording: 16-bit PCM captured from one input of the sound device and handed, block by
// block, to the caller's RECORDPROC on the device thread.

#include "engines/audio/AudioBackend.h"
#include "engines/bass/BassInternal.h"

#include <atomic>
#include <memory>

namespace quaverly::bass::detail {

// Threads: the Channel overrides and start() run on the calling thread with mutex() held.
// deliver() runs on the device thread and touches only the atomics and the constant fields, so
// it never waits for the calling thread; stop(), release() and the destructor close the capture,
// after which deliver() is never called again.
class RecordChannel final : public Channel {
public:
    RecordChannel(const audio::PcmFormat& format, RECORDPROC* proc, void* user);
    ~RecordChannel() override;

    // Opens the capture from the back end's source `sourceIndex`; `handle` is what the proc gets.
    // False with the error set (BASS_ERROR_START) when the device refuses.
    bool start(audio::AudioBackend& backend, int sourceIndex, DWORD handle);

    BASS_CHANNELINFO info() const override;
    // BASS_ACTIVE_PLAYING while blocks are delivered; BASS_ACTIVE_STOPPED after stop(), after
    // the proc returned 0, or when the device failed (then also the error BASS_ERROR_DRIVER with
    // the device's reason).
    DWORD isActive() const override;
    // Bytes handed to the proc so far.
    QWORD position() const override { return bytes_.load(std::memory_order_acquire); }
    // Ends the recording: no proc call after it returns. The handle stays valid (its position
    // readable) until BASS_RecordFree.
    bool stop() override;
    bool isStream() const override { return false; }
    void release() override { stop(); }

private:
    bool deliver(const void* data, std::size_t bytes); // device thread

    const audio::PcmFormat format_;
    RECORDPROC* const proc_;
    void* const user_;
    DWORD handle_ = 0; // written before the capture opens, then only read
    std::unique_ptr<audio::CaptureStream> capture_;
    std::atomic<QWORD> bytes_{0};
    std::atomic<bool> delivering_{true};
};

} // namespace quaverly::bass::detail
