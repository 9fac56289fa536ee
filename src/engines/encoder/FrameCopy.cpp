#include "engines/encoder/FrameCopy.h"

#include "engines/encoder/internal/FrameCopies.h"
#include "engines/util/AtomicFile.h"

#include <QFile>

namespace quaverly::framecopy {
namespace {

using internal::SongStream;

Error cannotKeep(const QString& song, const QString& why) {
    return Error(song, why).during(CopyStep::CannotKeep);
}

// The kinds whose frames are kept, as the song's content shows it.
enum class Kind { Other, Mp3, M4a, Flac, Wav };

// The song's kind from its first bytes, past an ID3v2 tag (which MP3 and FLAC files may begin
// with), and the table's row for it.
struct SongKind {
    Kind kind = Kind::Other;
    const formats::FileFormat* row = nullptr;
};
SongKind songKind(const QString& song) {
    QFile f(song);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray head = f.read(4096);
    if (head.size() >= 10 && head.startsWith("ID3")) {
        const auto b = reinterpret_cast<const unsigned char*>(head.constData());
        const qint64 tag = 10 +
                           ((qint64(b[6] & 0x7F) << 21) | (qint64(b[7] & 0x7F) << 14) |
                            (qint64(b[8] & 0x7F) << 7) | qint64(b[9] & 0x7F)) +
                           ((b[5] & 0x10) ? 10 : 0);
        if (f.seek(tag))
            head = f.read(4096);
    }
    const auto* row = formats::recognise(reinterpret_cast<const unsigned char*>(head.constData()),
                                         std::size_t(head.size()));
    if (!row)
        return {};
    if (row == &formats::wav())
        return {Kind::Wav, row};
    if (row->extension == nullptr || row->writer != formats::Writer::Encoder)
        return {Kind::Other, row};
    switch (row->format) {
    case formats::Format::Mp3:
        return {Kind::Mp3, row};
    case formats::Format::M4a:
    case formats::Format::M4r:
        return {Kind::M4a, row};
    case formats::Format::Flac:
        return {Kind::Flac, row};
    default:
        return {Kind::Other, row};
    }
}

// Whether the target kind is written with the song kind's codec.
bool sameCodec(Kind song, const formats::FileFormat& target) {
    if (&target == &formats::wav())
        return song == Kind::Wav;
    if (target.writer != formats::Writer::Encoder)
        return false;
    switch (target.format) {
    case formats::Format::Mp3:
        return song == Kind::Mp3;
    case formats::Format::M4a:
    case formats::Format::M4r:
        return song == Kind::M4a;
    case formats::Format::Flac:
        return song == Kind::Flac;
    default:
        return false;
    }
}

Result<SongStream> probe(Kind kind, const QString& song) {
    switch (kind) {
    case Kind::Mp3:
        return internal::probeMp3(song);
    case Kind::M4a:
        return internal::probeM4a(song);
    case Kind::Flac:
        return internal::probeFlac(song);
    case Kind::Wav:
        return internal::probeWav(song);
    case Kind::Other:
        break;
    }
    return Error(song, QStringLiteral("not a kind whose frames are kept"));
}

QString rateWords(int rate, int channels) {
    return QStringLiteral("%1 kHz %2")
        .arg(rate / 1000.0, 0, 'g', 4)
        .arg(channels == 1   ? QStringLiteral("mono")
             : channels == 2 ? QStringLiteral("stereo")
                             : QStringLiteral("%1 channels").arg(channels));
}

// What the output asks that the song's own stream does not give; empty when nothing.
QString mismatch(const SongStream& s, const ClipOutput& output) {
    const encode::Settings& asked = output.settings;
    if ((asked.sampleRate != 0 && asked.sampleRate != s.sampleRate) ||
        (asked.channels != 0 && asked.channels != s.channels)) {
        const QString wanted = rateWords(asked.sampleRate ? asked.sampleRate : s.sampleRate,
                                         asked.channels ? asked.channels : s.channels);
        return QStringLiteral("the clip is to be %1, the song is %2")
            .arg(wanted, rateWords(s.sampleRate, s.channels));
    }
    const encode::Preset* p = output.preset;
    if (p && p->keepKbpsHigh > 0 && s.kbps > 0 &&
        (s.kbps < p->keepKbpsLow || s.kbps > p->keepKbpsHigh))
        return QStringLiteral("the song's %1 kbit/s is not what the preset \"%2\" takes (%3 to "
                              "%4 kbit/s)")
            .arg(s.kbps)
            .arg(QLatin1String(p->name))
            .arg(p->keepKbpsLow)
            .arg(p->keepKbpsHigh);
    return {};
}

struct Checked {
    Kind kind = Kind::Other;
    SongStream stream;
};

Result<Checked> check(const QString& song, const ClipOutput& output) {
    if (!output.kind)
        return cannotKeep(song, QStringLiteral("no output kind was chosen"));
    const SongKind k = songKind(song);
    if (!sameCodec(k.kind, *output.kind)) {
        const QString songWords =
            k.row ? formats::kindName(*k.row) : QStringLiteral("of a kind not written");
        return cannotKeep(song, QStringLiteral("the song is %1, not %2")
                                    .arg(songWords, QLatin1String(output.kind->word)));
    }
    const Result<SongStream> s = probe(k.kind, song);
    if (!s)
        return cannotKeep(song, s.error().cause());
    if (!s->whyNot.isEmpty())
        return cannotKeep(song, s->whyNot);
    if (const QString why = mismatch(*s, output); !why.isEmpty())
        return cannotKeep(song, why);
    return Checked{k.kind, *s};
}

} // namespace

Status canKeep(const QString& song, const ClipOutput& output) {
    const Result<Checked> c = check(song, output);
    if (!c)
        return c.error();
    return {};
}

Result<KeptSound> keptSound(const QString& song, const ClipOutput& output) {
    const Result<Checked> c = check(song, output);
    if (!c)
        return c.error();
    return KeptSound{c->stream.sampleRate, c->stream.frames};
}

bool sameCodec(const QString& song, const formats::FileFormat& kind) {
    return sameCodec(songKind(song).kind, kind);
}

Status copyClip(const QString& song, std::uint64_t in, std::uint64_t out, const QString& target,
                const ClipOutput& output, const ClipTags& tags, const WorkProgress& work) {
    const Result<Checked> c = check(song, output);
    if (!c)
        return c.error();
    if (in >= out)
        return Error(song, QStringLiteral("the clip holds no sound")).during(CopyStep::Read);
    AtomicFile file(target);
    if (Status s = file.open(); !s)
        return s.error().during(CopyStep::Write);
    ClipTags clipTags = tags;
    Status copied;
    std::optional<TagKind> tagKind;
    switch (c->kind) {
    case Kind::Mp3:
        copied = internal::copyMp3(song, in, out, file, work);
        tagKind = TagKind::Id3v2;
        break;
    case Kind::M4a: {
        AacGapless gapless;
        copied = internal::copyM4a(song, in, out, file, work, &gapless);
        clipTags.gapless = gapless;
        tagKind = TagKind::Mp4;
        break;
    }
    case Kind::Flac:
        copied = internal::copyFlac(song, in, out, file, work);
        tagKind = TagKind::Flac;
        break;
    case Kind::Wav: // a WAV clip is the sample bytes alone, as every WAV the program writes
        copied = internal::copyWav(song, in, out, file, work);
        break;
    case Kind::Other:
        return cannotKeep(song, QStringLiteral("not a kind whose frames are kept"));
    }
    if (!copied)
        return copied;
    if (work.stopped())
        return Error(target, QStringLiteral("cancelled")).during(CopyStep::Cancel);
    if (tagKind)
        if (Status s = writeClipTags(file, *tagKind, clipTags); !s)
            return s.error().during(CopyStep::Write);
    if (Status s = file.commit(); !s)
        return s.error().during(CopyStep::Write);
    return {};
}

QString keptWords() {
    return QStringLiteral("Keeps the song's own sound: no re-encoding");
}

} // namespace quaverly::framecopy
