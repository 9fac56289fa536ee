#pragma once
// Inside of the sound server back end (included only by engines/audio): the connection to the
// server, one event-loop thread and one context, and the small pieces that the connection, the
// streams and the backend share: owners of libpulse's handles, the loop's lock, the time limits.

#include "engines/util/Error.h"

#include <QString>

#include <pulse/pulseaudio.h>

#include <memory>

namespace quaverly::audio::pulse {

// Connecting gives up after this long (a server that accepts but never answers); a refused or
// missing socket fails at once.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
// Any single request to the server (list sources, cork, set a volume, ...).
constexpr pa_usec_t kRequestTimeout = 5 * PA_USEC_PER_SEC;

struct MainloopDeleter {
    void operator()(pa_threaded_mainloop* m) const { pa_threaded_mainloop_free(m); }
};
struct ContextDeleter {
    void operator()(pa_context* c) const { pa_context_unref(c); }
};
struct StreamDeleter {
    void operator()(pa_stream* s) const { pa_stream_unref(s); }
};
struct OperationDeleter {
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};
using MainloopPtr = std::unique_ptr<pa_threaded_mainloop, MainloopDeleter>;
using ContextPtr = std::unique_ptr<pa_context, ContextDeleter>;
using StreamPtr = std::unique_ptr<pa_stream, StreamDeleter>;
using OperationPtr = std::unique_ptr<pa_operation, OperationDeleter>;

// A failure of the sound server, in words; it names no file and carries no code.
inline Error serverError(const QString& cause) {
    return Error(QString(), cause);
}

inline QString describe(int paError) {
    return QString::fromUtf8(pa_strerror(paError));
}

// Holds the event loop's lock for one scope. Never taken on the event-loop thread itself.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// One event-loop thread and one context. Shared by the backend and its streams, so that a stream
// keeps its loop alive after the backend has reconnected or gone.
class PulseConnection {
public:
    static Result<std::shared_ptr<PulseConnection>> open(const QString& server);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_.get(); }
    pa_context* context() const { return context_.get(); }

    // The following need the loop's lock.
    bool ready() const { return pa_context_get_state(context_.get()) == PA_CONTEXT_READY; }
    QString lastError() const { return describe(pa_context_errno(context_.get())); }
    // Waits on the loop until done() or the timeout; true when done() became true.
    template <typename Done> bool waitUntil(Done done, pa_usec_t timeout);
    // Waits for a request to complete; fails with a cause naming `what` when it failed, could
    // not be sent (op null) or timed out (then it is cancelled: no callback follows).
    Status await(pa_operation* op, const char* what);

    // Wakes whoever waits on the loop; passed as userdata to the callbacks below.
    static void signal(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

private:
    PulseConnection() = default;
    MainloopPtr loop_;
    ContextPtr context_;
};

template <typename Done> bool PulseConnection::waitUntil(Done done, pa_usec_t timeout) {
    if (done()) {
        return true;
    }
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer{loop_.get()};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_.get());
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, timeout);
    pa_time_event* event = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* t = static_cast<Timer*>(userdata);
            t->expired = true;
            signal(t->loop);
        },
        &timer);
    while (!done() && !timer.expired) {
        pa_threaded_mainloop_wait(loop_.get());
    }
    if (event) {
        api->time_free(event);
    }
    return done();
}

} // namespace quaverly::audio::pulse
