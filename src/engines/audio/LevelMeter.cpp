#include "engines/audio/LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace quaverly::audio {

void LevelMeter::feed(const void* data, std::size_t bytes) {
    const std::size_t count = bytes / 2;
    if (count == 0)
        return;
    const auto* at = static_cast<const unsigned char*>(data);
    int top = 0;
    std::uint64_t squares = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto sample = std::int16_t(std::uint16_t(at[2 * i] | (at[2 * i + 1] << 8)));
        const int magnitude = std::abs(int(sample));
        top = std::max(top, magnitude);
        squares += std::uint64_t(magnitude) * std::uint64_t(magnitude);
    }
    const float peak = float(top) / 32768.0f;
    // The highest peak stays until it is read; the reader empties it.
    float held = peak_.load(std::memory_order_relaxed);
    while (peak > held && !peak_.compare_exchange_weak(held, peak, std::memory_order_relaxed)) {
    }
    rms_.store(float(std::sqrt(double(squares) / double(count)) / 32768.0),
               std::memory_order_relaxed);
    // 32767 is as loud as a positive sample goes.
    if (top >= 32767)
        clipped_.store(true, std::memory_order_relaxed);
    fresh_.store(true, std::memory_order_relaxed);
}

LevelMeter::Reading LevelMeter::read() {
    Reading r;
    r.fresh = fresh_.exchange(false, std::memory_order_relaxed);
    r.peak = peak_.exchange(0, std::memory_order_relaxed);
    r.rms = rms_.load(std::memory_order_relaxed);
    r.clipped = clipped_.exchange(false, std::memory_order_relaxed);
    return r;
}

void LevelMeter::reset() {
    peak_.store(0, std::memory_order_relaxed);
    rms_.store(0, std::memory_order_relaxed);
    clipped_.store(false, std::memory_order_relaxed);
    fresh_.store(false, std::memory_order_relaxed);
}

float LevelMeter::dbfs(float level) {
    if (level <= 0)
        return kFloorDb;
    return std::max(kFloorDb, 20.0f * std::log10(level));
}

} // namespace quaverly::audio
