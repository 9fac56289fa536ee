#pragma once
// The recording engine: records 44.1 kHz stereo 16-bit sound from a capture device's chosen input
// into a RecordTake, and plays the finished take from memory.
//
// The capture hands each recorded block to deliver() on the device thread. It only copies the
// block into a single-producer ring, allocated when the take begins, and counts: it never
// allocates, blocks, calls the device or touches a widget. The control thread moves what the
// ring holds into the take with pump() (often: the ring holds about 47 s of sound), growing the
// take there; a block that finds the ring full is counted in lostBytes(), never waited for.
// The player reads the take where it lies, so the take never changes while a player exists.
//
// Both the recording and the monitoring before it (a capture that only feeds the level meter,
// so that the level can be set first) feed the meter from the device thread. There is one
// capture at a time: BeginRecording ends the monitoring and records on a capture of its own,
// which starts the take at its first frame, as without monitoring.
//
// Threads: deliver() on the sound device's thread; everything else on one control thread (the
// window thread in the program). The two meet only in the ring and the atomics.

#include "engines/audio/CaptureDevice.h"
#include "engines/audio/LevelMeter.h"
#include "engines/audio/TakePlayer.h"
#include "engines/util/Error.h"
#include "engines/util/SpscRing.h"
#include "engines/wav/WavHeader.h"
#include "recorder/RecordTake.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <semaphore>

namespace quaverly {

class TakeRecorder {
public:
    static constexpr std::size_t kRingBytes = std::size_t(8) << 20;

    struct Options {
        RecordTake::Reallocate reallocate = &std::realloc;
        // The most sample bytes a take may hold: what a WAV file's 32-bit sizes can describe.
        std::uint64_t maxDataBytes = WavHeader::kMaxDataSize;
        std::size_t ringBytes = kRingBytes; // whole frames
    };

    // Why pump() wants the recording ended.
    enum class Stop {
        None,
        OutOfMemory,  // the take cannot grow: it keeps what it holds
        TooLarge,     // the take holds the most a WAV file can (maxDataBytes)
        DeviceFailed, // the device stopped delivering: failure() says why
    };

    TakeRecorder() : TakeRecorder(Options{}) {}
    explicit TakeRecorder(Options options);
    // Ends a recording still running, and frees the player, before the take goes.
    ~TakeRecorder();
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    // Discards the last take and its player, then starts a new take and records into it from
    // `device`'s chosen input. Fails (sound::kMemory when the take's first block cannot be had,
    // or the device's failure to start) with no take.
    Status BeginRecording(audio::CaptureDevice& device);
    // Moves the recorded blocks into the take; says when the recording must end.
    Stop pump();
    // Waits until the device has handed over a block since the last wait, at most `upTo`; false
    // when none came in that time (the device has stopped, or is slow).
    bool awaitBlock(std::chrono::milliseconds upTo);
    // Ends the recording (no block follows), moves the last blocks in, completes the header and
    // makes the take's player on the recording's device. Without a player (the image was
    // refused: failure()) the take is still there to be saved.
    void EndRecording();
    // Ends a recording (or the monitoring) without keeping it, frees the player and the take:
    // back to idle.
    void discard();

    // Feeds the meter from `device`'s chosen input until stopMonitoring(), BeginRecording() or
    // discard(); the take and its player stay as they are. Nothing to do while recording or
    // monitoring. Fails as the device's start() does.
    Status startMonitoring(audio::CaptureDevice& device);
    void stopMonitoring();
    bool monitoring() const { return monitor_ != nullptr; }
    // Why the monitoring's deliveries stopped (the input or the server went away); success
    // while it works and when there is none.
    Status monitorFailure() const;
    // The level of the monitoring or the recording, read on the control thread.
    audio::LevelMeter& meter() { return meter_; }

    bool recording() const { return capture_ != nullptr; }
    // Bytes the device has handed over for the last take, lost ones included.
    std::uint64_t recordedBytes() const { return delivered_.load(std::memory_order_relaxed); }
    // The take's player once a recording has ended; null otherwise.
    audio::TakePlayer* player() const { return player_.get(); }
    const RecordTake& take() const { return take_; }
    // Bytes of sound that did not reach the take because the ring was full.
    std::uint64_t lostBytes() const { return lost_.load(std::memory_order_relaxed); }
    // Why pump() said DeviceFailed, or why EndRecording() made no player; success otherwise.
    const Status& failure() const { return failure_; }

private:
    bool deliver(const void* data, std::size_t bytes); // device thread
    bool drain();                                      // false: the take could not grow

    Options options_;
    RecordTake take_;
    std::unique_ptr<SpscRing> ring_;
    std::shared_ptr<audio::AudioBackend> device_; // of the last recording: the player's device
    std::unique_ptr<audio::Capture> capture_;
    std::unique_ptr<audio::TakePlayer> player_;
    audio::LevelMeter meter_;                 // fed by whichever capture runs
    std::unique_ptr<audio::Capture> monitor_; // destroyed before the meter it feeds
    Status failure_;
    // Written by the device thread while recording; read by the control thread.
    std::atomic<std::uint64_t> accepted_{0}; // bytes let into the ring (towards maxDataBytes)
    std::atomic<std::uint64_t> lost_{0};
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<bool> full_{false};
    // Released by the device thread once per block unless a release is pending already.
    std::counting_semaphore<> arrived_{0};
    std::atomic<bool> arrivalPending_{false};
};

} // namespace quaverly
