#include "engines/audio/internal/PulseCapture.h"

#include <QByteArray>

#include <algorithm>

namespace quaverly::audio::pulse {

namespace {

// How often captured sound is handed over.
constexpr pa_usec_t kCaptureFragment = 20 * PA_USEC_PER_MSEC;

} // namespace

Status PulseCapture::start(const QString& sourceName) {
    const std::uint32_t fragment = bytesFor(kCaptureFragment, spec_);
    silence_.assign(fragment, spec_.format == PA_SAMPLE_U8 ? 0x80 : 0x00);

    LoopLock lock(conn_->loop());
    if (Status created = create("Recording", spec_, QStringLiteral("recording")); !created) {
        return created;
    }
    pa_stream_set_read_callback(
        stream_.get(),
        [](pa_stream*, std::size_t, void* self) { static_cast<PulseCapture*>(self)->onRead(); },
        this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = fragment;
    const QByteArray name = sourceName.toUtf8();
    if (pa_stream_connect_record(stream_.get(), name.constData(), &attr, PA_STREAM_ADJUST_LATENCY) <
        0) {
        return serverError(QStringLiteral("Sound server: cannot record from %1: %2")
                               .arg(sourceName, conn_->lastError()));
    }
    return waitReady(QStringLiteral("cannot record from %1").arg(sourceName));
}

void PulseCapture::stop() {
    LoopLock lock(conn_->loop());
    if (!stream_) {
        return;
    }
    // With the loop locked no callback is running, and with them cleared none can follow.
    pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
    pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
    disconnect(stream_);
}

void PulseCapture::deliver(const void* data, std::size_t bytes) {
    if (!delivering_) {
        return;
    }
    if (!push_(data, bytes)) {
        delivering_ = false;
        // Nothing more is wanted: stop the server sending it. The stream stays until stop().
        if (pa_operation* op = pa_stream_cork(stream_.get(), 1, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
}

void PulseCapture::onRead() {
    pa_stream* s = stream_.get();
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0) {
            fail(pa_context_errno(conn_->context()));
            return;
        }
        if (bytes == 0) {
            return; // nothing buffered
        }
        if (data) {
            deliver(data, bytes);
        } else {
            // A hole: the server lost this much. Silence keeps the recording's length true.
            for (std::size_t left = bytes; left > 0;) {
                const std::size_t n = std::min(left, silence_.size());
                deliver(silence_.data(), n);
                left -= n;
            }
        }
        if (pa_stream_drop(s) < 0) {
            fail(pa_context_errno(conn_->context()));
            return;
        }
    }
}
} // namespace quaverly::audio::pulse
