#include "engines/audio/PulseBackend.h"

#include "engines/audio/internal/PulseCapture.h"
#include "engines/audio/internal/PulseConnection.h"
#include "engines/audio/internal/PulsePlayback.h"
#include "engines/util/CodeTable.h"

#include <QByteArray>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quaverly::audio {

using pulse::LoopLock;
using pulse::PulseCapture;
using pulse::PulseConnection;
using pulse::PulsePlayback;
using pulse::serverError;

namespace {

Result<pa_sample_spec> toSampleSpec(const PcmFormat& format) {
    if (Status supported = checkFormat(format); !supported) {
        return supported.error();
    }
    pa_sample_spec spec{};
    spec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = format.sampleRate;
    spec.channels = static_cast<std::uint8_t>(format.channels);
    if (!pa_sample_spec_valid(&spec)) {
        return serverError(QStringLiteral("The sound server does not support %1 Hz, %2 channels")
                               .arg(format.sampleRate)
                               .arg(format.channels));
    }
    return spec;
}

SourceKind kindOf(const pa_source_info& info) {
    if (info.monitor_of_sink != PA_INVALID_INDEX) {
        return SourceKind::Monitor;
    }
    const pa_source_port_info* port = info.active_port;
    if (!port) {
        return SourceKind::Unknown;
    }
    static constexpr std::pair<std::uint32_t, SourceKind> kPortKinds[] = {
        {PA_DEVICE_PORT_TYPE_MIC, SourceKind::Microphone},
        {PA_DEVICE_PORT_TYPE_HEADSET, SourceKind::Microphone},
        {PA_DEVICE_PORT_TYPE_HANDSET, SourceKind::Microphone},
        {PA_DEVICE_PORT_TYPE_HANDSFREE, SourceKind::Microphone},
        {PA_DEVICE_PORT_TYPE_LINE, SourceKind::LineIn},
        {PA_DEVICE_PORT_TYPE_SPDIF, SourceKind::Digital},
        {PA_DEVICE_PORT_TYPE_HDMI, SourceKind::Digital},
        {PA_DEVICE_PORT_TYPE_ANALOG, SourceKind::Analog},
        {PA_DEVICE_PORT_TYPE_AUX, SourceKind::Aux},
    };
    if (const auto kind = lookUp(kPortKinds, port->type)) {
        return *kind;
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

// The loop must be locked.
Result<std::vector<SourceEntry>> listSources(PulseConnection& c) {
    std::vector<SourceEntry> list;
    struct Listing {
        pa_threaded_mainloop* loop;
        std::vector<SourceEntry>* out;
    } listing{c.loop(), &list};
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
    if (Status listed = c.await(op, "listing the inputs"); !listed) {
        return listed.error();
    }
    return list;
}

// sources()[index], found in `list`.
Result<const SourceEntry*> entryAt(const std::vector<SourceEntry>& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.size())) {
        return serverError(QStringLiteral("There is no input %1").arg(index));
    }
    return &list[static_cast<std::size_t>(index)];
}

} // namespace

PulseBackend::PulseBackend(QString server) : server_(std::move(server)) {}

PulseBackend::~PulseBackend() = default;

QString PulseBackend::name() const {
    return QStringLiteral("pulse");
}

Result<std::shared_ptr<PulseConnection>> PulseBackend::connection() {
    std::lock_guard guard(mutex_);
    if (conn_) {
        LoopLock lock(conn_->loop());
        if (conn_->ready()) {
            return conn_;
        }
    }
    // None yet, or the server went away: streams of the old connection keep it until they go.
    conn_.reset();
    auto opened = PulseConnection::open(server_);
    if (!opened) {
        return opened.error();
    }
    conn_ = *opened;
    return conn_;
}

Status PulseBackend::available() {
    auto conn = connection();
    if (!conn) {
        return conn.error();
    }
    return {};
}

struct PulseBackend::StreamStart {
    std::shared_ptr<PulseConnection> conn;
    pa_sample_spec spec;
};

Result<PulseBackend::StreamStart> PulseBackend::startStream(const PcmFormat& format, bool fed,
                                                            const QString& unfed) {
    if (!fed) {
        return serverError(unfed);
    }
    const auto spec = toSampleSpec(format);
    if (!spec) {
        return spec.error();
    }
    auto conn = connection();
    if (!conn) {
        return conn.error();
    }
    return StreamStart{std::move(conn).value(), *spec};
}

Result<std::unique_ptr<PlaybackStream>> PulseBackend::openPlayback(const PcmFormat& format,
                                                                   PullFn pull, EndFn ended) {
    const auto start = startStream(format, bool(pull), QStringLiteral("No sound to play"));
    if (!start) {
        return start.error();
    }
    auto stream = std::make_unique<PulsePlayback>(start->conn, start->spec, std::move(pull),
                                                  std::move(ended));
    if (Status started = stream->start(); !started) {
        return started.error();
    }
    return std::unique_ptr<PlaybackStream>(std::move(stream));
}

Result<std::unique_ptr<CaptureStream>>
PulseBackend::openCapture(int sourceIndex, const PcmFormat& format, PushFn push) {
    const auto start =
        startStream(format, bool(push), QStringLiteral("Nowhere to deliver the recording"));
    if (!start) {
        return start.error();
    }
    const auto& conn = start->conn;
    Result<QString> source = [&]() -> Result<QString> {
        LoopLock lock(conn->loop());
        const auto list = listSources(*conn);
        if (!list) {
            return list.error();
        }
        const auto entry = entryAt(*list, sourceIndex);
        if (!entry) {
            return entry.error();
        }
        return (*entry)->info.name;
    }();
    if (!source) {
        return source.error();
    }
    auto stream = std::make_unique<PulseCapture>(conn, start->spec, std::move(push));
    if (Status started = stream->start(*source); !started) {
        return started.error();
    }
    return std::unique_ptr<CaptureStream>(std::move(stream));
}

Result<std::vector<SourceInfo>> PulseBackend::sources() {
    auto conn = connection();
    if (!conn) {
        return conn.error();
    }
    Result<std::vector<SourceEntry>> list = [&] {
        LoopLock lock((*conn)->loop());
        return listSources(**conn);
    }();
    if (!list) {
        return list.error();
    }
    std::vector<SourceInfo> result;
    result.reserve(list->size());
    for (auto& e : *list) {
        result.push_back(std::move(e.info));
    }
    return result;
}

Result<int> PulseBackend::defaultSource() {
    auto conn = connection();
    if (!conn) {
        return conn.error();
    }
    PulseConnection& c = **conn;
    LoopLock lock(c.loop());
    struct Query {
        pa_threaded_mainloop* loop;
        std::string name;
    } query{c.loop(), {}};
    pa_operation* op = pa_context_get_server_info(
        c.context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (info && info->default_source_name) {
                q->name = info->default_source_name;
            }
            PulseConnection::signal(q->loop);
        },
        &query);
    if (Status asked = c.await(op, "asking for the default input"); !asked) {
        return asked.error();
    }
    const auto list = listSources(c);
    if (!list) {
        return list.error();
    }
    const QString wanted = QString::fromStdString(query.name);
    for (std::size_t i = 0; i < list->size(); ++i) {
        if ((*list)[i].info.name == wanted) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Status PulseBackend::setSourceVolume(int sourceIndex, int percent) {
    if (percent < 0 || percent > kMaxVolumePercent) {
        return serverError(QStringLiteral("Input level %1 is outside 0 to %2")
                               .arg(percent)
                               .arg(kMaxVolumePercent));
    }
    auto conn = connection();
    if (!conn) {
        return conn.error();
    }
    PulseConnection& c = **conn;
    LoopLock lock(c.loop());
    const auto list = listSources(c);
    if (!list) {
        return list.error();
    }
    const auto entry = entryAt(*list, sourceIndex);
    if (!entry) {
        return entry.error();
    }
    const SourceEntry& e = **entry;
    pa_cvolume volume;
    const auto level =
        static_cast<pa_volume_t>(static_cast<std::uint64_t>(percent) * PA_VOLUME_NORM / 100);
    if (!pa_cvolume_set(&volume, e.channels, level)) {
        return serverError(QStringLiteral("Input %1 has no channels").arg(e.info.name));
    }
    struct Outcome {
        pa_threaded_mainloop* loop;
        int success = 0;
    } outcome{c.loop()};
    const QByteArray name = e.info.name.toUtf8();
    pa_operation* op = pa_context_set_source_volume_by_name(
        c.context(), name.constData(), &volume,
        [](pa_context*, int success, void* userdata) {
            auto* o = static_cast<Outcome*>(userdata);
            o->success = success;
            PulseConnection::signal(o->loop);
        },
        &outcome);
    if (Status set = c.await(op, "setting the input level"); !set) {
        return set;
    }
    if (!outcome.success) {
        return serverError(QStringLiteral("Sound server: cannot set the level of %1: %2")
                               .arg(e.info.name, c.lastError()));
    }
    return {};
}

} // namespace quaverly::audio
