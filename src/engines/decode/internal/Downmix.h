#pragma once
// Sample conversions shared by the decoders: floating point to 16-bit, and more than two
// channels mixed down to stereo.
//
// Floating point is scaled by 32768, rounded to nearest and clipped, as FFmpeg's converter does,
// so a float source decodes to the samples `ffmpeg -i IN OUT.wav` gives. Deeper integer samples
// keep their top 16 bits (libsndfile's and FFmpeg's conversion alike).
//
// The downmix follows ITU-R BS.775 as FFmpeg's default does: front left and right at full level,
// the centre and the surrounds at -3 dB into their side (a back centre at -6 dB into both), the
// LFE left out; the whole matrix is then scaled so that no output can pass full scale.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quaverly::decode {

std::int16_t floatToInt16(float f);

// Speaker positions, as bits of a WAVE_FORMAT_EXTENSIBLE channel mask (FFmpeg's native order
// uses the same bits).
namespace speaker {
constexpr std::uint64_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCenter = 0x4, kLfe = 0x8,
                        kBackLeft = 0x10, kBackRight = 0x20, kFrontLeftOfCenter = 0x40,
                        kFrontRightOfCenter = 0x80, kBackCenter = 0x100, kSideLeft = 0x200,
                        kSideRight = 0x400;
}

// The usual layout of `channels` channels when the file names none (FLAC's and WAV's orders).
std::uint64_t defaultChannelMask(int channels);

class Downmix {
public:
    // `mask` gives the position of each channel in order, one bit each; when it does not name
    // exactly `channels` positions, defaultChannelMask(channels) stands in.
    Downmix(int channels, std::uint64_t mask);

    // Interleaved frames of `channels` floats (full scale ±1) into interleaved stereo 16-bit.
    void mix(const float* in, std::size_t frames, std::int16_t* out) const;
    int channels() const { return channels_; }

private:
    int channels_;
    std::vector<float> left_, right_; // the weight of each input channel
};

} // namespace quaverly::decode
