#pragma once
// The time ruler along the waveform: the distance between its labelled ticks for a zoom, and
// the labels' texts. A step is a "nice" number of seconds (1, 2 or 5 times a power of ten below
// a minute; 1, 2, 5, 10, 15 or 30 minutes, then 1, 2, 5 or 10 hours and tens of those), or,
// zoomed in so far that a millisecond would do, a nice number of frames (samples).
//
// Threads: pure functions; callable from any thread.

#include <QString>

#include <cstdint>

namespace quaverly {

struct RulerStep {
    double seconds = 0;      // between two ticks
    std::int64_t frames = 0; // > 0: the step counts frames, and `seconds` is their duration
    friend bool operator==(const RulerStep&, const RulerStep&) = default;
};

// The least step whose ticks are at least `minPixels` apart at `secondsPerPixel`, for a song at
// `sampleRate`.
RulerStep rulerStep(double secondsPerPixel, std::uint32_t sampleRate, int minPixels);

// The label of the tick at `seconds` for steps of `step` seconds: the window's clock texts
// (ClockText.h) with as many decimals as the step needs, at most three: "1:23:45", "12:30",
// "0:12.5", "0:00.125".
QString rulerLabel(double seconds, double step);

} // namespace quaverly
