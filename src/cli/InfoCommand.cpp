// quaverly-cli info FILE: the format, duration and data size of a sound file.
#include "cli/CommandSupport.h"

#include "engines/decode/SongReader.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>

#include <cstdint>

namespace quaverly::cli {
namespace {

QString formatName(const WavLayout& w) {
    switch (w.formatTag) {
    case 1:
        return QStringLiteral("PCM %1-bit").arg(w.bitsPerSample);
    case 3:
        return QStringLiteral("float %1-bit").arg(w.bitsPerSample);
    default:
        return QStringLiteral("format %1").arg(w.formatTag);
    }
}

} // namespace

int infoCommand(const QStringList& args, const Options&, const Io& io) {
    const QString& file = args[0];
    if (!QFileInfo(file).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(file));
    const auto w = probeWav(file);
    QString kind;
    std::uint64_t frames = 0, dataBytes = 0;
    std::uint32_t rate = 0;
    int channels = 0;
    bool channelsChange = false;
    if (w) {
        kind = QStringLiteral("WAV, ") + formatName(*w);
        frames = w->dataSize / w->blockAlign;
        dataBytes = w->dataSize;
        rate = w->sampleRate;
        channels = w->channels;
    } else {
        // Anything else is measured by the song reader, which knows its exact length at open.
        const auto song = SongReader::open(file);
        if (!song)
            return failed(io, QStringLiteral("%1 (error code %2)")
                                  .arg(readFailure(song.error()))
                                  .arg(song.error().code()));
        const SongFormat& f = song->format();
        kind =
            f.kind == SongKind::MpegLayer3 ? QStringLiteral("MPEG audio") : QStringLiteral("audio");
        kind += QStringLiteral(", decodes to PCM 16-bit");
        frames = song->frames();
        rate = f.rate;
        channels = f.channels;
        dataBytes = frames * 2u * std::uint64_t(f.channels);
        channelsChange = f.channelsChange;
    }
    const std::uint64_t ms = rate ? (frames * 1000 + rate / 2) / rate : 0;
    say(io.out, QStringLiteral("file: %1").arg(file));
    say(io.out, QStringLiteral("format: %1, %2 channel%3, %4 Hz")
                    .arg(kind)
                    .arg(channels)
                    .arg(channels == 1 ? "" : "s")
                    .arg(rate));
    if (channelsChange)
        say(io.out, QStringLiteral("channels change mid-stream: decoded as stereo throughout"));
    say(io.out, QStringLiteral("duration_ms: %1").arg(ms));
    say(io.out, QStringLiteral("samples: %1").arg(frames));
    say(io.out, QStringLiteral("data_bytes: %1").arg(dataBytes));
    return kOk;
}

} // namespace quaverly::cli
