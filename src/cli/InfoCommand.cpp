// quaverly-cli info FILE: the format, duration and data size of a sound file.
#include "cli/CommandSupport.h"

#include "engines/bass/Bass.h"
#include "engines/wav/WavHeader.h"

#include <QFile>
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
    QString why;
    const auto w = probeWav(file, &why);
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
        // Anything else is measured by decoding it through the sound layer.
        using namespace quaverly::bass;
        const bool started = BASS_Init(0, 44100, 0, nullptr, nullptr) != 0;
        const HSTREAM h =
            BASS_StreamCreateFile(0, QFile::encodeName(file).constData(), 0, 0, BASS_STREAM_DECODE);
        BASS_CHANNELINFO ci;
        const bool ok = h && BASS_ChannelGetInfo(h, &ci) && ci.chans > 0;
        const int code = BASS_ErrorGetCode();
        const QString layerSays = QString::fromStdString(lastErrorText());
        if (ok) {
            kind = ci.ctype == BASS_CTYPE_STREAM_MP3 ? QStringLiteral("MPEG audio")
                                                     : QStringLiteral("audio");
            kind += QStringLiteral(", decodes to PCM 16-bit");
            dataBytes = BASS_ChannelGetLength(h);
            rate = ci.freq;
            channels = int(ci.chans);
            frames = dataBytes / (2u * ci.chans);
            channelsChange = channelsChangeInSource(h);
        }
        if (h)
            BASS_StreamFree(h);
        if (started)
            BASS_Free();
        if (!ok)
            return failed(io, QStringLiteral("%1 (error code %2)")
                                  .arg(readFailure(file, layerSays.isEmpty() ? why : layerSays))
                                  .arg(code));
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
