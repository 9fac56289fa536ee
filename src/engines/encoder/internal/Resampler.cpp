#include "engines/encoder/internal/Resampler.h"

#include <soxr.h>

namespace quaverly::encode::internal {

std::optional<QString> Resampler::open(int fromRate, int toRate, int channels) {
    channels_ = static_cast<unsigned>(channels);
    ratio_ = double(toRate) / double(fromRate);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    soxr_.reset(soxr_create(fromRate, toRate, channels_, &err, &io, &quality, nullptr));
    if (!soxr_ || err)
        return QString::fromUtf8(err ? err : "cannot create the resampler");
    return std::nullopt;
}

std::optional<QString> Resampler::process(const float* in, std::size_t frames,
                                          std::vector<float>& out) {
    out.clear();
    std::size_t consumed = 0;
    while (consumed < frames) {
        const std::size_t room = static_cast<std::size_t>(double(frames) * ratio_) + 64;
        const std::size_t start = out.size();
        out.resize(start + room * channels_);
        std::size_t idone = 0, odone = 0;
        const soxr_error_t err =
            soxr_process(soxr_.get(), in + consumed * channels_, frames - consumed, &idone,
                         out.data() + start, room, &odone);
        out.resize(start + odone * channels_);
        if (err)
            return QString::fromUtf8(err);
        if (idone == 0 && odone == 0)
            return QStringLiteral("the resampler made no progress");
        consumed += idone;
    }
    return std::nullopt;
}

std::optional<QString> Resampler::flush(std::vector<float>& out) {
    out.clear();
    const std::size_t room = 4096;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room * channels_);
        std::size_t odone = 0;
        const soxr_error_t err =
            soxr_process(soxr_.get(), nullptr, 0, nullptr, out.data() + start, room, &odone);
        out.resize(start + odone * channels_);
        if (err)
            return QString::fromUtf8(err);
        if (odone < room)
            return std::nullopt;
    }
}

} // namespace quaverly::encode::internal
