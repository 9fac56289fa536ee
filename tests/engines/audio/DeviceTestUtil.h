#pragma once
// Helpers of the sound device tests: a capture's BlockFn that collects what it is given into
// memory reserved beforehand, WAV images in memory, and bounded waiting.

#include "engines/audio/CaptureDevice.h"
#include "engines/wav/WavHeader.h"
#include "support/Waits.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace device_test {

// Collects a recording. Its BlockFn runs on the device thread and only copies into the buffer
// made beforehand; the test reads the buffer once the capture is stopped.
struct Collector {
    explicit Collector(std::size_t capacity) : buffer(capacity) {}

    std::vector<std::uint8_t> buffer;
    std::atomic<std::size_t> size{0};
    std::atomic<int> calls{0};
    std::atomic<std::size_t> firstBlock{0};
    int stopAtCall = 0; // > 0: return false on that call

    quaverly::audio::Capture::BlockFn fn() {
        return [this](const void* data, std::size_t length) { return take(data, length); };
    }
    bool take(const void* data, std::size_t length) {
        const int call = ++calls;
        if (call == 1)
            firstBlock = length;
        const std::size_t at = size;
        const std::size_t n = std::min(length, buffer.size() - at);
        std::memcpy(buffer.data() + at, data, n);
        size = at + n;
        return stopAtCall <= 0 || call < stopAtCall;
    }

    std::vector<std::uint8_t> bytes() const {
        return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size.load())};
    }
};

// Polls `done` until it holds or `seconds` have passed.
template <typename Done> bool waitFor(Done done, double seconds = 20.0) {
    return quaverly::test::pollUntil(std::move(done), seconds);
}

// A 44-byte-header WAV image of 16-bit samples.
inline std::vector<std::uint8_t> wavImage(std::uint16_t channels, std::uint32_t rate,
                                          const std::vector<std::int16_t>& samples) {
    const auto header = quaverly::WavHeader::pcm(channels, rate, 16,
                                                 static_cast<std::uint32_t>(samples.size() * 2));
    const auto head = header.toBytes();
    std::vector<std::uint8_t> image(head.size() + samples.size() * 2);
    std::memcpy(image.data(), head.data(), head.size());
    std::memcpy(image.data() + head.size(), samples.data(), samples.size() * 2);
    return image;
}

// Frame i, channel c: start + i + c * 1000 (wrapping in 16 bits), so that every frame differs.
inline std::vector<std::int16_t> staircase(std::size_t frames, int channels, int start) {
    std::vector<std::int16_t> s(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(start + static_cast<int>(i) + c * 1000);
    return s;
}

inline std::int16_t sampleAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8)));
}

} // namespace device_test
