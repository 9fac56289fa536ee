#pragma once
// Mark times to the millisecond: what the editor's mark fields take (they show clockMillis()),
// and the frames the cut makes of the marks, so that a typed time or a zero crossing becomes the
// mark whose frame the cut will really use.
//
// Threads: pure functions and values; callable from any thread.

#include <QString>

#include <cstdint>
#include <optional>

namespace quaverly {

// A typed time in microseconds: "s", "m:ss" or "h:mm:ss", the seconds with an optional fraction
// of up to six digits after a '.'; blanks around it are ignored. A field after a ':' has two
// digits below 60; the first field has any number of digits. Times from 1000 hours on, signs
// and anything else give nullopt.
std::optional<qint64> parseMarkTime(const QString& text);

// A place in a song between frames: `frame` plus `millionths` of the next one.
struct FramePoint {
    std::uint64_t frame = 0;
    std::uint32_t millionths = 0;
};

// The frames of a song of `frames` frames at `rate` as the cut reaches them. The cut removes
// the head up to the In mark, then the tail from (Out - In) ms of what is left; each position
// goes to its nearest frame and the length in ms to the end. A mark is a whole millisecond, so
// only some frames can be where a clip starts or ends; the *Near functions give the mark whose
// frame is nearest to a place.
class CutGrid {
public:
    CutGrid() = default;
    CutGrid(std::uint32_t rate, std::uint64_t frames) : rate_(rate), frames_(frames) {}

    bool isValid() const { return rate_ > 0; }
    std::uint32_t rate() const { return rate_; }
    std::uint64_t frames() const { return frames_; }
    qint64 lengthMs() const;

    // The place of a time in microseconds.
    FramePoint pointAt(qint64 us) const;

    // The first frame of the clip for In mark `in`.
    std::uint64_t inFrame(qint64 in) const;
    // The frame after the clip's last for the marks; for Out not after In, Out's own frame.
    std::uint64_t outFrame(qint64 in, qint64 out) const;
    // The clip's length in ms (its frames rounded as the player rounds a length); 0 for marks
    // out of order.
    qint64 clipMs(qint64 in, qint64 out) const;

    // The In mark whose frame is nearest to `p` (ties: the earlier frame).
    qint64 inMarkNear(FramePoint p) const;
    // The Out mark, with In at `in`, whose end frame is nearest to `p`.
    qint64 outMarkNear(qint64 in, FramePoint p) const;

private:
    template <typename Frame, typename Mark>
    qint64 nearest(FramePoint p, Frame frameOf, Mark canonical) const;

    std::uint32_t rate_ = 0;
    std::uint64_t frames_ = 0;
};

} // namespace quaverly
