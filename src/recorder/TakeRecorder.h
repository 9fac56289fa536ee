#pragma once
// The recording engine: records 44.1 kHz stereo 16-bit sound from the input that is on into a
// RecordTake, and plays the finished take from memory.
//
// The sound layer calls OnRecordedData on the device thread for every recorded block. It only
// copies the block into a single-producer ring, allocated when the take begins, and counts: it
// never allocates, blocks, calls the layer or touches a widget. The control thread moves what the
// ring holds into the take with pump() (often: the ring holds about 47 s of sound), growing the
// take there; a block that finds the ring full is counted in lostBytes(), never waited for.
// The play stream reads the take where it lies, so the take never grows while a stream exists.
//
// Threads: OnRecordedData on the sound device's thread; everything else on one control thread
// (the window thread in the program). The two meet only in the ring and the atomics.

#include "engines/bass/Bass.h"
#include "engines/util/SpscRing.h"
#include "engines/wav/WavHeader.h"
#include "recorder/RecordTake.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

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
        DeviceFailed, // the device stopped delivering: errorCode() and errorText() say why
    };

    TakeRecorder() : TakeRecorder(Options{}) {}
    explicit TakeRecorder(Options options);
    // Ends a recording still running, and frees the play stream, before the take goes.
    ~TakeRecorder();
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    // Discards the last take and its play stream, then starts a new take and records into it.
    // False when it cannot start: errorCode() is the layer's code (BASS_ERROR_MEM when the take's
    // first block cannot be had), and there is no take.
    bool BeginRecording();
    // Moves the recorded blocks into the take; says when the recording must end.
    Stop pump();
    // Ends the recording (no block follows), moves the last blocks in, completes the header and
    // makes the play stream. Without a play stream (the layer refused it: errorCode()) the take
    // is still there to be saved.
    void EndRecording();
    // Ends a recording without keeping it, frees the play stream and the take: back to idle.
    void discard();
    // Forgets the recording, the play stream and the take, without a call to the layer: for when
    // BASS_RecordFree and BASS_Free have freed the device and every stream already.
    void release();

    bool recording() const { return recordChannel_ != 0; }
    bass::HRECORD recordChannel() const { return recordChannel_; }
    bass::HSTREAM playStream() const { return playStream_; }
    const RecordTake& take() const { return take_; }
    // Bytes of sound that did not reach the take because the ring was full.
    std::uint64_t lostBytes() const { return lost_.load(std::memory_order_relaxed); }
    int errorCode() const { return errorCode_; }
    const std::string& errorText() const { return errorText_; }

private:
    static bass::BOOL OnRecordedData(bass::HRECORD handle, const void* data, bass::DWORD length,
                                     void* user);
    bool deliver(const void* data, std::size_t bytes); // device thread
    bool drain();                                      // false: the take could not grow
    void failed();                                     // keeps the layer's error

    Options options_;
    RecordTake take_;
    std::unique_ptr<SpscRing> ring_;
    bass::HRECORD recordChannel_ = 0;
    bass::HSTREAM playStream_ = 0;
    int errorCode_ = 0;
    std::string errorText_;
    // Written by the device thread while recording; read by the control thread.
    std::atomic<std::uint64_t> accepted_{0}; // bytes let into the ring (towards maxDataBytes)
    std::atomic<std::uint64_t> lost_{0};
    std::atomic<bool> full_{false};
};

} // namespace quaverly
