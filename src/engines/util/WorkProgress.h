#pragma once
// How whole-file work of the core learns that it should stop and tells how far it has come: the
// stop token a window job or the command line's Ctrl+C requests a stop on, and a function told
// `done` of `total` (any unit) after each step. Either may be empty: the work then runs to its
// end, telling no one.
//
// Threads: the work calls stopped() and report() on its own thread; the function must be cheap
// and safe to call there.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stop_token>

namespace quaverly {

struct WorkProgress {
    std::stop_token stop;
    std::function<void(std::uint64_t done, std::uint64_t total)> tell;

    bool stopped() const { return stop.stop_requested(); }
    void report(std::uint64_t done, std::uint64_t total) const {
        if (tell && total > 0)
            tell(std::min(done, total), total);
    }

    // For a step of a larger work that is `span` of its `whole` parts, after `from` parts: the
    // same stop, and the step's own done/total told as the whole work's.
    WorkProgress step(std::uint64_t from, std::uint64_t span, std::uint64_t whole) const {
        if (!tell)
            return {stop, {}};
        return {stop, [tell = tell, from, span, whole](std::uint64_t done, std::uint64_t total) {
                    // Parts in units of 2^20: fine enough for any bar, and `done` (bytes or
                    // frames of a WAV file, below 2^33) times a unit stays within 64 bits.
                    constexpr std::uint64_t kUnit = std::uint64_t(1) << 20;
                    tell(from * kUnit + span * (done * kUnit / total), whole * kUnit);
                }};
    }
};

} // namespace quaverly
