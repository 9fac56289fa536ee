#include "engines/audio/PulseBackend.h"

#include "engines/audio/internal/PulseCapture.h"
#include "engines/audio/internal/PulseConnection.h"
#include "engines/audio/internal/PulsePlayback.h"

#include <QByteArray>

#include <string>
#include <utility>
#include <vector>

namespace quaverly::audio {

using pulse::LoopLock;
using pulse::PulseCapture;
using pulse::PulseConnection;
using pulse::PulsePlayback;
using pulse::setError;

namespace {

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
