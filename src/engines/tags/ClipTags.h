#pragma once
// The tags a written clip carries, and their writing with TagLib into a file that is still being
// written (under its temporary name, before AtomicFile::commit()), so a clip is never seen
// without them and a failure leaves the target as it was.
//
// Each format gets its own kind of tag: ID3v2.4 for MP3, MP4 items for M4A/M4R, Vorbis comments
// for Ogg Vorbis, Opus and FLAC (with the picture as a METADATA_BLOCK_PICTURE / FLAC picture).
//
// Threads: no shared state; any number of calls may run at once on different files.

#include "engines/util/Error.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace quaverly {

class AtomicFile;

// The gapless facts of an AAC stream, written into an MP4 file as its iTunSMPB item (players
// that ignore the edit list trim by it).
struct AacGapless {
    int delay = 0;           // priming samples before the first sample of the sound
    int padding = 0;         // samples after its last one, up to the end of the last frame
    std::int64_t frames = 0; // sample frames of the sound itself
};

struct ClipTags {
    QString title; // empty: none written
    QString artist;
    QString album;
    QString genre;                     // "Ringtone" for the ringtone presets; empty: none
    QByteArray cover;                  // the picture's bytes as the source held them; empty: none
    QString coverMime;                 // "image/jpeg" or "image/png"
    bool androidLoop = false;          // Ogg: ANDROID_LOOP=true (Android loops the ringtone)
    std::optional<AacGapless> gapless; // MP4 only: the iTunSMPB item
};

// The title, artist, album and cover picture of a song file (by its content, as readSongTags),
// for a clip made from it. The title falls back to the file's name without its extension.
// Reading tags never fails: what cannot be read stays empty.
ClipTags clipTagsFrom(const QString& songPath);

// Which tag a file gets, by its container.
enum class TagKind { Id3v2, Mp4, Ogg, Flac };

// The Vorbis comment fields writeClipTags gives an Ogg Vorbis or Opus stream, each "KEY=value"
// in UTF-8 (the cover as METADATA_BLOCK_PICTURE), for the encoders to put in the stream's comment
// header as they write it: the stream then needs no writeClipTags, which would move every page
// after the header to make room. Empty when the tags say nothing.
std::vector<QByteArray> oggCommentFields(const ClipTags& tags);

// Writes `tags` into the complete, not yet committed file of `out` (its buffered bytes are
// written out first). A failure names out.target() and says why; the caller then drops the file.
Status writeClipTags(AtomicFile& out, TagKind kind, const ClipTags& tags);

} // namespace quaverly
