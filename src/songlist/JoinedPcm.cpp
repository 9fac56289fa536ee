#include "songlist/JoinedPcm.h"

#include "engines/wav/SampleReader.h"

#include <algorithm>

namespace quaverly {

std::optional<QString> JoinedPcm::open(const QStringList& songs, const QStringList& names) {
    songs_ = songs;
    names_ = names;
    return songFailed(join_.open(songs, names));
}

bool JoinedPcm::rewind() {
    block_ = {};
    ended_ = false;
    return !open(songs_, names_).has_value();
}

std::optional<QString> JoinedPcm::songFailed(const Status& status) {
    if (status)
        return std::nullopt;
    if (songFailed_)
        songFailed_->store(true);
    return status.error().text();
}

std::optional<QString> JoinedPcm::read(float* dst, std::size_t frames, std::size_t* got) {
    *got = 0;
    const int bits = join_.format().bitsPerSample;
    const std::size_t frameBytes = join_.format().blockAlign;
    const std::size_t channels = join_.format().channels;
    while (*got < frames && !ended_) {
        if (block_.empty()) {
            if (Status s = join_.next(&block_); !s)
                return songFailed(s);
            ended_ = block_.empty();
            continue;
        }
        // The blocks hold whole frames.
        const std::size_t n = std::min(block_.size() / frameBytes, frames - *got);
        pcm::toFloats(block_.data(), n * channels, bits, dst + *got * channels);
        block_ = block_.subspan(n * frameBytes);
        *got += n;
    }
    return std::nullopt;
}

Mp3Encoder::SourceFactory joinedSongsSource(QStringList songs, QStringList names,
                                            SongFailedFlag songFailed) {
    return [songs = std::move(songs), names = std::move(names),
            songFailed = std::move(songFailed)](QString* error) -> std::unique_ptr<mp3::PcmSource> {
        auto source = std::make_unique<JoinedPcm>(songFailed);
        if (auto err = source->open(songs, names)) {
            *error = *err;
            return nullptr;
        }
        return source;
    };
}

} // namespace quaverly
