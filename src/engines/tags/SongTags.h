#pragma once
// A song's title, artist and album from its tags, through TagLib: ID3v2 and ID3v1 (MP3, and
// WAV and AIFF files that carry an ID3 chunk), RIFF INFO (WAV), Vorbis comments (FLAC, Ogg
// Vorbis, Opus, Ogg FLAC), MP4 items (M4A, AAC, ALAC) and ASF attributes (WMA).
//
// The kind of file is found from its content, not its name, so a FLAC file named ".mp3" still
// gives its Vorbis comment; the name decides only for kinds the content test does not know.
//
// Tags are a nicety: a file without them, one TagLib cannot read, or anything but a regular file
// gives empty fields, never a failure. Any number of calls may run side by side, on any threads.

#include <QString>

namespace quaverly {

struct SongTags {
    // Without the spaces around them; empty when the file does not say.
    QString title;
    QString artist;
    QString album;
};

SongTags readSongTags(const QString& path);

} // namespace quaverly
