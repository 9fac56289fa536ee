#pragma once
// Millisecond <-> sample-frame conversions shared by the player, the cut and the clip editor's
// marks, so that a length one reports and a position another receives map to the same frame.

#include <cstdint>
#include <limits>
#include <optional>

namespace quaverly::frametime {

// Whole milliseconds of `frames` at `rate`, rounded to the nearest (a half rounds up).
inline std::uint64_t framesToMs(std::uint64_t frames, std::uint32_t rate) {
    if (rate == 0)
        return 0;
    // frames < 2^32 * 2^32 would overflow frames * 1000: split into whole seconds and a rest.
    const std::uint64_t seconds = frames / rate;
    const std::uint64_t rest = frames % rate; // < rate < 2^32, so rest * 1000 fits
    return seconds * 1000u + (rest * 1000u + rate / 2u) / rate;
}

// The frame nearest to `ms` at `rate` (a half rounds up), or nullopt when it cannot be
// represented (only for absurd positions, far past any WAV file).
inline std::optional<std::uint64_t> msToFrames(std::uint64_t ms, std::uint32_t rate) {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    if (rate != 0 && ms > (kMax - 500u) / rate)
        return std::nullopt;
    return (ms * rate + 500u) / 1000u;
}

} // namespace quaverly::frametime
