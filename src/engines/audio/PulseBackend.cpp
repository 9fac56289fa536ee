#include "engines/audio/PulseBackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

namespace quaverly::audio {

namespace {

// Connecting gives up after this long (a server that accepts but never answers); a refused or
// missing socket fails at once.
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
// Any single request to the server (list sources, cork, set a volume, ...).
constexpr pa_usec_t kRequestTimeout = 5 * PA_USEC_PER_SEC;
// How much sound the server buffers ahead of the speaker: short enough for a position display
// and a quick pause, long enough not to break up on a busy machine.
constexpr pa_usec_t kPlaybackLatency = 150 * PA_USEC_PER_MSEC;
// How often captured sound is handed over.
constexpr pa_usec_t kCaptureFragment = 20 * PA_USEC_PER_MSEC;

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

void setError(QString* error, const QString& text) {
    if (error) {
        *error = text;
    }
}

QString describe(int paError) {
    return QString::fromUtf8(pa_strerror(paError));
}

bool toSampleSpec(const PcmFormat& format, pa_sample_spec* spec, QString* error) {
    if (!isSupportedFormat(format, error)) {
        return false;
    }
    spec->format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec->rate = format.sampleRate;
    spec->channels = static_cast<std::uint8_t>(format.channels);
    if (!pa_sample_spec_valid(spec)) {
        setError(error, QStringLiteral("The sound server does not support %1 Hz, %2 channels")
                            .arg(format.sampleRate)
                            .arg(format.channels));
        return false;
    }
    return true;
}

SourceKind kindOf(const pa_source_info& info) {
    if (info.monitor_of_sink != PA_INVALID_INDEX) {
        return SourceKind::Monitor;
    }
    const pa_source_port_info* port = info.active_port;
    if (!port) {
        return SourceKind::Unknown;
    }
    switch (port->type) {
    case PA_DEVICE_PORT_TYPE_MIC:
    case PA_DEVICE_PORT_TYPE_HEADSET:
    case PA_DEVICE_PORT_TYPE_HANDSET:
    case PA_DEVICE_PORT_TYPE_HANDSFREE:
        return SourceKind::Microphone;
    case PA_DEVICE_PORT_TYPE_LINE:
        return SourceKind::LineIn;
    case PA_DEVICE_PORT_TYPE_SPDIF:
    case PA_DEVICE_PORT_TYPE_HDMI:
        return SourceKind::Digital;
    case PA_DEVICE_PORT_TYPE_ANALOG:
        return SourceKind::Analog;
    case PA_DEVICE_PORT_TYPE_AUX:
        return SourceKind::Aux;
    default:
        break;
    }
    // Drivers that leave the type unknown still name their ports ("analog-input-mic",
    // "analog-input-linein").
    const std::string portName = port->name ? port->name : "";
    if (portName.find("mic") != std::string::npos) {
        return SourceKind::Microphone;
    }
    if (portName.find("line") != std::string::npos) {
        return SourceKind::LineIn;
    }
    return SourceKind::Unknown;
}

int toPercent(pa_volume_t v) {
    return static_cast<int>((static_cast<std::uint64_t>(v) * 100 + PA_VOLUME_NORM / 2) /
                            PA_VOLUME_NORM);
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

} // namespace

// One event-loop thread and one context. Shared by the backend and its streams, so that a stream
// keeps its loop alive after the backend has reconnected or gone.
class PulseConnection {
public:
    static std::shared_ptr<PulseConnection> open(const QString& server, QString* error);
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
    // Waits for a request to complete; false with a message naming `what` when it failed,
    // could not be sent (op null) or timed out (then it is cancelled: no callback follows).
    bool await(pa_operation* op, const char* what, QString* error);

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

bool PulseConnection::await(pa_operation* rawOp, const char* what, QString* error) {
    if (!rawOp) {
        setError(
            error,
            QStringLiteral("Sound server: %1 failed: %2").arg(QLatin1String(what), lastError()));
        return false;
    }
    OperationPtr op(rawOp);
    pa_operation_set_state_callback(
        op.get(),
        [](pa_operation*, void* loop) { signal(static_cast<pa_threaded_mainloop*>(loop)); },
        loop_.get());
    const bool settled = waitUntil(
        [&] { return pa_operation_get_state(op.get()) != PA_OPERATION_RUNNING; }, kRequestTimeout);
    pa_operation_set_state_callback(op.get(), nullptr, nullptr);
    if (!settled) {
        pa_operation_cancel(op.get());
        setError(error, QStringLiteral("Sound server: %1 timed out").arg(QLatin1String(what)));
        return false;
    }
    if (pa_operation_get_state(op.get()) != PA_OPERATION_DONE) {
        setError(
            error,
            QStringLiteral("Sound server: %1 failed: %2").arg(QLatin1String(what), lastError()));
        return false;
    }
    return true;
}

std::shared_ptr<PulseConnection> PulseConnection::open(const QString& server, QString* error) {
    // Name the server in messages: the one asked for, else the one the environment names.
    const QString named = server.isEmpty() ? qEnvironmentVariable("PULSE_SERVER") : server;
    const QString where = named.isEmpty() ? QString() : QStringLiteral(" at ") + named;
    std::shared_ptr<PulseConnection> c(new PulseConnection);
    c->loop_.reset(pa_threaded_mainloop_new());
    if (!c->loop_) {
        setError(error, QStringLiteral("Cannot create the sound server's event loop"));
        return nullptr;
    }
    c->context_.reset(pa_context_new(pa_threaded_mainloop_get_api(c->loop()), "Quaverly"));
    if (!c->context_) {
        setError(error, QStringLiteral("Cannot create a sound server context"));
        return nullptr;
    }
    pa_context_set_state_callback(
        c->context(),
        [](pa_context*, void* loop) { signal(static_cast<pa_threaded_mainloop*>(loop)); },
        c->loop());
    if (pa_threaded_mainloop_start(c->loop()) < 0) {
        setError(error, QStringLiteral("Cannot start the sound server's event loop"));
        return nullptr;
    }
    LoopLock lock(c->loop());
    const QByteArray serverName = server.toUtf8();
    // Never spawn a server: with none running, the program reports it and goes on.
    if (pa_context_connect(c->context(), server.isEmpty() ? nullptr : serverName.constData(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        setError(
            error,
            QStringLiteral("Cannot connect to the sound server%1: %2").arg(where, c->lastError()));
        return nullptr;
    }
    const bool settled = c->waitUntil(
        [&] {
            const pa_context_state_t s = pa_context_get_state(c->context());
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        kConnectTimeout);
    if (!settled) {
        setError(error,
                 QStringLiteral("Cannot connect to the sound server%1: no answer").arg(where));
        return nullptr;
    }
    if (!c->ready()) {
        setError(
            error,
            QStringLiteral("Cannot connect to the sound server%1: %2").arg(where, c->lastError()));
        return nullptr;
    }
    return c;
}

PulseConnection::~PulseConnection() {
    if (loop_ && context_) {
        LoopLock lock(loop_.get());
        pa_context_set_state_callback(context_.get(), nullptr, nullptr);
        pa_context_disconnect(context_.get());
    }
    if (loop_) {
        pa_threaded_mainloop_stop(loop_.get());
    }
    context_.reset();
    loop_.reset();
}

namespace {

// The sources as the server lists them, with what setting a volume needs.
struct SourceEntry {
    SourceInfo info;
    std::uint8_t channels = 0;
};

bool listSources(PulseConnection& c, std::vector<SourceEntry>* out, QString* error) {
    struct Listing {
        pa_threaded_mainloop* loop;
        std::vector<SourceEntry>* out;
    } listing{c.loop(), out};
    out->clear();
    pa_operation* op = pa_context_get_source_info_list(
        c.context(),
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* l = static_cast<Listing*>(userdata);
            if (eol == 0 && info) {
                SourceEntry e;
                e.info.name = QString::fromUtf8(info->name);
                e.info.description =
                    QString::fromUtf8(info->description ? info->description : info->name);
                e.info.kind = kindOf(*info);
                e.info.volumePercent = toPercent(pa_cvolume_avg(&info->volume));
                e.channels = info->volume.channels;
                l->out->push_back(std::move(e));
            }
            PulseConnection::signal(l->loop);
        },
        &listing);
    if (!c.await(op, "listing the inputs", error)) {
        out->clear();
        return false;
    }
    return true;
}

// Leaves the server and releases the stream; its callbacks must be cleared already. A stream
// that never connected or has failed cannot be disconnected, and a failed disconnect (the
// connection is gone) leaves nothing to undo: either way the stream is released.
void disconnect(StreamPtr& stream) {
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get()))) {
        [[maybe_unused]] const int ignored = pa_stream_disconnect(stream.get());
    }
    stream.reset();
}

// Bytes of `usec` of sound in `spec`, in whole frames.
std::uint32_t bytesFor(pa_usec_t usec, const pa_sample_spec& spec) {
    return static_cast<std::uint32_t>(pa_usec_to_bytes(usec, &spec));
}

// What playback and recording streams share: the connection, the stream, and how a failure
// seen on the event-loop thread reaches the control thread. start/stop and the destructors run
// on the control thread with the loop locked; onState and fail on the event-loop thread.
class PulseStream {
protected:
    explicit PulseStream(std::shared_ptr<PulseConnection> conn) : conn_(std::move(conn)) {}

    // Control thread, loop locked: a new stream whose state changes wake the waiters.
    bool create(const char* name, const pa_sample_spec& spec, const QString& what, QString* error) {
        stream_.reset(pa_stream_new(conn_->context(), name, &spec, nullptr));
        if (!stream_) {
            setError(error, QStringLiteral("Sound server: cannot create a %1 stream: %2")
                                .arg(what, conn_->lastError()));
            return false;
        }
        pa_stream_set_state_callback(
            stream_.get(),
            [](pa_stream*, void* self) { static_cast<PulseStream*>(self)->onState(); }, this);
        return true;
    }

    // Control thread, loop locked: waits for a connecting stream to be ready or to fail;
    // `cannot` says what could not be done, for the message.
    bool waitReady(const QString& cannot, QString* error) {
        const bool settled = conn_->waitUntil(
            [&] {
                const pa_stream_state_t s = pa_stream_get_state(stream_.get());
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            },
            kRequestTimeout);
        if (!settled || pa_stream_get_state(stream_.get()) != PA_STREAM_READY) {
            setError(error,
                     QStringLiteral("Sound server: %1: %2")
                         .arg(cannot, settled ? conn_->lastError() : QStringLiteral("no answer")));
            return false;
        }
        return true;
    }

    // Event-loop thread.
    void fail(int paError) {
        errorCode_ = paError == PA_OK ? PA_ERR_UNKNOWN : paError;
        failed_ = true;
        PulseConnection::signal(conn_->loop());
    }

    // Any thread: the failure seen while `doing` ("playback", "recording"), or empty.
    QString failure(const QString& doing) const {
        return failed_
                   ? QStringLiteral("Sound server: %1 failed: %2").arg(doing, describe(errorCode_))
                   : QString();
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

class PulsePlayback final : public PlaybackStream, private PulseStream {
public:
    PulsePlayback(std::shared_ptr<PulseConnection> conn, const pa_sample_spec& spec, PullFn pull)
        : PulseStream(std::move(conn)), spec_(spec), frameBytes_(pa_frame_size(&spec)),
          pull_(std::move(pull)) {}
    ~PulsePlayback() override;

    bool start(QString* error);
    void pause() override { cork(true); }
    void resume() override { cork(false); }
    std::uint64_t framesPlayed() const override;
    bool finished() const override { return (drained_ && ended_) || failed_; }
    QString error() const override { return failure(QStringLiteral("playback")); }

private:
    // Event-loop thread.
    void onWrite(std::size_t bytes);
    // Control thread.
    void cork(bool on);

    const pa_sample_spec spec_;
    const std::size_t frameBytes_;
    PullFn pull_;
    OperationPtr drain_;
    std::atomic<std::uint64_t> bytesWritten_{0};
    mutable std::atomic<std::uint64_t> framesHeard_{0}; // never goes back
    std::atomic<bool> ended_{false};                    // the PullFn has ended the data
    std::atomic<bool> drained_{false};                  // and the server has played all of it
};

bool PulsePlayback::start(QString* error) {
    LoopLock lock(conn_->loop());
    if (!create("Playback", spec_, QStringLiteral("playback"), error)) {
        return false;
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
        setError(error,
                 QStringLiteral("Sound server: cannot start playback: %1").arg(conn_->lastError()));
        return false;
    }
    return waitReady(QStringLiteral("cannot start playback"), error);
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
    if (ended_ && !drain_) {
        // Plays out what the server holds (even less than its start threshold) and tells us when
        // the last of it has been heard.
        drain_.reset(pa_stream_drain(
            s,
            [](pa_stream*, int, void* self) {
                auto* p = static_cast<PulsePlayback*>(self);
                p->drained_ = true;
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
    QString ignored;
    if (!conn_->await(pa_stream_cork(stream_.get(), on ? 1 : 0, nullptr, nullptr),
                      on ? "pausing" : "resuming", &ignored)) {
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
        pa_usec_t usec = 0;
        // The server's playback clock: what has been read from our buffer minus what still sits
        // between the server and the speaker. No timing yet means nothing heard yet.
        if (pa_stream_get_time(stream_.get(), &usec) == 0) {
            const std::uint64_t frames =
                std::min<std::uint64_t>(written, usec * spec_.rate / PA_USEC_PER_SEC);
            std::uint64_t heard = framesHeard_;
            while (frames > heard && !framesHeard_.compare_exchange_weak(heard, frames)) {
            }
        }
    }
    return framesHeard_;
}

class PulseCapture final : public CaptureStream, private PulseStream {
public:
    PulseCapture(std::shared_ptr<PulseConnection> conn, const pa_sample_spec& spec, PushFn push)
        : PulseStream(std::move(conn)), spec_(spec), push_(std::move(push)) {}
    ~PulseCapture() override { stop(); }

    bool start(const QString& sourceName, QString* error);
    void stop() override;
    std::uint64_t bytesCaptured() const override { return bytesCaptured_; }
    QString error() const override { return failure(QStringLiteral("recording")); }

private:
    // Event-loop thread.
    void onRead();
    void deliver(const void* data, std::size_t bytes);

    const pa_sample_spec spec_;
    PushFn push_;
    std::vector<std::uint8_t> silence_; // stands in for sound the server lost (a hole)
    bool delivering_ = true;            // event-loop thread only
    std::atomic<std::uint64_t> bytesCaptured_{0};
};

bool PulseCapture::start(const QString& sourceName, QString* error) {
    const std::uint32_t fragment = bytesFor(kCaptureFragment, spec_);
    silence_.assign(fragment, spec_.format == PA_SAMPLE_U8 ? 0x80 : 0x00);

    LoopLock lock(conn_->loop());
    if (!create("Recording", spec_, QStringLiteral("recording"), error)) {
        return false;
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
        setError(error, QStringLiteral("Sound server: cannot record from %1: %2")
                            .arg(sourceName, conn_->lastError()));
        return false;
    }
    return waitReady(QStringLiteral("cannot record from %1").arg(sourceName), error);
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
    bytesCaptured_ += bytes;
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

} // namespace

PulseBackend::PulseBackend(QString server) : server_(std::move(server)) {}

PulseBackend::~PulseBackend() = default;

QString PulseBackend::name() const {
    return QStringLiteral("pulse");
}

std::shared_ptr<PulseConnection> PulseBackend::connection(QString* error) {
    std::lock_guard guard(mutex_);
    if (conn_) {
        LoopLock lock(conn_->loop());
        if (conn_->ready()) {
            return conn_;
        }
    }
    // None yet, or the server went away: streams of the old connection keep it until they go.
    conn_ = PulseConnection::open(server_, error);
    return conn_;
}

bool PulseBackend::available(QString* error) {
    return connection(error) != nullptr;
}

std::unique_ptr<PlaybackStream> PulseBackend::openPlayback(const PcmFormat& format, PullFn pull,
                                                           QString* error) {
    pa_sample_spec spec{};
    if (!pull) {
        setError(error, QStringLiteral("No sound to play"));
        return nullptr;
    }
    if (!toSampleSpec(format, &spec, error)) {
        return nullptr;
    }
    auto conn = connection(error);
    if (!conn) {
        return nullptr;
    }
    auto stream = std::make_unique<PulsePlayback>(conn, spec, std::move(pull));
    if (!stream->start(error)) {
        return nullptr;
    }
    return stream;
}

std::unique_ptr<CaptureStream> PulseBackend::openCapture(int sourceIndex, const PcmFormat& format,
                                                         PushFn push, QString* error) {
    pa_sample_spec spec{};
    if (!push) {
        setError(error, QStringLiteral("Nowhere to deliver the recording"));
        return nullptr;
    }
    if (!toSampleSpec(format, &spec, error)) {
        return nullptr;
    }
    auto conn = connection(error);
    if (!conn) {
        return nullptr;
    }
    QString sourceName;
    {
        std::vector<SourceEntry> list;
        LoopLock lock(conn->loop());
        if (!listSources(*conn, &list, error)) {
            return nullptr;
        }
        if (sourceIndex < 0 || sourceIndex >= static_cast<int>(list.size())) {
            setError(error, QStringLiteral("There is no input %1").arg(sourceIndex));
            return nullptr;
        }
        sourceName = list[static_cast<std::size_t>(sourceIndex)].info.name;
    }
    auto stream = std::make_unique<PulseCapture>(conn, spec, std::move(push));
    if (!stream->start(sourceName, error)) {
        return nullptr;
    }
    return stream;
}

std::vector<SourceInfo> PulseBackend::sources(QString* error) {
    std::vector<SourceInfo> result;
    auto conn = connection(error);
    if (!conn) {
        return result;
    }
    std::vector<SourceEntry> list;
    {
        LoopLock lock(conn->loop());
        if (!listSources(*conn, &list, error)) {
            return result;
        }
    }
    result.reserve(list.size());
    for (auto& e : list) {
        result.push_back(std::move(e.info));
    }
    return result;
}

int PulseBackend::defaultSource(QString* error) {
    auto conn = connection(error);
    if (!conn) {
        return -1;
    }
    LoopLock lock(conn->loop());
    struct Query {
        pa_threaded_mainloop* loop;
        std::string name;
    } query{conn->loop(), {}};
    pa_operation* op = pa_context_get_server_info(
        conn->context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (info && info->default_source_name) {
                q->name = info->default_source_name;
            }
            PulseConnection::signal(q->loop);
        },
        &query);
    if (!conn->await(op, "asking for the default input", error)) {
        return -1;
    }
    std::vector<SourceEntry> list;
    if (!listSources(*conn, &list, error)) {
        return -1;
    }
    const QString wanted = QString::fromStdString(query.name);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].info.name == wanted) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool PulseBackend::setSourceVolume(int sourceIndex, int percent, QString* error) {
    if (percent < 0 || percent > kMaxVolumePercent) {
        setError(error, QStringLiteral("Input level %1 is outside 0 to %2")
                            .arg(percent)
                            .arg(kMaxVolumePercent));
        return false;
    }
    auto conn = connection(error);
    if (!conn) {
        return false;
    }
    LoopLock lock(conn->loop());
    std::vector<SourceEntry> list;
    if (!listSources(*conn, &list, error)) {
        return false;
    }
    if (sourceIndex < 0 || sourceIndex >= static_cast<int>(list.size())) {
        setError(error, QStringLiteral("There is no input %1").arg(sourceIndex));
        return false;
    }
    const SourceEntry& e = list[static_cast<std::size_t>(sourceIndex)];
    pa_cvolume volume;
    const auto level =
        static_cast<pa_volume_t>(static_cast<std::uint64_t>(percent) * PA_VOLUME_NORM / 100);
    if (!pa_cvolume_set(&volume, e.channels, level)) {
        setError(error, QStringLiteral("Input %1 has no channels").arg(e.info.name));
        return false;
    }
    struct Result {
        pa_threaded_mainloop* loop;
        int success = 0;
    } result{conn->loop()};
    const QByteArray name = e.info.name.toUtf8();
    pa_operation* op = pa_context_set_source_volume_by_name(
        conn->context(), name.constData(), &volume,
        [](pa_context*, int success, void* userdata) {
            auto* r = static_cast<Result*>(userdata);
            r->success = success;
            PulseConnection::signal(r->loop);
        },
        &result);
    if (!conn->await(op, "setting the input level", error)) {
        return false;
    }
    if (!result.success) {
        setError(error, QStringLiteral("Sound server: cannot set the level of %1: %2")
                            .arg(e.info.name, conn->lastError()));
        return false;
    }
    return true;
}

} // namespace quaverly::audio
