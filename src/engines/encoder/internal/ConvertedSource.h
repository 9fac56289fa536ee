#pragma once
// A source at another rate or channel count: the frames of an inner source resampled (libsoxr,
// the duration kept: round(frames x ratio)) and mixed down (the mean of the two channels) or
// duplicated (mono to stereo). Used by one thread at a time (the encoder's, or the thread that
// reads ahead for it: ReadAhead.h), like the source it wraps.

#include "engines/encoder/Mp3Encode.h"
#include "engines/util/Resampler.h"

#include <optional>
#include <vector>

namespace quaverly::encode::internal {

class ConvertedSource final : public mp3::PcmSource {
public:
    // The inner source outlives this. A rate the resampler refuses is a failure in words, naming
    // no file.
    ConvertedSource(mp3::PcmSource& inner, int sampleRate, int channels);
    Status open();

    int channels() const override { return channels_; }
    int sampleRate() const override { return rate_; }
    Result<std::size_t> read(float* dst, std::size_t frames) override;
    bool rewind() override;
    std::int64_t lengthHint() const override;

private:
    // Refills ready_ from the inner source; false at its end (after the resampler's flush).
    Result<bool> refill();

    mp3::PcmSource& inner_;
    int rate_;
    int channels_;
    std::optional<Resampler> resampler_;
    std::vector<float> in_;
    std::vector<float> mixed_;
    std::vector<float> ready_; // converted frames not yet handed out, from readPos_
    std::size_t readPos_ = 0;
    bool ended_ = false;
};

} // namespace quaverly::encode::internal
