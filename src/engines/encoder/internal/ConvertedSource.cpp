#include "engines/encoder/internal/ConvertedSource.h"

#include <algorithm>
#include <cmath>

namespace quaverly::encode::internal {
namespace {
constexpr std::size_t kBlockFrames = 8192;
} // namespace

ConvertedSource::ConvertedSource(mp3::PcmSource& inner, int sampleRate, int channels)
    : inner_(inner), rate_(sampleRate), channels_(channels) {}

Status ConvertedSource::open() {
    resampler_.reset();
    ready_.clear();
    readPos_ = 0;
    ended_ = false;
    if (rate_ == inner_.sampleRate())
        return {};
    resampler_.emplace();
    if (Status s = resampler_->open(inner_.sampleRate(), rate_, channels_); !s)
        return Error({}, QStringLiteral("%1 (from %2 Hz to %3 Hz)")
                             .arg(s.error().cause())
                             .arg(inner_.sampleRate())
                             .arg(rate_));
    return {};
}

std::int64_t ConvertedSource::lengthHint() const {
    const std::int64_t inner = inner_.lengthHint();
    if (inner < 0)
        return -1;
    return std::llround(double(inner) * rate_ / inner_.sampleRate());
}

bool ConvertedSource::rewind() {
    return inner_.rewind() && open().ok();
}

Result<bool> ConvertedSource::refill() {
    const int inChannels = inner_.channels();
    in_.resize(kBlockFrames * std::size_t(inChannels));
    const Result<std::size_t> got = inner_.read(in_.data(), kBlockFrames);
    if (!got)
        return got.error();
    const std::size_t frames = *got;
    // The channels first, so the resampler works on as few as will come out.
    const float* pcm = in_.data();
    if (inChannels != channels_) {
        mixed_.resize(frames * std::size_t(channels_));
        for (std::size_t f = 0; f < frames; ++f) {
            if (channels_ == 1) {
                mixed_[f] = 0.5f * (in_[2 * f] + in_[2 * f + 1]);
            } else {
                mixed_[2 * f] = in_[f];
                mixed_[2 * f + 1] = in_[f];
            }
        }
        pcm = mixed_.data();
    }
    ready_.clear();
    readPos_ = 0;
    if (!resampler_) {
        ready_.assign(pcm, pcm + frames * std::size_t(channels_));
        return frames > 0;
    }
    if (Status s =
            frames > 0 ? resampler_->process(pcm, frames, ready_) : resampler_->flush(ready_);
        !s)
        return s.error();
    return frames > 0 || !ready_.empty();
}

Result<std::size_t> ConvertedSource::read(float* dst, std::size_t frames) {
    const auto channels = std::size_t(channels_);
    std::size_t done = 0;
    while (done < frames) {
        if (readPos_ == ready_.size()) {
            if (ended_)
                break;
            Result<bool> more = refill();
            if (!more)
                return more.error();
            if (!*more) {
                ended_ = true;
                break;
            }
            continue;
        }
        const std::size_t n = std::min(frames - done, (ready_.size() - readPos_) / channels);
        std::copy_n(ready_.data() + readPos_, n * channels, dst + done * channels);
        readPos_ += n * channels;
        done += n;
    }
    return done;
}

} // namespace quaverly::encode::internal
