#pragma once
// A time as a stopwatch shows it: "1:23", and "1:02:03" from an hour on, or to the tenth of a
// second "1:23.4". One rule for the song list's lengths and the recorder's take. (The clip
// editor's "hh:mm:ss" is clockText in editor/TimeText.h; the names say each one's unit.)
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

} // namespace quaverly
