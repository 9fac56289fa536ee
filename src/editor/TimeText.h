#pragma once
// How the clip editor shows times, in the window's one way per meaning (engines/util/ClockText.h):
// the play position and the marks to the millisecond ("0:25.000"), the clip's length to the
// tenth ("0:25.3"). The slider counts whole seconds.
//
// Threads: pure functions; callable from any thread.

#include "engines/util/ClockText.h"

#include <QString>

#include <algorithm>
#include <cstdint>

namespace quaverly {

// The slider's second for a time: rounded to the nearest, a half going to the even neighbour
// (2500 ms is 2 s, 3500 ms is 4 s).
inline qint64 wholeSeconds(qint64 ms) {
    const qint64 seconds = ms / 1000;
    const qint64 rest = ms % 1000;
    return rest > 500 || (rest == 500 && seconds % 2 == 1) ? seconds + 1 : seconds;
}

// A play position or a mark: "m:ss.mmm" ("h:mm:ss.mmm" from an hour on).
inline QString positionText(qint64 ms) {
    return clockMillis(std::uint64_t(std::max<qint64>(ms, 0)));
}

// A clip's length to the tenth, rounded up: the limits are whole seconds, so a clip is shown
// longer than a limit ("0:40.1" against 40 s) exactly when it is, by as little as a millisecond.
inline QString clipLengthText(qint64 ms) {
    return clockTenths(std::uint64_t((std::max<qint64>(ms, 0) + 99) / 100));
}

} // namespace quaverly
