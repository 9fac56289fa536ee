#pragma once
// A time as a stopwatch shows it, to the tenth of a second: "1:23.4", and "1:02:03.4" from an
// hour on. One rule for the song list's lengths and the recorder's take.
#include <QString>

#include <cstdint>

namespace quaverly {

inline QString clockText(std::uint64_t tenths) {
    const std::uint64_t seconds = tenths / 10u;
    const auto two = [](std::uint64_t n) {
        return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0'));
    };
    const QString rest = QStringLiteral("%1.%2").arg(two(seconds % 60u)).arg(tenths % 10u);
    if (seconds < 3600u)
        return QStringLiteral("%1:%2").arg(seconds / 60u).arg(rest);
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600u).arg(two(seconds / 60u % 60u)).arg(rest);
}

} // namespace quaverly
