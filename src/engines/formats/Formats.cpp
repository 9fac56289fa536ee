#include "engines/formats/Formats.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace quaverly::formats {

namespace {

using namespace std::string_view_literals;

// How each kind's files begin. The Ogg kinds are told apart by their first packet, which starts
// after the 28 bytes of the first page's header.
constexpr Sign kWavSigns[] = {{{0, "RIFF"}, {8, "WAVE"}}};
// A frame sync whose layer bits are not 00 (those mark ADTS, below), or the MPEG 2.5 sync that
// ADTS never has.
constexpr Sign kMpegSigns[] = {{{0, "\xFF\xE2"sv, "\xFF\xE6"sv}},
                               {{0, "\xFF\xE4"sv, "\xFF\xE6"sv}},
                               {{0, "\xFF\xE6"sv, "\xFF\xE6"sv}},
                               {{0, "\xFF\xE0"sv, "\xFF\xF6"sv}}};
constexpr Sign kFlacSigns[] = {{{0, "fLaC"}}};
constexpr Sign kVorbisSigns[] = {{{0, "OggS"}, {28, "\x01vorbis"}}};
constexpr Sign kOpusSigns[] = {{{0, "OggS"}, {28, "OpusHead"}}};
constexpr Sign kOggFlacSigns[] = {{{0, "OggS"}, {28, "\177FLAC"}}};
constexpr Sign kSpeexSigns[] = {{{0, "OggS"}, {28, "Speex   "}}};
constexpr Sign kMp4Signs[] = {{{4, "ftyp"}}};
constexpr Sign kAdtsSigns[] = {{{0, "\xFF\xF0"sv, "\xFF\xF6"sv}}};
constexpr Sign kAiffSigns[] = {{{0, "FORM"}, {8, "AIFF"}}, {{0, "FORM"}, {8, "AIFC"}}};
constexpr Sign kCafSigns[] = {{{0, "caff"}}};
constexpr Sign kWave64Signs[] = {{{0, "RF64"}, {8, "WAVE"}}, {{0, "riff\x2e\x91\xcf\x11"sv}}};
constexpr Sign kAsfSigns[] = {{{0, "\x30\x26\xb2\x75\x8e\x66\xcf\x11"sv}}};
constexpr Sign kWavPackSigns[] = {{{0, "wvpk"}}};
constexpr Sign kApeSigns[] = {{{0, "MAC "}}};
constexpr Sign kAuSigns[] = {{{0, ".snd"}}};
constexpr Sign kMatroskaSigns[] = {{{0, "\x1a\x45\xdf\xa3"sv}}};
// Any other Ogg stream: a video's (Theora with its sound), which FFmpeg reads.
constexpr Sign kOggSigns[] = {{{0, "OggS"}}};
constexpr Sign kAmrSigns[] = {{{0, "#!AMR"}}};

constexpr std::array<int, 6> kMp3Offered{56, 96, 128, 192, 256, 320};
constexpr std::array<int, 6> kAacOffered{96, 128, 160, 192, 256, 320};
constexpr std::array<int, 11> kVorbisOffered{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<int, 8> kOpusOffered{32, 48, 64, 96, 128, 160, 192, 256};
constexpr std::array<int, 9> kFlacOffered{0, 1, 2, 3, 4, 5, 6, 7, 8};

// Each listed kind is read by the song reader (tests/app/AddEveryKindTest.cpp adds a file of
// each). The listed kinds come first; Ogg Vorbis comes before the other Ogg kinds, whose last
// sign takes any Ogg stream.
constexpr FileFormat kFormats[] = {
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "WAV"),
     .patterns = "*.wav",
     .reader = Reader::Sndfile,
     .signs = kWavSigns,
     .writer = Writer::Pcm,
     .extension = "wav",
     .word = "WAV",
     .name = "WAV"},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "MP3 and MPEG audio"),
     .patterns = "*.mp3 *.mp2 *.mp1",
     .reader = Reader::Mpeg,
     .signs = kMpegSigns,
     .writer = Writer::Encoder,
     .extension = "mp3",
     .word = "MP3",
     .format = Format::Mp3,
     .name = "MP3",
     .codec = "mp3",
     .setting = Setting::BitRate,
     .defaultValue = 192,
     .offered = kMp3Offered,
     .lossy = true},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "FLAC"),
     .patterns = "*.flac",
     .reader = Reader::Sndfile,
     .signs = kFlacSigns,
     .writer = Writer::Encoder,
     .extension = "flac",
     .word = "FLAC",
     .format = Format::Flac,
     .name = "FLAC",
     .codec = "flac",
     .setting = Setting::Level,
     .defaultValue = 5,
     .offered = kFlacOffered,
     .lossy = false},
    // Through libvorbis, whose length follows the granule positions to the frame (FFmpeg 5.1
    // drops the last 128 frames of some).
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Ogg Vorbis"),
     .patterns = "*.ogg *.oga",
     .reader = Reader::Sndfile,
     .signs = kVorbisSigns,
     .writer = Writer::Encoder,
     .extension = "ogg",
     .alias = "oga",
     .word = "Ogg",
     .format = Format::Vorbis,
     .name = "Ogg Vorbis",
     .codec = "vorbis",
     .setting = Setting::Quality,
     .defaultValue = 6,
     .offered = kVorbisOffered,
     .lossy = true},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Opus"),
     .patterns = "*.opus",
     .signs = kOpusSigns,
     .writer = Writer::Encoder,
     .extension = "opus",
     .word = "Opus",
     .format = Format::Opus,
     .name = "Opus",
     .codec = "opus",
     .setting = Setting::BitRate,
     .defaultValue = 128,
     .offered = kOpusOffered,
     .lossy = true},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Ogg FLAC"),
     .patterns = "*.oga *.ogg",
     .signs = kOggFlacSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Speex"),
     .patterns = "*.spx",
     .signs = kSpeexSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "MPEG-4 audio"),
     .patterns = "*.m4a *.m4b *.m4r *.mp4",
     .signs = kMp4Signs,
     .writer = Writer::Encoder,
     .extension = "m4a",
     .word = "M4A",
     .format = Format::M4a,
     .name = "M4A (AAC)",
     .codec = "aac",
     .setting = Setting::BitRate,
     .defaultValue = 256,
     .offered = kAacOffered,
     .lossy = true},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "AAC"), .patterns = "*.aac", .signs = kAdtsSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "AIFF"),
     .patterns = "*.aif *.aiff *.aifc",
     .reader = Reader::Sndfile,
     .signs = kAiffSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "CAF"),
     .patterns = "*.caf",
     .reader = Reader::Sndfile,
     .signs = kCafSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Wave64 and RF64"),
     .patterns = "*.w64 *.rf64",
     .reader = Reader::Sndfile,
     .signs = kWave64Signs},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Windows Media Audio"),
     .patterns = "*.wma *.asf",
     .signs = kAsfSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "WavPack"),
     .patterns = "*.wv",
     .signs = kWavPackSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Monkey's Audio"),
     .patterns = "*.ape",
     .signs = kApeSigns},
    // Found by trying the readers.
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Musepack"), .patterns = "*.mpc"},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "AC-3 and E-AC-3"), .patterns = "*.ac3 *.eac3"},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Sun AU"),
     .patterns = "*.au *.snd",
     .signs = kAuSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Matroska and WebM audio"),
     .patterns = "*.mka *.webm",
     .signs = kMatroskaSigns},
    {.kindName = QT_TRANSLATE_NOOP("SongFormats", "Video sound"),
     .patterns = "*.mp4 *.m4v *.mov *.mkv *.avi",
     .signs = kOggSigns},
    // Written as an iPhone ringtone; read as MPEG-4 audio, above.
    {.writer = Writer::Encoder,
     .extension = "m4r",
     .word = "M4R",
     .format = Format::M4r,
     .name = "M4R ringtone (AAC)",
     .codec = "aac",
     .setting = Setting::BitRate,
     .defaultValue = 256,
     .offered = kAacOffered,
     .lossy = true},
    // Read, not listed.
    {.signs = kAmrSigns},
};

constexpr std::size_t kListed =
    std::size_t(std::ranges::count_if(kFormats, [](const FileFormat& f) { return f.kindName; }));
static_assert(std::ranges::all_of(std::span(kFormats).first(kListed),
                                  [](const FileFormat& f) { return f.kindName && f.patterns; }),
              "the listed kinds come first");

constexpr std::size_t kFormatCount = std::size_t(Format::Flac) + 1;
constexpr std::array<const FileFormat*, kFormatCount> kEncoded = [] {
    std::array<const FileFormat*, kFormatCount> list{};
    for (const FileFormat& f : kFormats)
        if (f.writer == Writer::Encoder)
            list[std::size_t(f.format)] = &f;
    return list;
}();
static_assert(std::size_t(std::ranges::count(kFormats, Writer::Encoder, &FileFormat::writer)) ==
                      kFormatCount &&
                  std::ranges::none_of(kEncoded, [](const FileFormat* f) { return !f; }),
              "each encoded format has one row");
static_assert(std::ranges::count(kFormats, Writer::Pcm, &FileFormat::writer) == 1 &&
                  kFormats[0].writer == Writer::Pcm,
              "WAV comes first");

bool holds(const Mark& mark, const unsigned char* head, std::size_t size) {
    if (size < mark.at + mark.value.size())
        return false;
    for (std::size_t i = 0; i < mark.value.size(); ++i) {
        const auto mask = i < mark.mask.size() ? static_cast<unsigned char>(mark.mask[i]) : 0xFF;
        if ((head[mark.at + i] & mask) != static_cast<unsigned char>(mark.value[i]))
            return false;
    }
    return true;
}

} // namespace

std::span<const FileFormat> all() {
    return kFormats;
}

std::span<const FileFormat> listed() {
    return std::span(kFormats).first(kListed);
}

std::span<const FileFormat* const> encoded() {
    return kEncoded;
}

const FileFormat& info(Format format) {
    return *kEncoded[std::size_t(format)];
}

const FileFormat& wav() {
    return kFormats[0];
}

const FileFormat* recognise(const unsigned char* head, std::size_t size) {
    for (const FileFormat& f : kFormats)
        for (const Sign& sign : f.signs)
            if (holds(sign.first, head, size) && holds(sign.second, head, size))
                return &f;
    return nullptr;
}

const FileFormat* writtenFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    for (const FileFormat& f : kFormats) {
        if (f.writer == Writer::None)
            continue;
        for (const char* extension : {f.extension, f.alias})
            if (extension && suffix.compare(QLatin1String(extension), Qt::CaseInsensitive) == 0)
                return &f;
    }
    return nullptr;
}

std::optional<Format> formatForPath(const QString& path) {
    const FileFormat* f = writtenFor(path);
    if (!f || f->writer != Writer::Encoder)
        return std::nullopt;
    return f->format;
}

bool isWav(const QString& path) {
    const FileFormat* f = writtenFor(path);
    return f && f->writer == Writer::Pcm;
}

QString writtenPatterns(const FileFormat& kind) {
    QString patterns = QStringLiteral("*.") + QLatin1String(kind.extension);
    if (kind.alias)
        patterns += QStringLiteral(" *.") + QLatin1String(kind.alias);
    return patterns;
}

QString dialogFilter(const FileFormat& kind, const QString& label) {
    const QString name = label.isEmpty() ? QString::fromLatin1(kind.name) : label;
    return QStringLiteral("%1 (%2)").arg(name, writtenPatterns(kind));
}

QString kindName(const FileFormat& kind) {
    return QCoreApplication::translate("SongFormats", kind.kindName);
}

QStringList kindPatterns(const FileFormat& kind) {
    return QString::fromLatin1(kind.patterns).split(u' ');
}

QStringList readPatterns() {
    QStringList all;
    for (const FileFormat& kind : listed())
        for (const QString& pattern : kindPatterns(kind))
            if (!all.contains(pattern))
                all << pattern;
    return all;
}

QString kindNames(qsizetype lineWidth) {
    QString text;
    qsizetype lineStart = 0;
    for (const FileFormat& kind : listed()) {
        const QString name = kindName(kind);
        if (!text.isEmpty()) {
            text += u',';
            // The name and the comma that may follow it must fit.
            const bool full =
                lineWidth > 0 && text.size() + name.size() + 2 - lineStart > lineWidth;
            text += full ? u'\n' : u' ';
            if (full)
                lineStart = text.size();
        }
        text += name;
    }
    return text;
}

} // namespace quaverly::formats
