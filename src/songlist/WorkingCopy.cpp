#include "songlist/WorkingCopy.h"

#include "engines/util/AtomicFile.h"
#include "engines/util/ClockText.h"
#include "engines/wav/WavHeader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace quaverly {
namespace {

// "FLAC", "MP3": a codec names the kind of file. Plain PCM does not, so its container goes in
// front of it: "WAV PCM 16-bit", "AIFF PCM 24-bit".
QString formatWords(const SongSummary& song) {
    if (song.codec.isEmpty() || song.container.isEmpty() ||
        !song.codec.startsWith(QLatin1String("PCM")))
        return song.codec;
    return song.container + QLatin1Char(' ') + song.codec;
}

QString channelWords(int channels) {
    switch (channels) {
    case 1:
        return QStringLiteral("mono");
    case 2:
        return QStringLiteral("stereo");
    default:
        return QStringLiteral("%1 channels").arg(channels);
    }
}

// "3:25.4", to the nearest tenth of a second; "1:02:03.0" from an hour on.
QString lengthWords(std::uint64_t frames, std::uint32_t rate) {
    if (rate == 0)
        return QString();
    const std::uint64_t tenths = (frames * 10u + rate / 2u) / rate;
    return clockTenths(tenths);
}

// The copy made byte for byte: its own header gives the length, and the song reader (which
// only reads the header of such a file) the format's words, as for every other song. Both read
// the copy, which has the picked file's bytes: the picked file is read for the copy alone.
Result<SongSummary> copyWhole(const QString& picked, const QString& target,
                              const WorkProgress& work) {
    if (const Status copied = copyFileAtomically(picked, target, work); !copied)
        return copied.error();
    const auto layout = probeWav(target);
    if (!layout || layout->blockAlign == 0) {
        QFile::remove(target);
        return layout ? Error(target, QStringLiteral("a WAV file without frames")) : layout.error();
    }
    SongSummary song;
    song.rate = layout->sampleRate;
    song.channels = layout->channels;
    song.frames = layout->dataSize / layout->blockAlign;
    if (const auto reader = SongReader::open(target)) {
        song.codec = reader->format().codec;
        song.container = reader->format().container;
    }
    return song;
}

} // namespace

QString songNameFor(const QString& pickedPath, const SongTags& tags) {
    if (!tags.title.isEmpty())
        return tags.artist.isEmpty() ? tags.title
                                     : tags.artist + QStringLiteral(" - ") + tags.title;
    const QString file = QFileInfo(pickedPath).fileName();
    if (file.size() <= 4)
        return file;
    // A name that starts with its only dot (".hidden") has no extension to drop.
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? file.left(dot) : file;
}

QString songToolTip(const QString& pickedPath, const SongSummary& song) {
    QStringList format;
    if (const QString words = formatWords(song); !words.isEmpty())
        format << words;
    format << QStringLiteral("%1 Hz").arg(song.rate) << channelWords(song.channels);
    return songNameFor(pickedPath, song.tags) + QLatin1Char('\n') +
           QDir::toNativeSeparators(pickedPath) + QLatin1Char('\n') +
           format.join(QStringLiteral(", ")) + QLatin1Char('\n') +
           lengthWords(song.frames, song.rate);
}

QString songFormatWord(const SongSummary& song) {
    // Long codec names are FFmpeg's descriptions ("Windows Media Audio 2"): too wide for a row.
    constexpr qsizetype kShort = 8;
    const bool pcm =
        song.codec.startsWith(QLatin1String("PCM")) || song.codec == QLatin1String("compressed");
    if (!song.codec.isEmpty() && !pcm && song.codec.size() <= kShort)
        return song.codec;
    if (!song.container.isEmpty() && song.container.size() <= kShort)
        return song.container;
    return song.codec.isEmpty() ? song.container : song.codec.section(u' ', 0, 0);
}

QString listLengthText(std::uint64_t ms) {
    return clockSeconds((ms + 500u) / 1000u);
}

QString newWorkingCopyPath(const QString& folder) {
    // Without a folder QDir would mean the current directory: a working copy never goes there.
    if (folder.isEmpty())
        return QString();
    const QDir dir(folder);
    for (;;) {
        const QString name =
            QStringLiteral("song-%1.wav").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
        if (!dir.exists(name))
            return dir.filePath(name);
    }
}

bool copiesWhole(const QString& picked) {
    // Only mono or stereo is copied (a canonical layout implies it; said here, where it
    // matters): a file of more channels is decoded, mixed down to stereo.
    const auto layout = probeWav(picked);
    return layout && layout->canonical && layout->channels <= 2 && layout->dataSize > 0;
}

Result<SongSummary> makeWorkingCopy(const QString& picked, const QString& target,
                                    const WorkProgress& work) {
    if (target.isEmpty())
        return Error(QString(),
                     QStringLiteral("there is no working folder to keep its working copy in"));
    if (copiesWhole(picked))
        return copyWhole(picked, target, work);
    auto song = SongReader::open(picked);
    if (!song)
        return song.error();
    const auto header = decodeSong(*song, target, work);
    if (!header)
        return header.error();
    const SongFormat& format = song->format();
    return SongSummary{format.codec,
                       format.container,
                       header->sampleRate,
                       format.sourceChannels,
                       header->dataSize / header->blockAlign,
                       readSongTags(picked)};
}

} // namespace quaverly
