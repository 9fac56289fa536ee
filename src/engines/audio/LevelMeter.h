#pragma once
// The level of a capture, for a meter: the peak and the RMS of the sound and whether it reached
// full scale. The capture's callback feeds each block in; a control thread reads what came since
// its last reading. Feeding neither allocates, locks nor waits: the values pass through atomics.
//
// Threads: feed() on the sound device's thread (one producer at a time); read() and reset() on
// one control thread.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quaverly::audio {

class LevelMeter {
public:
    // The meter's scale ends here: quieter sound reads as this.
    static constexpr float kFloorDb = -60.0f;

    struct Reading {
        float peak = 0;       // 0 to 1 of full scale: the highest since the last reading
        float rms = 0;        // 0 to 1 of full scale: of the last block
        bool clipped = false; // a sample reached full scale since the last reading
        bool fresh = false;   // a block came since the last reading
    };

    // A block of 16-bit signed little-endian PCM, every channel alike.
    void feed(const void* data, std::size_t bytes);
    // What came since the last reading; the peak and the clip start again from nothing.
    Reading read();
    void reset();

    // `level` (0 to 1 of full scale) in dB of full scale, kFloorDb at the least.
    static float dbfs(float level);

private:
    static_assert(std::atomic<float>::is_always_lock_free, "the device thread must never wait");

    std::atomic<float> peak_{0};
    std::atomic<float> rms_{0};
    std::atomic<bool> clipped_{false};
    std::atomic<bool> fresh_{false};
};

} // namespace quaverly::audio
