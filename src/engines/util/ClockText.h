#pragma once
// Times as the window shows them, one way per meaning, minutes unpadded and hours only from an
// hour on: a length to the second "1:23" ("1:02:03"), or to the tenth while it grows "1:23.4";
// a position or a mark to the millisecond "1:23.456" ("1:02:03.456").
#include <QString>

#include <cstdint>

namespace quaverly {

inline QString clockSeconds(std::uint64_t seconds) {
    const auto two = [](std::uint64_t n) {
        return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0'));
    };
    if (seconds < 3600u)
        return QStringLiteral("%1:%2").arg(seconds / 60u).arg(two(seconds % 60u));
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600u)
        .arg(two(seconds / 60u % 60u))
        .arg(two(seconds % 60u));
}

inline QString clockTenths(std::uint64_t tenths) {
    return QStringLiteral("%1.%2").arg(clockSeconds(tenths / 10u)).arg(tenths % 10u);
}

// A position or a mark: "m:ss.mmm", or "h:mm:ss.mmm" from an hour on.
inline QString clockMillis(std::uint64_t ms) {
    return QStringLiteral("%1.%2")
        .arg(clockSeconds(ms / 1000u))
        .arg(ms % 1000u, 3, 10, QChar(u'0'));
}

} // namespace quaverly
