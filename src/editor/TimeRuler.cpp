#include "editor/TimeRuler.h"

#include "engines/util/ClockText.h"

#include <algorithm>
#include <cmath>

namespace quaverly {

namespace {

// The least of 1, 2, 5 times a power of ten that is at least `want` (> 0).
double niceAtLeast(double want) {
    // A negative power as one over a positive one, which every C library gets exact (not every
    // pow(10, -3) is the double nearest 0.001).
    const int power = int(std::floor(std::log10(want)));
    double decade = power >= 0 ? std::pow(10.0, power) : 1.0 / std::pow(10.0, -power);
    for (;;) {
        for (const double m : {1.0, 2.0, 5.0})
            // A hair of tolerance: 0.3 / 0.1 is not quite 3 in doubles.
            if (m * decade >= want * (1 - 1e-9))
                return m * decade;
        decade *= 10;
    }
}

} // namespace

RulerStep rulerStep(double secondsPerPixel, std::uint32_t sampleRate, int minPixels) {
    const double want = secondsPerPixel * std::max(1, minPixels);
    if (!(want > 0))
        return {1.0, 0};
    // Past a millisecond the ticks count frames.
    if (want < 0.001 && sampleRate > 0) {
        const auto frames = std::int64_t(niceAtLeast(std::max(1.0, want * sampleRate)));
        return {double(frames) / sampleRate, frames};
    }
    if (want <= 30)
        return {niceAtLeast(want), 0};
    static constexpr double kLong[] = {60, 120, 300, 600, 900, 1800, 3600, 7200, 18000, 36000};
    for (const double s : kLong)
        if (s >= want)
            return {s, 0};
    return {niceAtLeast(want / 36000) * 36000, 0};
}

QString rulerLabel(double seconds, double step) {
    // The decimals the step needs: none from a second on, one for 0.5 s, three for 5 ms; a
    // position is never shown finer than the millisecond, as the marks are.
    const int decimals = step >= 1 ? 0 : std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 0, 3);
    const auto scale = std::int64_t(std::llround(std::pow(10.0, decimals)));
    const auto units = std::int64_t(std::llround(std::max(0.0, seconds) * double(scale)));
    QString text = clockSeconds(std::uint64_t(units / scale));
    if (decimals > 0)
        text += QStringLiteral(".%1").arg(units % scale, decimals, 10, QLatin1Char('0'));
    return text;
}

} // namespace quaverly
