#include "engines/audio/internal/PulseConnection.h"

#include <QByteArray>
#include <QtGlobal>

namespace quaverly::audio::pulse {

Status PulseConnection::await(pa_operation* rawOp, const char* what) {
    if (!rawOp) {
        return serverError(
            QStringLiteral("Sound server: %1 failed: %2").arg(QLatin1String(what), lastError()));
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
        return serverError(QStringLiteral("Sound server: %1 timed out").arg(QLatin1String(what)));
    }
    if (pa_operation_get_state(op.get()) != PA_OPERATION_DONE) {
        return serverError(
            QStringLiteral("Sound server: %1 failed: %2").arg(QLatin1String(what), lastError()));
    }
    return {};
}

Result<std::shared_ptr<PulseConnection>> PulseConnection::open(const QString& server) {
    // Name the server in messages: the one asked for, else the one the environment names.
    const QString named = server.isEmpty() ? qEnvironmentVariable("PULSE_SERVER") : server;
    const QString where = named.isEmpty() ? QString() : QStringLiteral(" at ") + named;
    std::shared_ptr<PulseConnection> c(new PulseConnection);
    c->loop_.reset(pa_threaded_mainloop_new());
    if (!c->loop_) {
        return serverError(QStringLiteral("Cannot create the sound server's event loop"));
    }
    c->context_.reset(pa_context_new(pa_threaded_mainloop_get_api(c->loop()), "Quaverly"));
    if (!c->context_) {
        return serverError(QStringLiteral("Cannot create a sound server context"));
    }
    pa_context_set_state_callback(
        c->context(),
        [](pa_context*, void* loop) { signal(static_cast<pa_threaded_mainloop*>(loop)); },
        c->loop());
    if (pa_threaded_mainloop_start(c->loop()) < 0) {
        return serverError(QStringLiteral("Cannot start the sound server's event loop"));
    }
    LoopLock lock(c->loop());
    const QByteArray serverName = server.toUtf8();
    // Never spawn a server: with none running, the program reports it and goes on.
    if (pa_context_connect(c->context(), server.isEmpty() ? nullptr : serverName.constData(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return serverError(
            QStringLiteral("Cannot connect to the sound server%1: %2").arg(where, c->lastError()));
    }
    const bool settled = c->waitUntil(
        [&] {
            const pa_context_state_t s = pa_context_get_state(c->context());
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        kConnectTimeout);
    if (!settled) {
        return serverError(
            QStringLiteral("Cannot connect to the sound server%1: no answer").arg(where));
    }
    if (!c->ready()) {
        return serverError(
            QStringLiteral("Cannot connect to the sound server%1: %2").arg(where, c->lastError()));
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

} // namespace quaverly::audio::pulse
