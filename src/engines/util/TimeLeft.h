#pragma once
// How long a piece of work has left, told the same way by the window's busy window and the
// command line's progress line.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace quaverly {

// Whole seconds left (rounded up) when `part` (0 to 1) of the work took `elapsed` seconds; told
// only once a second has passed or a twentieth is done, and something is: before that an
// estimate swings too much to be worth showing.
inline std::optional<std::int64_t> secondsLeft(double part, double elapsed) {
    if (part <= 0 || (elapsed < 1.0 && part < 0.05))
        return std::nullopt;
    part = std::min(part, 1.0);
    // Less a hair that a whole number may gain in floating point.
    return std::llround(std::ceil(elapsed * (1 - part) / part - 1e-6));
}

} // namespace quaverly
