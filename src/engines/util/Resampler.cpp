#include "engines/util/Resampler.h"

#include <soxr.h>

namespace quaverly {
namespace {

Error soxrError(const char* words) {
    return Error({}, QString::fromUtf8(words));
}

} // namespace

void Resampler::Deleter::operator()(soxr* s) const {
    soxr_delete(s);
}

Resampler::Resampler() = default;
Resampler::~Resampler() = default;
Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;

Status Resampler::open(int fromRate, int toRate, int channels, Samples samples) {
    channels_ = static_cast<unsigned>(channels);
    ratio_ = double(toRate) / double(fromRate);
    const soxr_datatype_t type = samples == Samples::Float ? SOXR_FLOAT32_I : SOXR_INT16_I;
    // soxr seeds its dither from the clock: without it the same sound gives the same bytes.
    soxr_io_spec_t io = soxr_io_spec(type, type);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    soxr_.reset(soxr_create(fromRate, toRate, channels_, &err, &io, &quality, nullptr));
    if (!soxr_ || err)
        return soxrError(err ? err : "cannot create the resampler");
    return {};
}

Result<Resampler::Pass> Resampler::pass(const void* in, std::size_t frames, void* out,
                                        std::size_t room) {
    Pass p;
    const soxr_error_t err =
        soxr_process(soxr_.get(), in, in ? frames : 0, in ? &p.used : nullptr, out, room, &p.made);
    if (err)
        return soxrError(err);
    return p;
}

Status Resampler::process(const float* in, std::size_t frames, std::vector<float>& out) {
    out.clear();
    std::size_t consumed = 0;
    while (consumed < frames) {
        const std::size_t room = static_cast<std::size_t>(double(frames) * ratio_) + 64;
        const std::size_t start = out.size();
        out.resize(start + room * channels_);
        const auto p = pass(in + consumed * channels_, frames - consumed, out.data() + start, room);
        out.resize(start + (p ? p->made : 0) * channels_);
        if (!p)
            return p.error();
        if (p->used == 0 && p->made == 0)
            return Error({}, QStringLiteral("the resampler made no progress"));
        consumed += p->used;
    }
    return {};
}

Status Resampler::flush(std::vector<float>& out) {
    out.clear();
    const std::size_t room = 4096;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room * channels_);
        const auto p = pass(nullptr, 0, out.data() + start, room);
        out.resize(start + (p ? p->made : 0) * channels_);
        if (!p)
            return p.error();
        if (p->made < room)
            return {};
    }
}

} // namespace quaverly
