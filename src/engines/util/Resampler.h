#pragma once
// Streams interleaved frames from one rate to another with libsoxr at high quality: float frames
// for the encoders, 16-bit ones for the list's joins. soxr aligns its output with the input (its
// filter delay is compensated), and once drained the output holds round(input frames x ratio)
// frames, so durations match. No dither: the same sound always resamples to the same bytes.
//
// Not thread-safe: one thread at a time uses one Resampler.

#include "engines/util/Error.h"

#include <cstddef>
#include <memory>
#include <vector>

struct soxr;

namespace quaverly {

class Resampler {
public:
    enum class Samples { Float, Short }; // float (full scale +-1) or 16-bit, interleaved

    Resampler();
    ~Resampler();
    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;

    // The Error's cause is soxr's words; it names no file.
    Status open(int fromRate, int toRate, int channels, Samples samples = Samples::Float);

    // Float frames: resamples `frames` frames of `in`; `out` receives what is ready (replacing
    // its content).
    Status process(const float* in, std::size_t frames, std::vector<float>& out);
    // Drains what soxr still holds once the input has ended.
    Status flush(std::vector<float>& out);

    // One call into soxr, in the samples open() was given: takes up to `frames` frames of `in`
    // (null once the input has ended, to drain it) and writes up to `room` frames to `out`.
    struct Pass {
        std::size_t used = 0; // input frames taken
        std::size_t made = 0; // output frames written
    };
    Result<Pass> pass(const void* in, std::size_t frames, void* out, std::size_t room);

private:
    struct Deleter {
        void operator()(soxr* s) const;
    };
    std::unique_ptr<soxr, Deleter> soxr_;
    unsigned channels_ = 1;
    double ratio_ = 1.0;
};

} // namespace quaverly
