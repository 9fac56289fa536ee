#pragma once
// Waiting for events with a deadline, never for a fixed time:
//   pollUntil           checks a condition every millisecond without running an event loop (for
//                       what other threads do, and where posted events must stay queued);
//   roundTrip           runs the event loop until every event posted before it has been handled;
//   eventsUntil         runs the event loop until a condition holds (for what queued signals do);
//   advanceVirtualClock runs the virtual sound device on by a number of its periods.

#include "engines/audio/VirtualBackend.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

namespace quaverly::test {

// True once `done` holds; false when `seconds` passed first.
template <typename Done> bool pollUntil(Done done, double seconds = 10.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Posts a call to this thread and handles events until it has come back: whatever was posted
// before it (a queued signal, a queued call) has been handled then. False after `ms`.
inline bool roundTrip(int ms = 5000) {
    const auto back = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [back] { *back = true; }, Qt::QueuedConnection);
    const QDeadlineTimer deadline(ms);
    while (!*back && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return *back;
}

// Runs the event loop until `done` holds; false when `ms` passed first.
template <typename Done> bool eventsUntil(Done done, int ms = 30000) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs `device` at least `periods` periods (20 ms of sound each) on from now. The device ticks
// only while a stream plays or records, so a capture of its own keeps it going meanwhile. Each
// period calls every stream that still runs, so after a few a stream that was meant to be
// paused, stopped or ended would have shown that it was not. False when the capture cannot open
// or the clock lags past `seconds`.
inline bool advanceVirtualClock(audio::VirtualBackend& device, std::uint64_t periods,
                                double seconds = 10.0) {
    const std::uint64_t until = device.periods() + periods;
    const auto probe = device.openCapture(audio::VirtualBackend::kMicrophone, audio::PcmFormat{},
                                          [](const void*, std::size_t) { return true; });
    return probe && pollUntil([&] { return device.periods() >= until; }, seconds);
}

// The same for the process's shared device (QUAVERLY_AUDIO=virtual); false when that is not
// the virtual one.
inline bool advanceVirtualClock(std::uint64_t periods, double seconds = 10.0) {
    const auto device = std::dynamic_pointer_cast<audio::VirtualBackend>(audio::defaultBackend());
    return device && advanceVirtualClock(*device, periods, seconds);
}

} // namespace quaverly::test
