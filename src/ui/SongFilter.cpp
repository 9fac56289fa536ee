#include "ui/SongFilter.h"

#include <QCoreApplication>
#include <QStringList>

namespace quaverly {

namespace {

struct Kind {
    const char* name;
    const char* extensions;
};

// The kinds of file the song reader reads, by the names they usually have; the first entry
// gathers them all, in this order.
constexpr Kind kKinds[] = {
    {QT_TRANSLATE_NOOP("SongFilter", "WAV"), "*.wav"},
    {QT_TRANSLATE_NOOP("SongFilter", "MP3 and MPEG audio"), "*.mp3 *.mp2 *.mp1"},
    {QT_TRANSLATE_NOOP("SongFilter", "FLAC"), "*.flac"},
    {QT_TRANSLATE_NOOP("SongFilter", "Ogg Vorbis"), "*.ogg *.oga"},
    {QT_TRANSLATE_NOOP("SongFilter", "Opus"), "*.opus"},
    {QT_TRANSLATE_NOOP("SongFilter", "MPEG-4 audio"), "*.m4a *.m4b *.mp4"},
    {QT_TRANSLATE_NOOP("SongFilter", "AAC"), "*.aac"},
    {QT_TRANSLATE_NOOP("SongFilter", "AIFF"), "*.aif *.aiff *.aifc"},
    {QT_TRANSLATE_NOOP("SongFilter", "CAF"), "*.caf"},
    {QT_TRANSLATE_NOOP("SongFilter", "Wave64 and RF64"), "*.w64 *.rf64"},
    {QT_TRANSLATE_NOOP("SongFilter", "Windows Media Audio"), "*.wma"},
    {QT_TRANSLATE_NOOP("SongFilter", "Matroska and WebM audio"), "*.mka *.webm"},
    {QT_TRANSLATE_NOOP("SongFilter", "Video"), "*.mp4 *.mov *.mkv *.avi *.webm"},
};

QString tr(const char* text) {
    return QCoreApplication::translate("SongFilter", text);
}

} // namespace

QString songFileFilter() {
    QStringList all;
    QStringList entries;
    for (const Kind& kind : kKinds) {
        const QString extensions = QLatin1String(kind.extensions);
        for (const QString& e : extensions.split(u' '))
            if (!all.contains(e))
                all << e;
        entries << QStringLiteral("%1 (%2)").arg(tr(kind.name), extensions);
    }
    entries.prepend(tr("All supported files (%1)").arg(all.join(u' ')));
    entries << tr("All files (*)");
    return entries.join(QStringLiteral(";;"));
}

} // namespace quaverly
