#include "engines/tags/SongTags.h"

#include "engines/tags/internal/SongTagFile.h"

namespace quaverly {

SongTags readSongTags(const QString& path) {
    const tags::SongTagFile song(path);
    return song.file() ? tags::songTagsOf(*song.file()) : SongTags{};
}

} // namespace quaverly
