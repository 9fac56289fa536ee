#include "engines/audio/internal/PulsePlayback.h"

#include <algorithm>

namespace quaverly::audio::pulse {

namespace {

// How much sound the server buffers ahead of the speaker: short enough for a position display
// and a quick pause, long enough not to break up on a busy machine.
constexpr pa_usec_t kPlaybackLatency = 150 * PA_USEC_PER_MSEC;

} // namespace

Status PulsePlayback::start() {
    LoopLock lock(conn_->loop());
    if (Status created = create("Playback", spec_, QStringLiteral("playback")); !created) {
        return created;
    }
    pa_stream_set_write_callback(
        stream_.get(),
        [](pa_stream*, std::size_t bytes, void* self) {
            static_cast<PulsePlayback*>(self)->onWrite(bytes);
        },
        this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(kPlaybackLatency, spec_);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_.get(), nullptr, &attr, flags, nullptr, nullptr) < 0) {
        return serverError(
            QStringLiteral("Sound server: cannot start playback: %1").arg(conn_->lastError()));
    }
    return waitReady(QStringLiteral("cannot start playback"));
}

PulsePlayback::~PulsePlayback() {
    LoopLock lock(conn_->loop());
    if (drain_) {
        pa_operation_cancel(drain_.get());
        drain_.reset();
    }
    if (stream_) {
        pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
        pa_stream_set_write_callback(stream_.get(), nullptr, nullptr);
        disconnect(stream_);
    }
}

void PulsePlayback::onWrite(std::size_t bytes) {
    pa_stream* s = stream_.get();
    while (bytes >= frameBytes_ && !ended_) {
        void* data = nullptr;
        std::size_t room = bytes;
        if (pa_stream_begin_write(s, &data, &room) < 0 || !data) {
            fail(pa_context_errno(conn_->context()));
            return;
        }
        room -= room % frameBytes_;
        if (room == 0) {
            if (pa_stream_cancel_write(s) < 0) {
                fail(pa_context_errno(conn_->context()));
            }
            return;
        }
        std::size_t got = std::min(pull_(data, room), room);
        got -= got % frameBytes_;
        if (got < room) {
            ended_ = true;
        }
        if (got == 0) {
            if (pa_stream_cancel_write(s) < 0) {
                fail(pa_context_errno(conn_->context()));
                return;
            }
        } else if (pa_stream_write(s, data, got, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            fail(pa_context_errno(conn_->context()));
            return;
        } else {
            bytesWritten_ += got;
        }
        bytes -= std::min(bytes, room);
    }
    // Kept up to date here too, so that a stream that fails holds the position heard just
    // before, not the one someone last asked for.
    noteHeard();
    if (ended_ && !drain_) {
        // Plays out what the server holds (even less than its start threshold) and tells us when
        // the last of it has been heard.
        drain_.reset(pa_stream_drain(
            s,
            [](pa_stream*, int, void* self) {
                auto* p = static_cast<PulsePlayback*>(self);
                p->drained_ = true;
                p->tellEnd_();
                PulseConnection::signal(p->conn_->loop());
            },
            this));
        if (!drain_) {
            fail(pa_context_errno(conn_->context()));
        }
    }
}

void PulsePlayback::cork(bool on) {
    LoopLock lock(conn_->loop());
    if (failed_ || !stream_) {
        return;
    }
    // A failed cork fails the stream, with the server's error code as its cause.
    if (!conn_->await(pa_stream_cork(stream_.get(), on ? 1 : 0, nullptr, nullptr),
                      on ? "pausing" : "resuming")) {
        fail(pa_context_errno(conn_->context()));
    }
}

std::uint64_t PulsePlayback::framesPlayed() const {
    const std::uint64_t written = bytesWritten_ / frameBytes_;
    if (ended_ && drained_) {
        framesHeard_ = written;
        return written;
    }
    if (!failed_) {
        LoopLock lock(conn_->loop());
        noteHeard();
    }
    return framesHeard_;
}

void PulsePlayback::noteHeard() const {
    pa_usec_t usec = 0;
    // The server's playback clock: what has been read from our buffer minus what still sits
    // between the server and the speaker. No timing yet means nothing heard yet.
    if (pa_stream_get_time(stream_.get(), &usec) != 0) {
        return;
    }
    const std::uint64_t frames =
        std::min<std::uint64_t>(bytesWritten_ / frameBytes_, usec * spec_.rate / PA_USEC_PER_SEC);
    std::uint64_t heard = framesHeard_;
    while (frames > heard && !framesHeard_.compare_exchange_weak(heard, frames)) {
    }
}

} // namespace quaverly::audio::pulse
