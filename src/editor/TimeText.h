#pragma once
// How the clip editor shows times: whole seconds, rounded to the nearest with a half going to the
// even neighbour (2500 ms is 2 s, 3500 ms is 4 s), as "hh:mm:ss" on a clock that wraps at a day.
//
// Threads: pure functions; callable from any thread.

#include <QString>

namespace quaverly {

inline qint64 wholeSeconds(qint64 ms) {
    const qint64 seconds = ms / 1000;
    const qint64 rest = ms % 1000;
    return rest > 500 || (rest == 500 && seconds % 2 == 1) ? seconds + 1 : seconds;
}

// "hh:mm:ss" for a count of whole seconds.
inline QString clockText(qint64 seconds) {
    const qint64 s = seconds % 86400;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// "hh:mm:ss" for a time in milliseconds.
inline QString timeText(qint64 ms) {
    return clockText(wholeSeconds(ms));
}

} // namespace quaverly
