#include "songlist/JoinedSongs.h"

#include "engines/util/Resampler.h"
#include "engines/wav/SampleReader.h"

#include <algorithm>
#include <optional>

namespace quaverly {

// Gives one song's sample bytes in the joined format, from its open reader; a failure's Error
// names the song's file, which JoinedSongs replaces with the name the caller gave.
class JoinedSongs::Song {
public:
    explicit Song(SampleReader reader) : in_(std::move(reader)) {}
    virtual ~Song() = default;
    // An empty block at the end of the song.
    virtual Status next(std::span<const char>* block) = 0;

protected:
    SampleReader in_;
};

namespace {

constexpr std::size_t kCopyBlock = 1 << 20;   // bytes per read when a song is taken as it is
constexpr std::size_t kConvertFrames = 16384; // frames per read when a song is converted

// A song in the joined format: its sample bytes, read straight from the file.
class AsIsSong final : public JoinedSongs::Song {
public:
    explicit AsIsSong(SampleReader reader)
        : Song(std::move(reader)), frames_(kCopyBlock / in_.layout().blockAlign) {
        const auto song = std::size_t(in_.frames());
        buffer_.resize(std::min(frames_, song) * in_.layout().blockAlign);
    }

    Status next(std::span<const char>* block) override {
        const auto got = in_.readRaw(buffer_.data(), frames_);
        if (!got)
            return got.error();
        *block = std::span<const char>(buffer_.data(), *got * in_.layout().blockAlign);
        return {};
    }

private:
    std::size_t frames_; // per block
    std::vector<char> buffer_;
};

// Any other song: its 16-bit frames with the channels mapped, the rate resampled and the samples
// stored at the joined sample size. Each call to next() does one step of the work (a read, or
// one pass of the resampler) and gives what that step made, so the resampler sees the same calls
// whatever the caller does with the blocks.
class ConvertedSong final : public JoinedSongs::Song {
public:
    ConvertedSong(SampleReader reader, const WavHeader& target)
        : Song(std::move(reader)), target_(target) {}

    Status start() {
        if (in_.channels() < 1 || in_.channels() > 2 || in_.sampleRate() == 0)
            return Error(in_.path(), QStringLiteral("unsupported WAV: %1 channels (only mono and "
                                                    "stereo are joined)")
                                         .arg(in_.channels()));
        inCh_ = in_.channels();
        outCh_ = target_.channels;
        if (in_.sampleRate() != target_.sampleRate) {
            // The resampler adds no dither, so the same songs join into the same bytes on
            // every save.
            resampler_.emplace();
            if (Status s = resampler_->open(int(in_.sampleRate()), int(target_.sampleRate), outCh_,
                                            Resampler::Samples::Short);
                !s)
                return resamplerFailed(s.error());
        }
        const double ratio = double(target_.sampleRate) / double(in_.sampleRate());
        outFramesCap_ = static_cast<std::size_t>(double(kConvertFrames) * ratio) + 64;
        raw_.resize(kConvertFrames * std::size_t(inCh_));
        mapped_.resize(kConvertFrames * std::size_t(outCh_));
        resampled_.resize(outFramesCap_ * std::size_t(outCh_));
        bytes_.resize(outFramesCap_ * std::size_t(outCh_) * 2);
        return {};
    }

    Status next(std::span<const char>* block) override {
        *block = {};
        for (;;) {
            if (ended_)
                return {};
            if (!resampler_) {
                std::size_t frames = 0;
                if (Status s = read(&frames); !s)
                    return s;
                ended_ = frames == 0;
                if (frames > 0) {
                    *block = store(mapped_.data(), frames);
                    return {};
                }
                continue;
            }
            if (!pending_) {
                if (Status s = read(&frames_); !s)
                    return s;
                consumed_ = 0;
                pending_ = true;
            }
            // An empty read (the end of the song) asks the resampler for what it still holds,
            // until it gives nothing more.
            const bool flushing = frames_ == 0;
            const auto pass =
                resampler_->pass(flushing ? nullptr : mapped_.data() + consumed_ * outCh_,
                                 frames_ - consumed_, resampled_.data(), outFramesCap_);
            if (!pass)
                return resamplerFailed(pass.error());
            const std::size_t produced = pass->made;
            consumed_ += pass->used;
            if (flushing)
                ended_ = produced == 0;
            else
                pending_ = consumed_ < frames_;
            if (produced > 0) {
                *block = store(resampled_.data(), produced);
                return {};
            }
        }
    }

private:
    Error resamplerFailed(const Error& e) const {
        return Error(in_.path(), QStringLiteral("resampler: %1").arg(e.cause()));
    }

    // Reads the next frames and maps them to the joined channels; 0 frames at the end.
    Status read(std::size_t* frames) {
        const auto got = in_.readShorts(raw_.data(), kConvertFrames);
        if (!got)
            return got.error();
        *frames = *got;
        for (std::size_t f = 0; f < *frames; ++f) {
            if (inCh_ == outCh_) {
                for (int c = 0; c < outCh_; ++c)
                    mapped_[f * outCh_ + c] = raw_[f * inCh_ + c];
            } else if (outCh_ == 1) { // stereo to mono: the mean of both sides
                mapped_[f] = static_cast<short>((int(raw_[2 * f]) + int(raw_[2 * f + 1])) / 2);
            } else { // mono to stereo: the same sound on both sides
                mapped_[2 * f] = mapped_[2 * f + 1] = raw_[f];
            }
        }
        return {};
    }

    // 16-bit samples as the joined format's bytes.
    std::span<const char> store(const std::int16_t* samples, std::size_t frames) {
        const std::size_t n = frames * std::size_t(outCh_);
        pcm::fromShorts(samples, n, target_.bitsPerSample, bytes_.data());
        return {bytes_.data(), n * target_.bitsPerSample / 8};
    }

    const WavHeader target_;
    std::optional<Resampler> resampler_;
    int inCh_ = 1;
    int outCh_ = 1;
    std::size_t outFramesCap_ = 0;
    std::vector<std::int16_t> raw_, mapped_, resampled_;
    std::vector<char> bytes_;
    std::size_t frames_ = 0;   // frames of the last read, the resampler's input
    std::size_t consumed_ = 0; // of which the resampler took these
    bool pending_ = false;     // the resampler has not taken all of the last read yet
    bool ended_ = false;
};

QString fileName(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

} // namespace

JoinedSongs::JoinedSongs() = default;
JoinedSongs::~JoinedSongs() = default;

Error JoinedSongs::failure(std::size_t song, const Error& error) const {
    return error.about(names_[qsizetype(song)]);
}

Status JoinedSongs::open(const QStringList& songs, const QStringList& names) {
    if (songs.isEmpty())
        return Error(QString(), QStringLiteral("The song list is empty."));
    paths_ = songs;
    names_ = names;
    if (names_.size() != paths_.size()) {
        names_.clear();
        for (const QString& song : songs)
            names_ << fileName(song);
    }
    layouts_.clear();
    layouts_.reserve(std::size_t(songs.size()));
    for (qsizetype i = 0; i < songs.size(); ++i) {
        auto layout = probeWav(songs[i]);
        if (!layout)
            return Error(names_[i], layout.error().cause());
        layouts_.push_back(*layout);
    }
    const WavLayout& first = layouts_.front();
    format_ = WavHeader::pcm(std::min<std::uint16_t>(first.channels, 2), first.sampleRate,
                             isPlainPcm(first) ? first.bitsPerSample : 16);
    nextSong_ = 0;
    song_.reset();
    failed_.reset();
    return {};
}

std::uint64_t JoinedSongs::expectedBytes() const {
    std::uint64_t bytes = 0;
    for (const WavLayout& l : layouts_) {
        if (l.blockAlign == 0 || l.sampleRate == 0)
            continue;
        const std::uint64_t frames = l.dataSize / l.blockAlign;
        const auto resampled = static_cast<std::uint64_t>(static_cast<long double>(frames) *
                                                          format_.sampleRate / l.sampleRate);
        bytes += resampled * format_.blockAlign;
    }
    return bytes;
}

Status JoinedSongs::next(std::span<const char>* block) {
    *block = {};
    if (failed_)
        return *failed_;
    Status s = advance(block);
    if (!s)
        failed_ = s.error();
    return s;
}

// Opens the song whose turn it is; its samples are taken as they are when it is plain PCM in
// the joined format.
Status JoinedSongs::advance(std::span<const char>* block) {
    for (;;) {
        if (!song_) {
            if (nextSong_ >= layouts_.size())
                return {};
            const std::size_t song = nextSong_++;
            auto reader = SampleReader::open(paths_[qsizetype(song)]);
            if (!reader)
                return failure(song, reader.error());
            const WavLayout& l = reader->layout();
            if (reader->plain() && l.channels == format_.channels &&
                l.sampleRate == format_.sampleRate && l.bitsPerSample == format_.bitsPerSample) {
                song_ = std::make_unique<AsIsSong>(std::move(*reader));
            } else {
                auto converted = std::make_unique<ConvertedSong>(std::move(*reader), format_);
                if (Status s = converted->start(); !s)
                    return failure(song, s.error());
                song_ = std::move(converted);
            }
        }
        if (Status s = song_->next(block); !s)
            return failure(nextSong_ - 1, s.error());
        if (!block->empty())
            return {};
        song_.reset(); // the song is done: its file closes
    }
}

} // namespace quaverly
