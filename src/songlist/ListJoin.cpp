#include "songlist/ListJoin.h"

#include "engines/util/Handles.h"
#include "engines/wav/SndfileReader.h"
#include "engines/wav/WavWriter.h"

#include <QFile>

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace quaverly {
namespace {

constexpr qint64 kCopyBlock = 1 << 20;       // bytes per read when appending a song as it is
constexpr sf_count_t kConvertFrames = 16384; // frames per read when converting a song

QString songName(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

// Appends sample bytes to the output, asking the caller between blocks whether to go on.
class JoinWriter {
public:
    JoinWriter(WavWriter& out, const std::function<bool()>& progress)
        : out_(out), progress_(progress) {}

    bool write(const char* data, qint64 bytes, QString* error) {
        if (!out_.write(data, bytes, error)) {
            writeFailed_ = true;
            return false;
        }
        if (progress_ && !progress_()) {
            *error = QStringLiteral("cancelled");
            cancelled_ = true;
            return false;
        }
        return true;
    }

    // The last failure was the target's (its message names the target, not the song; the
    // 4 GiB limit is one) or the user's, and not the song's.
    bool failedHere() const { return writeFailed_ || cancelled_; }

private:
    WavWriter& out_;
    bool writeFailed_ = false;
    bool cancelled_ = false;
    const std::function<bool()>& progress_;
};

bool appendAsIs(const QString& path, const WavLayout& layout, JoinWriter& w, QString* error) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(qint64(layout.dataOffset))) {
        *error = in.errorString();
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(kCopyBlock));
    std::uint64_t left = layout.dataSize;
    while (left > 0) {
        const qint64 want = qint64(std::min<std::uint64_t>(left, kCopyBlock));
        const qint64 got = in.read(buffer.data(), want);
        if (got != want) {
            *error = got < 0 ? in.errorString() : QStringLiteral("the file ended early");
            return false;
        }
        if (!w.write(buffer.data(), got, error))
            return false;
        left -= std::uint64_t(got);
    }
    return true;
}

// Reads any WAV that libsndfile reads as 16-bit frames, maps the channels, resamples and
// stores the samples at the target's sample size. A read error, or a song that ends before its
// announced frames, fails the join.
bool appendConverted(const QString& path, const WavHeader& target, JoinWriter& w, QString* error) {
    SndfileReader in;
    if (in.open(path) != SndfileReader::Opened::Ok) {
        *error = in.cause();
        return false;
    }
    const SF_INFO& info = in.info();
    if (info.channels < 1 || info.channels > 2 || info.samplerate <= 0) {
        *error = QStringLiteral("unsupported WAV: %1 channels (only mono and stereo are joined)")
                     .arg(info.channels);
        return false;
    }
    const int inCh = info.channels;
    const int outCh = target.channels;
    SoxrPtr resampler;
    if (std::uint32_t(info.samplerate) != target.sampleRate) {
        soxr_error_t e = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        resampler.reset(soxr_create(double(info.samplerate), double(target.sampleRate),
                                    unsigned(outCh), &e, &io, &q, nullptr));
        if (!resampler || e) {
            *error = QStringLiteral("resampler: %1").arg(QString::fromUtf8(e ? e : "failed"));
            return false;
        }
    }

    const double ratio = double(target.sampleRate) / double(info.samplerate);
    const auto outFramesCap = static_cast<std::size_t>(double(kConvertFrames) * ratio) + 64;
    std::vector<short> raw(static_cast<std::size_t>(kConvertFrames) * inCh);
    std::vector<short> mapped(static_cast<std::size_t>(kConvertFrames) * outCh);
    std::vector<short> resampled(outFramesCap * outCh);
    std::vector<char> bytes(outFramesCap * outCh * 2);

    auto store = [&](const short* samples, std::size_t frames) {
        const std::size_t n = frames * outCh;
        if (target.bitsPerSample == 8) {
            for (std::size_t i = 0; i < n; ++i)
                bytes[i] = static_cast<char>((samples[i] >> 8) + 128);
            return w.write(bytes.data(), qint64(n), error);
        }
        return w.write(reinterpret_cast<const char*>(samples), qint64(n * 2), error);
    };

    for (;;) {
        const sf_count_t got = in.readShorts(raw.data(), kConvertFrames);
        if (got < 0) {
            *error = in.cause();
            return false;
        }
        const auto frames = static_cast<std::size_t>(got);
        for (std::size_t f = 0; f < frames; ++f) {
            if (inCh == outCh) {
                for (int c = 0; c < outCh; ++c)
                    mapped[f * outCh + c] = raw[f * inCh + c];
            } else if (outCh == 1) { // stereo to mono: the mean of both sides
                mapped[f] = static_cast<short>((int(raw[2 * f]) + int(raw[2 * f + 1])) / 2);
            } else { // mono to stereo: the same sound on both sides
                mapped[2 * f] = mapped[2 * f + 1] = raw[f];
            }
        }
        if (!resampler) {
            if (frames > 0 && !store(mapped.data(), frames))
                return false;
        } else {
            // An empty input (end of file) asks the resampler to flush what it holds.
            const short* src = frames > 0 ? mapped.data() : nullptr;
            std::size_t consumed = 0;
            do {
                std::size_t done = 0, produced = 0;
                const soxr_error_t e = soxr_process(
                    resampler.get(), src ? src + consumed * outCh : nullptr, frames - consumed,
                    &done, resampled.data(), outFramesCap, &produced);
                if (e) {
                    *error = QStringLiteral("resampler: %1").arg(QString::fromUtf8(e));
                    return false;
                }
                consumed += done;
                if (produced > 0 && !store(resampled.data(), produced))
                    return false;
                if (!src && produced == 0)
                    break;
            } while (consumed < frames || !src);
        }
        if (frames == 0)
            return true;
    }
}

// Data bytes the join will write: each song's frames at the target's rate and frame size.
// Resampled songs come out within a few frames of this, so it decides before anything is
// written whether the join fits in a WAV file; the writer still refuses the last bytes should
// a resampler round up past the limit.
std::uint64_t joinedBytes(const std::vector<WavLayout>& layouts, const WavHeader& target) {
    std::uint64_t bytes = 0;
    for (const WavLayout& l : layouts) {
        if (l.blockAlign == 0 || l.sampleRate == 0)
            continue;
        const std::uint64_t frames = l.dataSize / l.blockAlign;
        const auto resampled = static_cast<std::uint64_t>(static_cast<long double>(frames) *
                                                          target.sampleRate / l.sampleRate);
        bytes += resampled * target.blockAlign;
    }
    return bytes;
}

} // namespace

JoinOutcome joinSongs(const QStringList& songs, const QString& target,
                      const std::function<bool()>& progress) {
    JoinOutcome r;
    if (songs.isEmpty()) {
        r.error = QStringLiteral("The song list is empty.");
        return r;
    }
    std::vector<WavLayout> layouts;
    layouts.reserve(std::size_t(songs.size()));
    for (const QString& song : songs) {
        QString why;
        auto layout = probeWav(song, &why);
        if (!layout) {
            r.error = QStringLiteral("%1: %2").arg(songName(song), why);
            return r;
        }
        layouts.push_back(*layout);
    }

    const WavLayout& first = layouts.front();
    const bool firstIsPcm = first.formatTag == 1 &&
                            (first.bitsPerSample == 8 || first.bitsPerSample == 16) &&
                            first.channels <= 2;
    const WavHeader format =
        WavHeader::pcm(std::min<std::uint16_t>(first.channels, 2), first.sampleRate,
                       firstIsPcm ? first.bitsPerSample : 16);

    if (const std::uint64_t bytes = joinedBytes(layouts, format); bytes > WavHeader::kMaxDataSize) {
        r.error = QStringLiteral("The joined songs would hold %1 MB of sound, more than the 4 GiB "
                                 "a WAV file can hold; nothing was written.")
                      .arg((bytes + 500000) / 1000000);
        return r;
    }
    WavWriter out(target);
    if (!out.open(format, &r.error))
        return r;

    JoinWriter writer(out, progress);
    for (qsizetype i = 0; i < songs.size(); ++i) {
        const WavLayout& l = layouts[std::size_t(i)];
        const bool asIs = l.formatTag == 1 && l.channels == format.channels &&
                          l.sampleRate == format.sampleRate &&
                          l.bitsPerSample == format.bitsPerSample;
        QString why;
        const bool ok = asIs ? appendAsIs(songs[i], l, writer, &why)
                             : appendConverted(songs[i], format, writer, &why);
        if (!ok) {
            r.error =
                writer.failedHere() ? why : QStringLiteral("%1: %2").arg(songName(songs[i]), why);
            return r;
        }
    }

    if (!out.finish(&r.error))
        return r;
    r.ok = true;
    r.header = out.header();
    return r;
}

} // namespace quaverly
