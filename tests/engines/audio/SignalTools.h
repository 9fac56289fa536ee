#pragma once
// Small measurements on recorded 16-bit sound, a tone to play, waiting with a bound, and the
// streams a back end opens, for the sound device tests.

#include "support/Waits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

namespace quaverly::audio::test {

// Polls `done` every millisecond until it holds or `seconds` have passed.
template <typename Done> bool waitFor(Done done, double seconds = 10.0) {
    return quaverly::test::pollUntil(std::move(done), seconds);
}

// The stream a back end opened; null, and a failure of the test with the back end's cause, when
// it did not open.
template <typename Stream> std::unique_ptr<Stream> opened(Result<std::unique_ptr<Stream>> r) {
    if (!r) {
        ADD_FAILURE() << r.error().cause().toStdString();
        return nullptr;
    }
    return std::move(*r);
}

// The cause of a back end's failure; empty for success.
template <typename R> QString causeOf(const R& r) {
    return r ? QString() : r.error().cause();
}

// One channel of interleaved 16-bit little-endian PCM.
inline std::vector<int> channelOf(const std::vector<std::uint8_t>& bytes, int channels,
                                  int channel) {
    std::vector<int> out;
    const std::size_t frameBytes = 2u * static_cast<std::size_t>(channels);
    for (std::size_t at = 2u * static_cast<std::size_t>(channel); at + 1 < bytes.size();
         at += frameBytes) {
        out.push_back(static_cast<std::int16_t>(
            static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8))));
    }
    return out;
}

inline double rms(const std::vector<int>& x, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(x[i]) * x[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// Frequency from the rising zero crossings between from and to.
inline double zeroCrossingHz(const std::vector<int>& x, std::size_t from, std::size_t to,
                             double sampleRate) {
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return (crossings - 1) * sampleRate / static_cast<double>(last - first);
}

inline double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

constexpr int kToneAmplitude = 16384; // -6 dB of full scale

// Frames of a stereo 16-bit recording from its first loud one (as analyse() finds it) to its
// end; 0 while nothing loud was recorded. Once this reaches past the longest a tone may last,
// the recording holds that tone to its end.
inline std::size_t framesFromTone(const std::uint8_t* bytes, std::size_t size) {
    const std::size_t frames = size / 4;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto left = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8)));
        if (std::abs(left) > kToneAmplitude / 4)
            return frames - i;
    }
    return 0;
}

// A sine of `hz` at 44.1 kHz, the same on every channel.
inline std::vector<std::int16_t> tone(double hz, std::size_t frames, int channels) {
    std::vector<std::int16_t> s(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(
            kToneAmplitude * std::sin(2 * std::numbers::pi * hz * double(i) / 44100.0)));
        for (int c = 0; c < channels; ++c)
            s[i * std::size_t(channels) + std::size_t(c)] = v;
    }
    return s;
}

// Where a stereo 44.1 kHz recording holds a tone(), and how it sounds there.
struct Heard {
    std::size_t frames = 0; // from the first loud sample to the last
    double hz = 0;
    double levelDb = -100; // RMS against the tone's own, both channels' worst
};

inline Heard analyse(const std::vector<std::uint8_t>& bytes) {
    Heard h;
    const auto left = channelOf(bytes, 2, 0);
    const auto right = channelOf(bytes, 2, 1);
    std::size_t first = left.size(), last = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > kToneAmplitude / 4) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= left.size())
        return h;
    h.frames = last - first;
    const std::size_t from = first + h.frames / 10, to = last - h.frames / 10;
    h.hz = zeroCrossingHz(left, from, to, 44100);
    const double expected = kToneAmplitude / std::sqrt(2.0);
    const double l = decibels(rms(left, from, to) / expected);
    const double r = decibels(rms(right, from, to) / expected);
    h.levelDb = std::abs(l) > std::abs(r) ? l : r;
    return h;
}

} // namespace quaverly::audio::test
