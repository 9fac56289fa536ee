#include "songlist/JoinedSongs.h"

#include "engines/util/Handles.h"
#include "engines/wav/SndfileReader.h"

#include <QFile>

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>

namespace quaverly {

// Gives one song's sample bytes in the joined format; `next` fails with the cause alone, which
// JoinedSongs prefixes with the song's name.
class JoinedSongs::Song {
public:
    virtual ~Song() = default;
    virtual std::optional<QString> open(const QString& path) = 0;
    // An empty block at the end of the song.
    virtual std::optional<QString> next(std::span<const char>* block) = 0;
};

namespace {

constexpr qint64 kCopyBlock = 1 << 20;       // bytes per read when a song is taken as it is
constexpr sf_count_t kConvertFrames = 16384; // frames per read when a song is converted

// A song in the joined format: its sample bytes, read straight from the file.
class AsIsSong final : public JoinedSongs::Song {
public:
    explicit AsIsSong(const WavLayout& layout)
        : left_(layout.dataSize), offset_(layout.dataOffset) {}

    std::optional<QString> open(const QString& path) override {
        file_.setFileName(path);
        if (!file_.open(QIODevice::ReadOnly) || !file_.seek(qint64(offset_)))
            return file_.errorString();
        buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left_, kCopyBlock)));
        return std::nullopt;
    }

    std::optional<QString> next(std::span<const char>* block) override {
        const qint64 want = qint64(std::min<std::uint64_t>(left_, kCopyBlock));
        const qint64 got = want > 0 ? file_.read(buffer_.data(), want) : 0;
        if (got != want)
            return got < 0 ? file_.errorString() : QStringLiteral("the file ended early");
        left_ -= std::uint64_t(got);
        *block = std::span<const char>(buffer_.data(), std::size_t(got));
        return std::nullopt;
    }

private:
    QFile file_;
    std::uint64_t left_;
    std::uint64_t offset_;
    std::vector<char> buffer_;
};

// Any WAV that libsndfile reads as 16-bit frames: the channels are mapped, the rate resampled
// and the samples stored at the joined sample size. Each call to next() does one step of the
// work (a read, or one pass of the resampler) and gives what that step made, so the resampler
// sees the same calls whatever the caller does with the blocks.
class ConvertedSong final : public JoinedSongs::Song {
public:
    explicit ConvertedSong(const WavHeader& target) : target_(target) {}

    std::optional<QString> open(const QString& path) override {
        if (in_.open(path) != SndfileReader::Opened::Ok)
            return in_.cause();
        const SF_INFO& info = in_.info();
        if (info.channels < 1 || info.channels > 2 || info.samplerate <= 0)
            return QStringLiteral("unsupported WAV: %1 channels (only mono and stereo are joined)")
                .arg(info.channels);
        inCh_ = info.channels;
        outCh_ = target_.channels;
        if (std::uint32_t(info.samplerate) != target_.sampleRate) {
            soxr_error_t e = nullptr;
            // Without dither: soxr seeds its dither from the clock, so the same songs would
            // join into different bytes on every save.
            soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
            io.flags |= SOXR_NO_DITHER;
            const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
            resampler_.reset(soxr_create(double(info.samplerate), double(target_.sampleRate),
                                         unsigned(outCh_), &e, &io, &q, nullptr));
            if (!resampler_ || e)
                return QStringLiteral("resampler: %1").arg(QString::fromUtf8(e ? e : "failed"));
        }
        const double ratio = double(target_.sampleRate) / double(info.samplerate);
        outFramesCap_ = static_cast<std::size_t>(double(kConvertFrames) * ratio) + 64;
        raw_.resize(static_cast<std::size_t>(kConvertFrames) * inCh_);
        mapped_.resize(static_cast<std::size_t>(kConvertFrames) * outCh_);
        resampled_.resize(outFramesCap_ * outCh_);
        bytes_.resize(outFramesCap_ * outCh_ * 2);
        return std::nullopt;
    }

    std::optional<QString> next(std::span<const char>* block) override {
        *block = {};
        for (;;) {
            if (ended_)
                return std::nullopt;
            if (!resampler_) {
                std::size_t frames = 0;
                if (auto err = read(&frames))
                    return err;
                ended_ = frames == 0;
                if (frames > 0) {
                    *block = store(mapped_.data(), frames);
                    return std::nullopt;
                }
                continue;
            }
            if (!pending_) {
                if (auto err = read(&frames_))
                    return err;
                consumed_ = 0;
                pending_ = true;
            }
            // An empty read (the end of the song) asks the resampler for what it still holds,
            // until it gives nothing more.
            const bool flushing = frames_ == 0;
            std::size_t done = 0, produced = 0;
            const soxr_error_t e = soxr_process(
                resampler_.get(), flushing ? nullptr : mapped_.data() + consumed_ * outCh_,
                frames_ - consumed_, &done, resampled_.data(), outFramesCap_, &produced);
            if (e)
                return QStringLiteral("resampler: %1").arg(QString::fromUtf8(e));
            consumed_ += done;
            if (flushing)
                ended_ = produced == 0;
            else
                pending_ = consumed_ < frames_;
            if (produced > 0) {
                *block = store(resampled_.data(), produced);
                return std::nullopt;
            }
        }
    }

private:
    // Reads the next frames and maps them to the joined channels; 0 frames at the end.
    std::optional<QString> read(std::size_t* frames) {
        const sf_count_t got = in_.readShorts(raw_.data(), kConvertFrames);
        if (got < 0)
            return in_.cause();
        *frames = static_cast<std::size_t>(got);
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
        return std::nullopt;
    }

    // 16-bit samples as the joined format's bytes.
    std::span<const char> store(const short* samples, std::size_t frames) {
        const std::size_t n = frames * outCh_;
        if (target_.bitsPerSample == 8) {
            for (std::size_t i = 0; i < n; ++i)
                bytes_[i] = static_cast<char>((samples[i] >> 8) + 128);
            return {bytes_.data(), n};
        }
        return {reinterpret_cast<const char*>(samples), n * 2};
    }

    const WavHeader target_;
    SndfileReader in_;
    SoxrPtr resampler_;
    int inCh_ = 1;
    int outCh_ = 1;
    std::size_t outFramesCap_ = 0;
    std::vector<short> raw_, mapped_, resampled_;
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

QString JoinedSongs::failure(std::size_t song, const QString& cause) const {
    return QStringLiteral("%1: %2").arg(names_[qsizetype(song)], cause);
}

std::optional<QString> JoinedSongs::open(const QStringList& songs, const QStringList& names) {
    if (songs.isEmpty())
        return QStringLiteral("The song list is empty.");
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
        QString why;
        auto layout = probeWav(songs[i], &why);
        if (!layout)
            return failure(std::size_t(i), why);
        layouts_.push_back(*layout);
    }
    const WavLayout& first = layouts_.front();
    const bool firstIsPcm = first.formatTag == 1 &&
                            (first.bitsPerSample == 8 || first.bitsPerSample == 16) &&
                            first.channels <= 2;
    format_ = WavHeader::pcm(std::min<std::uint16_t>(first.channels, 2), first.sampleRate,
                             firstIsPcm ? first.bitsPerSample : 16);
    nextSong_ = 0;
    song_.reset();
    failed_.reset();
    return std::nullopt;
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

std::optional<QString> JoinedSongs::next(std::span<const char>* block) {
    *block = {};
    if (failed_)
        return failed_;
    failed_ = advance(block);
    return failed_;
}

std::optional<QString> JoinedSongs::advance(std::span<const char>* block) {
    for (;;) {
        if (!song_) {
            if (nextSong_ >= layouts_.size())
                return std::nullopt;
            const WavLayout& l = layouts_[nextSong_];
            const bool asIs = l.formatTag == 1 && l.channels == format_.channels &&
                              l.sampleRate == format_.sampleRate &&
                              l.bitsPerSample == format_.bitsPerSample;
            if (asIs)
                song_ = std::make_unique<AsIsSong>(l);
            else
                song_ = std::make_unique<ConvertedSong>(format_);
            if (auto err = song_->open(paths_[qsizetype(nextSong_)]))
                return failure(nextSong_, *err);
            ++nextSong_;
        }
        if (auto err = song_->next(block))
            return failure(nextSong_ - 1, *err);
        if (!block->empty())
            return std::nullopt;
        song_.reset(); // the song is done: its file closes
    }
}

} // namespace quaverly
