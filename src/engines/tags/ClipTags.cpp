#include "engines/tags/ClipTags.h"

#include "engines/tags/SongTags.h"
#include "engines/util/AtomicFile.h"

#include <QFileInfo>

namespace quaverly {

// Placeholder until the tag writer lands: the title, artist and album only; nothing written.
ClipTags clipTagsFrom(const QString& songPath) {
    const SongTags song = readSongTags(songPath);
    ClipTags tags;
    tags.title = song.title.isEmpty() ? QFileInfo(songPath).completeBaseName() : song.title;
    tags.artist = song.artist;
    tags.album = song.album;
    return tags;
}

Status writeClipTags(AtomicFile&, TagKind, const ClipTags&) {
    return {};
}

} // namespace quaverly
