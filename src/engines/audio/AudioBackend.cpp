#include "engines/audio/AudioBackend.h"

#include "engines/audio/PulseBackend.h"
#include "engines/audio/VirtualBackend.h"

#include <QByteArray>

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

std::shared_ptr<AudioBackend> makeDefaultBackend() {
    const QByteArray choice = qgetenv("QUAVERLY_AUDIO").trimmed().toLower();
    if (choice == "virtual") {
        return std::make_shared<VirtualBackend>();
    }
    return std::make_shared<PulseBackend>();
}

} // namespace

std::shared_ptr<AudioBackend> defaultBackend() {
    // Made once, on first use, and kept until the process ends.
    static const std::shared_ptr<AudioBackend> backend = makeDefaultBackend();
    return backend;
}

} // namespace quaverly::audio
