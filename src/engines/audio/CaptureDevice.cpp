#include "engines/audio/CaptureDevice.h"

#include "engines/util/CodeTable.h"

#include <algorithm>
#include <utility>

namespace quaverly::audio {

namespace {

Error deviceError(const QString& cause, int code) {
    return Error(QString(), cause, code);
}

// The back end's failure, with the code the recorder shows for it.
Error deviceError(const Error& backend, int code) {
    return deviceError(backend.cause(), code);
}

} // namespace

QString inputKindText(SourceKind kind) {
    static constexpr std::pair<SourceKind, const char*> kTexts[] = {
        {SourceKind::Microphone, "Microphone"}, {SourceKind::LineIn, "Line-in"},
        {SourceKind::Monitor, "Wave/PCM"},      {SourceKind::Digital, "Digital"},
        {SourceKind::Analog, "Analog"},         {SourceKind::Aux, "Aux"},
    };
    return QString::fromUtf8(lookUp(kTexts, kind).value_or("Unknown"));
}

Status Capture::failure() const {
    if (Status failed = stream_->failure(); !failed)
        return deviceError(failed.error(), sound::kDriver);
    return {};
}

Result<CaptureDevice> CaptureDevice::open(std::shared_ptr<AudioBackend> backend) {
    if (Status up = backend->available(); !up)
        return deviceError(up.error(), sound::kDriver);
    CaptureDevice device(std::move(backend));
    if (Status listed = device.refresh(); !listed)
        return listed.error();
    // The entries are still in the server's order here, so its default source's index is the
    // input's number.
    const Result<int> defaultSource = device.backend_->defaultSource();
    if (!defaultSource)
        return deviceError(QStringLiteral("cannot find the default input: ") +
                               defaultSource.error().cause(),
                           sound::kDriver);
    device.chosen_ =
        *defaultSource < static_cast<int>(device.entries_.size()) ? *defaultSource : -1;
    return device;
}

CaptureDevice::~CaptureDevice() {
    restoreAll();
}

CaptureDevice::CaptureDevice(CaptureDevice&& other) noexcept
    : backend_(std::move(other.backend_)), entries_(std::exchange(other.entries_, {})),
      chosen_(std::exchange(other.chosen_, -1)) {}

CaptureDevice& CaptureDevice::operator=(CaptureDevice&& other) noexcept {
    if (this != &other) {
        restoreAll();
        backend_ = std::move(other.backend_);
        entries_ = std::exchange(other.entries_, {});
        chosen_ = std::exchange(other.chosen_, -1);
    }
    return *this;
}

void CaptureDevice::restoreAll() {
    // A device that set no level does not talk to the server at all, so that one whose server
    // has gone away ends at once.
    const bool any = std::any_of(entries_.begin(), entries_.end(),
                                 [](const Entry& e) { return e.original >= 0; });
    if (!backend_ || !any)
        return;
    if (refresh())
        restoreLevels(-1);
}

void CaptureDevice::restoreLevels(int keep) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& e = entries_[i];
        if (static_cast<int>(i) == keep || e.original < 0 || e.backendIndex < 0)
            continue;
        // Something else has set the level since: that level stands, and nothing is ours.
        if (e.volume != e.ours) {
            e.original = -1;
            continue;
        }
        const int level = std::clamp(e.original, 0, kMaxVolumePercent);
        // A refusal leaves it to the next time levels are set back.
        if (!backend_->setSourceVolume(e.backendIndex, level))
            continue;
        e.volume = level;
        e.info.level = std::min(level, 100);
        e.original = -1;
    }
}

Status CaptureDevice::refresh() {
    const Result<std::vector<SourceInfo>> listed = backend_->sources();
    if (!listed)
        return deviceError(QStringLiteral("cannot list the recording inputs: ") +
                               listed.error().cause(),
                           sound::kDriver);
    const std::vector<SourceInfo>& sources = *listed;
    for (Entry& e : entries_)
        e.backendIndex = -1;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const SourceInfo& s = sources[i];
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.name == s.name; });
        if (it == entries_.end()) {
            entries_.emplace_back().name = s.name;
            it = entries_.end() - 1;
        }
        it->info.description = s.description;
        it->info.kind = s.kind;
        it->volume = s.volumePercent;
        it->info.level = std::clamp(s.volumePercent, 0, 100);
        it->backendIndex = static_cast<int>(i);
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        entries_[i].info.present = entries_[i].backendIndex >= 0;
        entries_[i].info.chosen = static_cast<int>(i) == chosen_;
    }
    return {};
}

Result<CaptureDevice::Entry*> CaptureDevice::entry(int number, bool present) {
    if (number < 0)
        return deviceError(QStringLiteral("input %1: inputs are numbered from 0").arg(number),
                           sound::kIllParam);
    if (Status listed = refresh(); !listed)
        return listed.error();
    if (static_cast<std::size_t>(number) >= entries_.size())
        return deviceError(
            QStringLiteral("there is no input %1 (%2 inputs)").arg(number).arg(entries_.size()),
            sound::kIllParam);
    Entry& e = entries_[static_cast<std::size_t>(number)];
    if (present && e.backendIndex < 0)
        return deviceError(QStringLiteral("input %1 (%2) is no longer on the sound server")
                               .arg(number)
                               .arg(e.info.description),
                           sound::kNotAvail);
    return &e;
}

Result<std::vector<RecordingInput>> CaptureDevice::inputs() {
    if (Status listed = refresh(); !listed)
        return listed.error();
    std::vector<RecordingInput> result;
    result.reserve(entries_.size());
    for (const Entry& e : entries_)
        result.push_back(e.info);
    return result;
}

Result<RecordingInput> CaptureDevice::input(int number) {
    const Result<Entry*> e = entry(number, false);
    if (!e)
        return e.error();
    return (*e)->info;
}

Status CaptureDevice::choose(int number) {
    const Result<Entry*> e = entry(number, true);
    if (!e)
        return e.error();
    chosen_ = number;
    restoreLevels(number);
    for (std::size_t i = 0; i < entries_.size(); ++i)
        entries_[i].info.chosen = static_cast<int>(i) == chosen_;
    return {};
}

Status CaptureDevice::setLevel(int number, int percent) {
    if (percent < 0 || percent > 100)
        return deviceError(QStringLiteral("level %1 is outside 0 to 100").arg(percent),
                           sound::kIllParam);
    const Result<Entry*> e = entry(number, true);
    if (!e)
        return e.error();
    Entry& en = **e;
    // The level to set back is the one found before our first change, or the one something
    // else has set since our last.
    const int original = en.original < 0 || en.volume != en.ours ? en.volume : en.original;
    if (Status set = backend_->setSourceVolume(en.backendIndex, percent); !set)
        return deviceError(set.error(), sound::kDriver);
    en.original = original;
    en.ours = percent;
    en.volume = percent;
    en.info.level = percent;
    return {};
}

Result<std::unique_ptr<Capture>>
CaptureDevice::start(std::uint32_t sampleRate, std::uint16_t channels, Capture::BlockFn onBlock) {
    if (!onBlock)
        return deviceError(QStringLiteral("nothing to hand the recording to"), sound::kIllParam);
    const PcmFormat format{sampleRate, channels, 16};
    if (Status supported = checkFormat(format); !supported)
        return deviceError(supported.error(), sound::kFormat);
    if (chosen_ < 0)
        return deviceError(QStringLiteral("no input is chosen to record from"), sound::kNotAvail);
    const Result<Entry*> e = entry(chosen_, true);
    if (!e)
        return e.error();
    auto stream = backend_->openCapture((*e)->backendIndex, format, std::move(onBlock));
    if (!stream)
        return deviceError(QStringLiteral("cannot start recording: ") + stream.error().cause(),
                           sound::kStart);
    return std::unique_ptr<Capture>(new Capture(std::move(*stream)));
}

} // namespace quaverly::audio
