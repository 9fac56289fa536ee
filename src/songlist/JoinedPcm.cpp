#include "songlist/JoinedPcm.h"

#include "engines/wav/SampleReader.h"

#include <algorithm>

namespace quaverly {

Status JoinedPcm::open(const QStringList& songs, const QStringList& names) {
    songs_ = songs;
    names_ = names;
    return join_.open(songs, names);
}

bool JoinedPcm::rewind() {
    block_ = {};
    ended_ = false;
    return open(songs_, names_).ok();
}

Result<std::size_t> JoinedPcm::read(float* dst, std::size_t frames) {
    std::size_t got = 0;
    const int bits = join_.format().bitsPerSample;
    const std::size_t frameBytes = join_.format().blockAlign;
    const std::size_t channels = join_.format().channels;
    while (got < frames && !ended_) {
        if (block_.empty()) {
            if (Status s = join_.next(&block_); !s)
                return s.error();
            ended_ = block_.empty();
            continue;
        }
        // The blocks hold whole frames.
        const std::size_t n = std::min(block_.size() / frameBytes, frames - got);
        pcm::toFloats(block_.data(), n * channels, bits, dst + got * channels);
        block_ = block_.subspan(n * frameBytes);
        got += n;
    }
    return got;
}

encode::SourceFactory joinedSongsSource(QStringList songs, QStringList names) {
    return [songs = std::move(songs),
            names = std::move(names)]() -> Result<std::unique_ptr<mp3::PcmSource>> {
        auto source = std::make_unique<JoinedPcm>();
        if (Status opened = source->open(songs, names); !opened)
            return opened.error();
        return std::unique_ptr<mp3::PcmSource>(std::move(source));
    };
}

} // namespace quaverly
