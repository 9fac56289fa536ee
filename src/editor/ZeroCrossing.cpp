#include "editor/ZeroCrossing.h"

#include "engines/wav/SampleReader.h"

#include <algorithm>

namespace quaverly {

std::optional<std::uint64_t> nearestCrossing(std::span<const std::int32_t> signal,
                                             std::uint64_t first, std::uint64_t frames,
                                             std::uint64_t target, std::uint64_t lo,
                                             std::uint64_t hi) {
    // A frame's signal: silence outside the song, nullopt where `signal` does not reach.
    const auto sample = [&](std::int64_t frame) -> std::optional<std::int32_t> {
        if (frame < 0 || std::uint64_t(frame) >= frames)
            return 0;
        const auto f = std::uint64_t(frame);
        if (f < first || f - first >= signal.size())
            return std::nullopt;
        return signal[f - first];
    };
    const auto crossing = [&](std::uint64_t k) {
        const auto a = sample(std::int64_t(k) - 1), b = sample(std::int64_t(k));
        return a && b && (*a == 0 || *b == 0 || (*a < 0) != (*b < 0));
    };
    hi = std::min(hi, frames);
    if (lo > hi)
        return std::nullopt;
    target = std::clamp(target, lo, hi);
    // Outwards from the target, the earlier side first at each distance.
    for (std::uint64_t d = 0; d <= std::max(target - lo, hi - target); ++d) {
        if (d <= target - lo && crossing(target - d))
            return target - d;
        if (d > 0 && d <= hi - target && crossing(target + d))
            return target + d;
    }
    return std::nullopt;
}

Result<std::vector<std::int32_t>> readSignal(const QString& path, std::uint64_t from,
                                             std::uint64_t count) {
    auto reader = SampleReader::openPlain(path);
    if (!reader)
        return reader.error();
    const auto frames = std::uint64_t(reader->frames());
    from = std::min(from, frames);
    count = std::min(count, frames - from);
    const auto channels = std::size_t(reader->channels());
    std::vector<std::int16_t> samples(count * channels);
    if (Status s = reader->seek(std::int64_t(from)); !s)
        return s.error();
    if (const auto got = reader->readShorts(samples.data(), count); !got)
        return got.error();
    std::vector<std::int32_t> signal(count);
    const std::int16_t* p = samples.data();
    for (auto& s : signal)
        for (std::size_t c = 0; c < channels; ++c)
            s += *p++;
    return signal;
}

std::optional<std::uint64_t> findZeroCrossing(const QString& path, const WavLayout& layout,
                                              std::uint64_t target, std::uint64_t lo,
                                              std::uint64_t hi) {
    const std::uint64_t frames = layout.blockAlign ? layout.dataSize / layout.blockAlign : 0;
    hi = std::min(hi, frames);
    if (lo > hi)
        return std::nullopt;
    const std::uint64_t first = lo > 0 ? lo - 1 : 0;
    const auto signal = readSignal(path, first, hi - first + 1);
    if (!signal)
        return std::nullopt;
    return nearestCrossing(*signal, first, frames, target, lo, hi);
}

} // namespace quaverly
