#pragma once
// Inside of the sound server back end (included only by engines/audio): what playback and
// recording streams share.

#include "engines/audio/internal/PulseConnection.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace quaverly::audio::pulse {

// Leaves the server and releases the stream; its callbacks must be cleared already. A stream
// that never connected or has failed cannot be disconnected, and a failed disconnect (the
// connection is gone) leaves nothing to undo: either way the stream is released.
inline void disconnect(StreamPtr& stream) {
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get()))) {
        [[maybe_unused]] const int ignored = pa_stream_disconnect(stream.get());
    }
    stream.reset();
}

// Bytes of `usec` of sound in `spec`, in whole frames.
inline std::uint32_t bytesFor(pa_usec_t usec, const pa_sample_spec& spec) {
    return static_cast<std::uint32_t>(pa_usec_to_bytes(usec, &spec));
}

// What playback and recording streams share: the connection, the stream, and how a failure
// seen on the event-loop thread reaches the control thread. start/stop and the destructors run
// on the control thread with the loop locked; onState and fail on the event-loop thread.
class PulseStream {
protected:
    explicit PulseStream(std::shared_ptr<PulseConnection> conn) : conn_(std::move(conn)) {}
    virtual ~PulseStream() = default;
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Event-loop thread: the stream has just failed.
    virtual void onFailed() {}

    // Control thread, loop locked: a new stream whose state changes wake the waiters.
    Status create(const char* name, const pa_sample_spec& spec, const QString& what) {
        stream_.reset(pa_stream_new(conn_->context(), name, &spec, nullptr));
        if (!stream_) {
            return serverError(QStringLiteral("Sound server: cannot create a %1 stream: %2")
                                   .arg(what, conn_->lastError()));
        }
        pa_stream_set_state_callback(
            stream_.get(),
            [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->onState(); }, this);
        return {};
    }

    // Control thread, loop locked: waits for a connecting stream to be ready or to fail;
    // `cannot` says what could not be done, for the message.
    Status waitReady(const QString& cannot) {
        const bool settled = conn_->waitUntil(
            [&] {
                const pa_stream_state_t s = pa_stream_get_state(stream_.get());
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            },
            kRequestTimeout);
        if (!settled || pa_stream_get_state(stream_.get()) != PA_STREAM_READY) {
            return serverError(
                QStringLiteral("Sound server: %1: %2")
                    .arg(cannot, settled ? conn_->lastError() : QStringLiteral("no answer")));
        }
        return {};
    }

    // Event-loop thread.
    void fail(int paError) {
        errorCode_ = paError == PA_OK ? PA_ERR_UNKNOWN : paError;
        failed_ = true;
        onFailed();
        PulseConnection::signal(conn_->loop());
    }

    // Any thread: the failure seen while `doing` ("playback", "recording"), if any.
    Status failureWhile(const QString& doing) const {
        if (!failed_) {
            return {};
        }
        return serverError(
            QStringLiteral("Sound server: %1 failed: %2").arg(doing, describe(errorCode_)));
    }

    std::shared_ptr<PulseConnection> conn_;
    StreamPtr stream_;
    std::atomic<bool> failed_{false};
    std::atomic<int> errorCode_{PA_OK};

private:
    // Event-loop thread.
    void onState() {
        if (pa_stream_get_state(stream_.get()) == PA_STREAM_FAILED) {
            fail(pa_context_errno(conn_->context()));
        }
        PulseConnection::signal(conn_->loop());
    }
};

} // namespace quaverly::audio::pulse
