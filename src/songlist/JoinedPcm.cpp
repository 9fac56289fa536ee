#include "songlist/JoinedPcm.h"

#include <algorithm>

namespace quaverly {
namespace {

// libsndfile's scale for reading PCM as float: 1 / 2^(bits - 1), exact in a float.
constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale8 = 1.0f / 128.0f;

} // namespace

std::optional<QString> JoinedPcm::open(const QStringList& songs, const QStringList& names) {
    songs_ = songs;
    names_ = names;
    return songFailed(join_.open(songs, names));
}

bool JoinedPcm::rewind() {
    block_ = {};
    used_ = 0;
    carry_ = -1;
    ended_ = false;
    return !open(songs_, names_).has_value();
}

std::optional<QString> JoinedPcm::songFailed(std::optional<QString> failure) {
    if (failure && songFailed_)
        songFailed_->store(true);
    return failure;
}

std::optional<QString> JoinedPcm::read(float* dst, std::size_t frames, std::size_t* got) {
    *got = 0;
    const std::size_t channels = join_.format().channels;
    const bool eightBit = join_.format().bitsPerSample == 8;
    const std::size_t want = frames * channels;
    std::size_t filled = 0;
    while (filled < want && !ended_) {
        if (used_ == block_.size()) {
            if (auto err = join_.next(&block_))
                return songFailed(std::move(err));
            used_ = 0;
            ended_ = block_.empty();
            continue;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(block_.data()) + used_;
        const std::size_t left = block_.size() - used_;
        if (eightBit) {
            const std::size_t n = std::min(left, want - filled);
            for (std::size_t i = 0; i < n; ++i)
                dst[filled + i] = float(int(bytes[i]) - 128) * kScale8;
            used_ += n;
            filled += n;
        } else if (carry_ >= 0) {
            dst[filled++] = float(std::int16_t(carry_ | bytes[0] << 8)) * kScale16;
            carry_ = -1;
            used_ += 1;
        } else if (left == 1) {
            carry_ = bytes[0];
            used_ += 1;
        } else {
            const std::size_t n = std::min(left / 2, want - filled);
            for (std::size_t i = 0; i < n; ++i)
                dst[filled + i] =
                    float(std::int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8)) * kScale16;
            used_ += 2 * n;
            filled += n;
        }
    }
    // A frame cut short at the very end is dropped, as a reader of the joined file drops it.
    *got = filled / channels;
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
