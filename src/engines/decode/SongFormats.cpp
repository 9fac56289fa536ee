#include "engines/decode/SongFormats.h"

#include <QCoreApplication>

namespace quaverly {

namespace {

// Each kind is read by the song reader (tests/app/AddEveryKindTest.cpp adds a file of each).
constexpr SongFileKind kKinds[] = {
    {QT_TRANSLATE_NOOP("SongFormats", "WAV"), "*.wav"},
    {QT_TRANSLATE_NOOP("SongFormats", "MP3 and MPEG audio"), "*.mp3 *.mp2 *.mp1"},
    {QT_TRANSLATE_NOOP("SongFormats", "FLAC"), "*.flac"},
    {QT_TRANSLATE_NOOP("SongFormats", "Ogg Vorbis"), "*.ogg *.oga"},
    {QT_TRANSLATE_NOOP("SongFormats", "Opus"), "*.opus"},
    {QT_TRANSLATE_NOOP("SongFormats", "Ogg FLAC"), "*.oga *.ogg"},
    {QT_TRANSLATE_NOOP("SongFormats", "Speex"), "*.spx"},
    {QT_TRANSLATE_NOOP("SongFormats", "MPEG-4 audio"), "*.m4a *.m4b *.m4r *.mp4"},
    {QT_TRANSLATE_NOOP("SongFormats", "AAC"), "*.aac"},
    {QT_TRANSLATE_NOOP("SongFormats", "AIFF"), "*.aif *.aiff *.aifc"},
    {QT_TRANSLATE_NOOP("SongFormats", "CAF"), "*.caf"},
    {QT_TRANSLATE_NOOP("SongFormats", "Wave64 and RF64"), "*.w64 *.rf64"},
    {QT_TRANSLATE_NOOP("SongFormats", "Windows Media Audio"), "*.wma *.asf"},
    {QT_TRANSLATE_NOOP("SongFormats", "WavPack"), "*.wv"},
    {QT_TRANSLATE_NOOP("SongFormats", "Monkey's Audio"), "*.ape"},
    {QT_TRANSLATE_NOOP("SongFormats", "Musepack"), "*.mpc"},
    {QT_TRANSLATE_NOOP("SongFormats", "AC-3 and E-AC-3"), "*.ac3 *.eac3"},
    {QT_TRANSLATE_NOOP("SongFormats", "Sun AU"), "*.au *.snd"},
    {QT_TRANSLATE_NOOP("SongFormats", "Matroska and WebM audio"), "*.mka *.webm"},
    {QT_TRANSLATE_NOOP("SongFormats", "Video sound"), "*.mp4 *.m4v *.mov *.mkv *.avi"},
};

} // namespace

std::span<const SongFileKind> songFileKinds() {
    return kKinds;
}

QString songKindName(const SongFileKind& kind) {
    return QCoreApplication::translate("SongFormats", kind.name);
}

QStringList songKindPatterns(const SongFileKind& kind) {
    return QString::fromLatin1(kind.patterns).split(u' ');
}

QStringList songFilePatterns() {
    QStringList all;
    for (const SongFileKind& kind : kKinds)
        for (const QString& pattern : songKindPatterns(kind))
            if (!all.contains(pattern))
                all << pattern;
    return all;
}

QString songKindNames(qsizetype lineWidth) {
    QString text;
    qsizetype lineStart = 0;
    for (const SongFileKind& kind : kKinds) {
        const QString name = songKindName(kind);
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

} // namespace quaverly
