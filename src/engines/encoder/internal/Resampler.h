#pragma once
// Streams interleaved float frames from one rate to another with libsoxr at high quality. soxr
// aligns its output with the input (its filter delay is compensated), and after flush() the
// output holds round(input frames x ratio) frames, so durations match.
//
// Not thread-safe: one thread at a time uses one Resampler.

#include "engines/util/Handles.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

namespace quaverly::encode::internal {

class Resampler {
public:
    std::optional<QString> open(int fromRate, int toRate, int channels);
    // Resamples `frames` frames of `in`; `out` receives what is ready (replacing its content).
    std::optional<QString> process(const float* in, std::size_t frames, std::vector<float>& out);
    // Drains what soxr still holds once the input has ended.
    std::optional<QString> flush(std::vector<float>& out);

private:
    SoxrPtr soxr_;
    unsigned channels_ = 1;
    double ratio_ = 1.0;
};

} // namespace quaverly::encode::internal
