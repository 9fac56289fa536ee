#include "engines/decode/internal/Downmix.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace quaverly::decode {

std::int16_t floatToInt16(float f) {
    const float v = f * 32768.0f;
    if (!(v == v))
        return 0; // NaN
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(std::lrintf(v));
}

std::uint64_t defaultChannelMask(int channels) {
    using namespace speaker;
    switch (channels) {
    case 1:
        return kFrontCenter;
    case 2:
        return kFrontLeft | kFrontRight;
    case 3:
        return kFrontLeft | kFrontRight | kFrontCenter;
    case 4:
        return kFrontLeft | kFrontRight | kBackLeft | kBackRight;
    case 5:
        return kFrontLeft | kFrontRight | kFrontCenter | kBackLeft | kBackRight;
    case 6:
        return kFrontLeft | kFrontRight | kFrontCenter | kLfe | kBackLeft | kBackRight;
    case 7:
        return kFrontLeft | kFrontRight | kFrontCenter | kLfe | kBackCenter | kSideLeft |
               kSideRight;
    case 8:
        return kFrontLeft | kFrontRight | kFrontCenter | kLfe | kBackLeft | kBackRight | kSideLeft |
               kSideRight;
    default:
        return 0;
    }
}

Downmix::Downmix(int channels, std::uint64_t mask)
    : channels_(channels), left_(static_cast<std::size_t>(channels)),
      right_(static_cast<std::size_t>(channels)) {
    using namespace speaker;
    if (std::popcount(mask) != channels)
        mask = defaultChannelMask(channels);
    const float minus3dB = static_cast<float>(std::numbers::sqrt2 / 2);
    std::uint64_t rest = mask;
    for (int c = 0; c < channels; ++c) {
        // The c-th channel sits at the lowest position bit still unassigned; past the mask's
        // bits (an unknown layout) a channel counts as a centre.
        const std::uint64_t bit = rest ? rest & (~rest + 1) : kFrontCenter;
        rest &= ~bit;
        float l = 0, r = 0;
        if (bit & (kFrontLeft | kFrontLeftOfCenter))
            l = 1;
        else if (bit & (kFrontRight | kFrontRightOfCenter))
            r = 1;
        else if (bit & (kBackLeft | kSideLeft))
            l = minus3dB;
        else if (bit & (kBackRight | kSideRight))
            r = minus3dB;
        else if (bit & kBackCenter)
            l = r = 0.5f;
        else if (bit != kLfe)
            l = r = minus3dB; // the centre, and anything above or elsewhere
        left_[static_cast<std::size_t>(c)] = l;
        right_[static_cast<std::size_t>(c)] = r;
    }
    float sumL = 0, sumR = 0;
    for (int c = 0; c < channels; ++c) {
        sumL += left_[static_cast<std::size_t>(c)];
        sumR += right_[static_cast<std::size_t>(c)];
    }
    const float most = std::max(sumL, sumR);
    if (most > 1) {
        for (int c = 0; c < channels; ++c) {
            left_[static_cast<std::size_t>(c)] /= most;
            right_[static_cast<std::size_t>(c)] /= most;
        }
    }
}

void Downmix::mix(const float* in, std::size_t frames, std::int16_t* out) const {
    const auto n = static_cast<std::size_t>(channels_);
    for (std::size_t f = 0; f < frames; ++f, in += n) {
        float l = 0, r = 0;
        for (std::size_t c = 0; c < n; ++c) {
            l += in[c] * left_[c];
            r += in[c] * right_[c];
        }
        out[2 * f] = floatToInt16(l);
        out[2 * f + 1] = floatToInt16(r);
    }
}

} // namespace quaverly::decode
