// quaverly-cli info FILE: the format, duration and data size of a sound file, and how the song
// reader reads it: codec, container, channels mixed down, encoder delay and padding removed.
#include "cli/CommandSupport.h"
#include "cli/ProgressLine.h"

#include "engines/decode/SongReader.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>

#include <cstdint>
#include <vector>

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

// Reads the song to its end, for a length its container only estimates: the read that meets
// the end makes frames() exact.
Status readToEnd(SongReader& song, const Io& io) {
    ProgressLine line(io, QStringLiteral("measuring ") + QFileInfo(song.path()).fileName());
    std::vector<std::int16_t> block(8192 * 2);
    for (std::uint64_t blocks = 1;; ++blocks) {
        const auto got = song.read(block.data(), 8192);
        if (!got)
            return got.error();
        if (*got == 0)
            return {};
        if ((blocks & 63) == 0)
            line.update(song.position(), song.frames()); // the estimate, until the end
    }
}

} // namespace

int infoCommand(const QStringList& args, const Options&, const Io& io) {
    const QString& file = args[0];
    if (!QFileInfo(file).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(file));
    auto song = SongReader::open(file);
    if (!song)
        return failed(io, withCode(readFailure(song.error()), song.error().code()));
    if (!song->format().lengthExact) {
        if (const Status read = readToEnd(*song, io); !read)
            return failed(io, withCode(read.error().text(), read.error().code()));
    }
    const SongFormat& f = song->format();

    // A WAV file is told as it is; anything else as the sound it decodes to.
    QString kind = f.container + QStringLiteral(", decodes to PCM 16-bit");
    std::uint64_t frames = song->frames();
    std::uint64_t dataBytes = frames * 2u * std::uint64_t(f.channels);
    std::uint32_t rate = f.rate;
    int channels = f.channels;
    if (const auto w = probeWav(file)) {
        kind = QStringLiteral("WAV, ") + formatName(*w);
        frames = w->dataSize / w->blockAlign;
        dataBytes = w->dataSize;
        rate = w->sampleRate;
        channels = w->channels;
    }
    const std::uint64_t ms = rate ? (frames * 1000 + rate / 2) / rate : 0;
    say(io.out, QStringLiteral("file: %1").arg(file));
    say(io.out, QStringLiteral("format: %1, %2 channel%3, %4 Hz")
                    .arg(kind)
                    .arg(channels)
                    .arg(channels == 1 ? "" : "s")
                    .arg(rate));
    if (f.channelsChange)
        say(io.out, QStringLiteral("channels change mid-stream: decoded as stereo throughout"));
    say(io.out, QStringLiteral("duration_ms: %1").arg(ms));
    say(io.out, QStringLiteral("samples: %1").arg(frames));
    say(io.out, QStringLiteral("data_bytes: %1").arg(dataBytes));
    say(io.out, QStringLiteral("codec: %1").arg(f.codec));
    say(io.out, QStringLiteral("container: %1").arg(f.container));
    if (f.sourceChannels > f.channels)
        say(io.out,
            QStringLiteral("source_channels: %1 (mixed down to stereo)").arg(f.sourceChannels));
    say(io.out, QStringLiteral("delay: %1").arg(f.delay));
    say(io.out, QStringLiteral("padding: %1").arg(f.padding));
    return kOk;
}

} // namespace quaverly::cli
