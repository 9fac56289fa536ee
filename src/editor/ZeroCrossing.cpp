#include "editor/ZeroCrossing.h"

#include <QFile>

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

std::optional<std::vector<std::int32_t>> readSignal(const QString& path, const WavLayout& layout,
                                                    std::uint64_t from, std::uint64_t count,
                                                    QString* error) {
    const std::uint64_t frames = layout.blockAlign ? layout.dataSize / layout.blockAlign : 0;
    from = std::min(from, frames);
    count = std::min(count, frames - from);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) ||
        !file.seek(qint64(layout.dataOffset + from * layout.blockAlign))) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.read(qint64(count * layout.blockAlign));
    if (std::uint64_t(bytes.size()) != count * layout.blockAlign) {
        if (error)
            *error = QStringLiteral("%1 is shorter than its header says").arg(path);
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const bool wide = layout.bitsPerSample == 16;
    std::vector<std::int32_t> signal(count);
    for (auto& s : signal) {
        for (unsigned c = 0; c < layout.channels; ++c) {
            s += wide ? std::int16_t(std::uint16_t(p[0] | (p[1] << 8))) : int(p[0]) - 128;
            p += wide ? 2 : 1;
        }
    }
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
    const auto signal = readSignal(path, layout, first, hi - first + 1);
    if (!signal)
        return std::nullopt;
    return nearestCrossing(*signal, first, frames, target, lo, hi);
}

} // namespace quaverly
