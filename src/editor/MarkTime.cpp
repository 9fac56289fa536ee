#include "editor/MarkTime.h"

#include "engines/util/FrameTime.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace quaverly {
namespace {

constexpr qint64 kMicrosPerHour = 3600LL * 1000000;
constexpr qint64 kMaxMicros = 1000 * kMicrosPerHour;

} // namespace

std::optional<qint64> parseMarkTime(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(?:(?:(\d+):)?(\d+):)?(\d+)(?:\.(\d{1,6}))?$)"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const bool hours = m.capturedLength(1) > 0, minutes = m.capturedLength(2) > 0;
    // Fields after a ':' are two digits below 60; the first may be as long as it likes, within
    // the limit checked below.
    const auto field = [&](int i, bool bounded) -> std::optional<qint64> {
        const QString t = m.captured(i);
        if (t.isEmpty())
            return 0;
        if ((bounded && t.size() != 2) || t.size() > 10)
            return std::nullopt;
        const qint64 v = t.toLongLong();
        if (bounded && v >= 60)
            return std::nullopt;
        return v;
    };
    const auto h = field(1, false), min = field(2, hours), sec = field(3, minutes);
    if (!h || !min || !sec)
        return std::nullopt;
    const qint64 fraction = m.captured(4).leftJustified(6, QLatin1Char('0')).toLongLong();
    const qint64 seconds = (*h * 60 + *min) * 60 + *sec;
    if (seconds >= kMaxMicros / 1000000)
        return std::nullopt;
    return seconds * 1000000 + fraction;
}

qint64 CutGrid::lengthMs() const {
    return qint64(frametime::framesToMs(frames_, rate_));
}

FramePoint CutGrid::pointAt(qint64 us) const {
    us = std::clamp<qint64>(us, 0, kMaxMicros);
    // us * rate would overflow for long songs at high rates: whole seconds apart.
    const auto seconds = std::uint64_t(us / 1000000), rest = std::uint64_t(us % 1000000);
    const std::uint64_t scaled = rest * rate_; // < 10^6 * 2^32
    return {seconds * rate_ + scaled / 1000000, std::uint32_t(scaled % 1000000)};
}

std::uint64_t CutGrid::inFrame(qint64 in) const {
    if (in <= 0)
        return 0;
    if (in >= lengthMs())
        return frames_;
    return std::min(frametime::msToFrames(std::uint64_t(in), rate_).value_or(frames_), frames_);
}

std::uint64_t CutGrid::outFrame(qint64 in, qint64 out) const {
    if (out <= in)
        return inFrame(out);
    const std::uint64_t first = inFrame(in);
    const std::uint64_t rest = frames_ - first;
    const auto span = std::uint64_t(out - in);
    if (span >= frametime::framesToMs(rest, rate_))
        return frames_;
    return first + std::min(frametime::msToFrames(span, rate_).value_or(rest), rest);
}

qint64 CutGrid::clipMs(qint64 in, qint64 out) const {
    if (out <= in)
        return 0;
    return qint64(frametime::framesToMs(outFrame(in, out) - inFrame(in), rate_));
}

template <typename Frame, typename Mark>
qint64 CutGrid::nearest(FramePoint p, Frame frameOf, Mark canonical) const {
    // The marks around the place: the milliseconds on either side of it (where frames are finer
    // than milliseconds), and those of the two frames around it (where they are coarser).
    const auto base = qint64(p.frame * 1000 / std::max<std::uint32_t>(rate_, 1));
    const std::array<qint64, 6> candidates{base - 1,
                                           base,
                                           base + 1,
                                           base + 2,
                                           qint64(frametime::framesToMs(p.frame, rate_)),
                                           qint64(frametime::framesToMs(p.frame + 1, rate_))};
    const qint64 length = lengthMs();
    std::uint64_t best = 0;
    std::uint64_t bestDistance = UINT64_MAX;
    for (qint64 mark : candidates) {
        const std::uint64_t f = frameOf(std::clamp<qint64>(mark, 0, length));
        // Distance in millionths of a frame; f is within a few frames of p.
        const std::uint64_t distance = f > p.frame ? (f - p.frame) * 1000000 - p.millionths
                                                   : (p.frame - f) * 1000000 + p.millionths;
        if (distance < bestDistance || (distance == bestDistance && f < best)) {
            best = f;
            bestDistance = distance;
        }
    }
    return canonical(best);
}

qint64 CutGrid::inMarkNear(FramePoint p) const {
    return nearest(
        p, [this](qint64 mark) { return inFrame(mark); },
        [this](std::uint64_t f) {
            return f >= frames_ ? lengthMs() : qint64(frametime::framesToMs(f, rate_));
        });
}

qint64 CutGrid::outMarkNear(qint64 in, FramePoint p) const {
    const std::uint64_t first = inFrame(in);
    return nearest(
        p, [&](qint64 mark) { return outFrame(in, mark); },
        [&](std::uint64_t f) {
            if (f >= frames_)
                return lengthMs();
            if (f <= first) // at or before the clip's start: a mark of its own frame
                return qint64(frametime::framesToMs(f, rate_));
            return in + qint64(frametime::framesToMs(f - first, rate_));
        });
}

} // namespace quaverly
