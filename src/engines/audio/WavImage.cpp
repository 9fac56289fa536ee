#include "engines/audio/WavImage.h"

#include "engines/wav/WavHeader.h"

#include <QBuffer>
#include <QByteArray>

#include <limits>

namespace quaverly::audio {

namespace {

Error imageError(const QString& cause, int code) {
    return Error(QString(), QStringLiteral("memory image: ") + cause, code);
}

} // namespace

Result<WavImage> parseWavImage(const void* image, std::uint64_t length) {
    if (!image && length > 0)
        return Error(QString(), QStringLiteral("no memory image"), sound::kIllParam);
    if (length > static_cast<std::uint64_t>(std::numeric_limits<qsizetype>::max()))
        return Error(QString(),
                     QStringLiteral("the memory image is larger than this machine can "
                                    "address"),
                     sound::kIllParam);
    // A read-only view of the caller's bytes: QBuffer never reads past its size.
    const QByteArray view =
        QByteArray::fromRawData(static_cast<const char*>(image), static_cast<qsizetype>(length));
    QBuffer device;
    device.setData(view);
    if (!device.open(QIODevice::ReadOnly))
        return Error(QString(), QStringLiteral("cannot read the memory image"), sound::kMemory);
    const auto layout = probeWav(device);
    if (!layout)
        return imageError(layout.error().cause(), sound::kFileForm);
    // Integer PCM with one sample per channel in a frame: played byte for byte.
    const bool plainPcm = layout->formatTag == 1 &&
                          (layout->bitsPerSample == 8 || layout->bitsPerSample == 16) &&
                          layout->blockAlign == layout->channels * layout->bitsPerSample / 8;
    if (!plainPcm)
        return imageError(QStringLiteral("format %1, %2 bits; only 8 or 16-bit PCM plays from "
                                         "memory")
                              .arg(layout->formatTag)
                              .arg(layout->bitsPerSample),
                          sound::kFormat);
    if (layout->channels > 2)
        return imageError(QStringLiteral("%1 channels; only mono and stereo play from memory")
                              .arg(layout->channels),
                          sound::kFormat);
    WavImage result;
    result.format.sampleRate = layout->sampleRate;
    result.format.channels = layout->channels;
    result.format.bitsPerSample = layout->bitsPerSample;
    if (Status playable = checkFormat(result.format); !playable)
        return imageError(playable.error().cause(), sound::kFormat);
    // probeWav has clamped the data chunk to the image and to whole frames.
    result.pcm = static_cast<const std::uint8_t*>(image) + layout->dataOffset;
    result.bytes = layout->dataSize;
    return result;
}

} // namespace quaverly::audio
