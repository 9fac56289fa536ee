#include "engines/audio/AudioBackend.h"

#include "engines/audio/VirtualBackend.h"
#ifdef Q_OS_WIN
#include "engines/audio/WasapiBackend.h"
#endif
#include "engines/audio/internal/PulseModule.h"
#include "engines/util/Module.h"

#include <QByteArray>

#include <utility>

namespace quaverly::audio {

Status checkFormat(const PcmFormat& format) {
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16) {
        return Error({}, QStringLiteral("%1-bit sound is not supported (8 or 16 bits)")
                             .arg(format.bitsPerSample));
    }
    if (format.channels < 1 || format.channels > 8) {
        return Error({},
                     QStringLiteral("%1 channels are not supported (1 to 8)").arg(format.channels));
    }
    if (format.sampleRate < 1000 || format.sampleRate > 384000) {
        return Error({}, QStringLiteral("A sample rate of %1 Hz is not supported (1000 to 384000)")
                             .arg(format.sampleRate));
    }
    return {};
}

namespace {

// Stands in for the sound server back end when its module cannot be loaded: every call fails
// with the reason, as the back end's own calls do when there is no server.
class MissingBackend final : public AudioBackend {
public:
    explicit MissingBackend(Error why) : why_(std::move(why)) {}
    QString name() const override { return QStringLiteral("pulse"); }
    Status available() override { return why_; }
    Result<std::unique_ptr<PlaybackStream>> openPlayback(const PcmFormat&, PullFn, EndFn) override {
        return why_;
    }
    Result<std::unique_ptr<CaptureStream>> openCapture(int, const PcmFormat&, PushFn) override {
        return why_;
    }
    Result<std::vector<SourceInfo>> sources() override { return why_; }
    Result<int> defaultSource() override { return why_; }
    Status setSourceVolume(int, int) override { return why_; }

private:
    const Error why_;
};

// The system's own sound: WASAPI on Windows, else the sound server.
std::shared_ptr<AudioBackend> systemBackend() {
#if defined(Q_OS_WIN)
    return std::make_shared<WasapiBackend>();
#elif !defined(QUAVERLY_PULSE_MODULE_BUILT)
    return std::make_shared<MissingBackend>(
        Error({}, QStringLiteral("this build of Quaverly has no sound device support")));
#else
    const auto table = loadModuleTable<pulse::Module>(
        QStringLiteral("sound server support"), QStringLiteral(QUAVERLY_PULSE_MODULE_INSTALLED),
        QStringLiteral(QUAVERLY_PULSE_MODULE_BUILT), "quaverly_pulse_module");
    if (!table)
        return std::make_shared<MissingBackend>(table.error());
    return std::shared_ptr<AudioBackend>((*table)->makeBackend());
#endif
}

std::shared_ptr<AudioBackend> makeDefaultBackend() {
    const QByteArray choice = qgetenv("QUAVERLY_AUDIO").trimmed().toLower();
    if (choice == "virtual") {
        return std::make_shared<VirtualBackend>();
    }
    return systemBackend();
}

} // namespace

std::shared_ptr<AudioBackend> defaultBackend() {
    // Made once, on first use, and kept until the process ends.
    static const std::shared_ptr<AudioBackend> backend = makeDefaultBackend();
    return backend;
}

} // namespace quaverly::audio
