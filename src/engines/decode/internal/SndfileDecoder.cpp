// Files libsndfile reads: WAV (PCM of 8 to 32 bits, float, extensible, A-law and the other
// codecs, with any chunks before or after the samples), FLAC, AIFF/AIFC, CAF, W64, RF64 and Ogg
// Vorbis. A stream whose length libsndfile cannot find (an Ogg file with bytes after its last
// page, a FLAC stream that states none) is read to its real end, which then gives its length.

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/Downmix.h"
#include "engines/decode/internal/ParallelChunks.h"
#include "engines/util/CodecThreads.h"
#include "engines/wav/internal/SndfileReader.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace quaverly::decode {
namespace {

struct Major {
    int format;
    SongKind kind;
    const char* name;
};
constexpr Major kMajors[] = {
    {SF_FORMAT_WAV, SongKind::Wav, "WAV"},    {SF_FORMAT_WAVEX, SongKind::Wav, "WAV"},
    {SF_FORMAT_FLAC, SongKind::Flac, "FLAC"}, {SF_FORMAT_AIFF, SongKind::Aiff, "AIFF"},
    {SF_FORMAT_CAF, SongKind::Caf, "CAF"},    {SF_FORMAT_W64, SongKind::Wave64, "Wave64"},
    {SF_FORMAT_RF64, SongKind::Rf64, "RF64"}, {SF_FORMAT_OGG, SongKind::Vorbis, "Ogg"},
};

const Major* majorOf(int format) {
    for (const Major& m : kMajors)
        if (m.format == (format & SF_FORMAT_TYPEMASK))
            return &m;
    return nullptr;
}

// The positions of the file's channels as a channel mask, when libsndfile knows them.
std::uint64_t channelMask(SNDFILE* snd, int channels) {
    std::vector<int> map(static_cast<std::size_t>(channels));
    if (!sf_command(snd, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                    static_cast<int>(map.size() * sizeof(int))))
        return 0;
    using namespace speaker;
    std::uint64_t mask = 0;
    for (int position : map) {
        switch (position) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
            mask |= kFrontLeft;
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
            mask |= kFrontRight;
            break;
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
            mask |= kFrontCenter;
            break;
        case SF_CHANNEL_MAP_LFE:
            mask |= kLfe;
            break;
        case SF_CHANNEL_MAP_REAR_LEFT:
            mask |= kBackLeft;
            break;
        case SF_CHANNEL_MAP_REAR_RIGHT:
            mask |= kBackRight;
            break;
        case SF_CHANNEL_MAP_REAR_CENTER:
            mask |= kBackCenter;
            break;
        case SF_CHANNEL_MAP_SIDE_LEFT:
            mask |= kSideLeft;
            break;
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            mask |= kSideRight;
            break;
        default:
            return 0; // positions the mask cannot say: the usual order stands in
        }
    }
    return mask;
}

// Bits per sample of the source, for SongFormat::sourceBits; 0 for compressed codecs.
int sourceBits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;
    }
}

class SndfileDecoder final : public Decoder {
public:
    SndfileDecoder(std::unique_ptr<SndfileReader> reader, const Major& major, std::uint64_t frames,
                   QString path)
        : reader_(std::move(reader)), path_(std::move(path)) {
        const SF_INFO& info = reader_->info();
        format_.rate = static_cast<std::uint32_t>(info.samplerate);
        format_.channels = std::min(info.channels, 2);
        format_.kind = major.kind;
        format_.sourceBits = sourceBits(info.format);
        format_.sourceChannels = info.channels;
        format_.container = QString::fromLatin1(major.name);
        if (major.kind == SongKind::Flac || major.kind == SongKind::Vorbis)
            format_.codec =
                major.kind == SongKind::Flac ? QStringLiteral("FLAC") : QStringLiteral("Vorbis");
        else
            format_.codec = format_.sourceBits > 0
                                ? QStringLiteral("PCM %1-bit").arg(format_.sourceBits)
                                : QStringLiteral("compressed");
        frames_ = frames;
        format_.lengthExact = reader_->lengthKnown();
        const int sub = info.format & SF_FORMAT_SUBMASK;
        if (info.channels > 2)
            downmix_.emplace(info.channels, channelMask(reader_->handle(), info.channels));
        // Vorbis decodes to float: converted here as FFmpeg converts (libsndfile scales by
        // 32767).
        if (downmix_ || sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE ||
            sub == SF_FORMAT_VORBIS)
            floats_.resize(kFloatChunk * static_cast<std::size_t>(info.channels));
    }

    // Integer PCM and the codecs come as 16-bit from libsndfile (8-bit: (u - 128) × 256;
    // 24 and 32 bits: the low bytes dropped); floating point, and anything to mix down, is
    // converted here.
    Decoded read(std::int16_t* out, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(format_.channels);
        startEngine();
        Decoded decoded;
        std::size_t& done = decoded.frames;
        while (done < frames) {
            Result<sf_count_t> got = sf_count_t{0};
            if (engine_) {
                const Result<std::size_t> read =
                    engine_->read(out + done * channels, frames - done);
                if (!read) {
                    decoded.status = read.error();
                    break;
                }
                got = static_cast<sf_count_t>(*read);
            } else if (floats_.empty()) {
                got = reader_->readShorts(out + done * channels,
                                          static_cast<sf_count_t>(frames - done));
            } else {
                const std::size_t n = std::min(frames - done, kFloatChunk);
                got = reader_->readFloats(floats_.data(), static_cast<sf_count_t>(n));
                if (got && *got > 0)
                    convertFloats(static_cast<std::size_t>(*got), out + done * channels);
            }
            if (!got) {
                // A file cut short before its stated length: the song reader says where.
                if (got.error().code() != sound::kNotAvail)
                    decoded.status = got.error();
                break;
            }
            if (*got == 0)
                break;
            done += static_cast<std::size_t>(*got);
        }
        position_ += done;
        if (!format_.lengthExact) // the estimate until the end, then what was there
            frames_ = done < frames && decoded.status ? position_ : std::max(frames_, position_);
        return decoded;
    }

    Status seek(std::uint64_t frame) override {
        engine_.reset(); // the one reader goes on from wherever it is put
        if (Status sought = reader_->seek(static_cast<sf_count_t>(frame)); !sought)
            return sought;
        position_ = frame;
        return {};
    }

private:
    static constexpr std::size_t kFloatChunk = 4096; // frames converted per libsndfile call

    // `frames` frames of floats_ into `out`, mixed down when there are more than two channels.
    void convertFloats(std::size_t frames, std::int16_t* out) const {
        if (downmix_) {
            downmix_->mix(floats_.data(), frames, out);
            return;
        }
        const std::size_t samples = frames * static_cast<std::size_t>(format_.channels);
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = floatToInt16(floats_[i]);
    }

    // FLAC frames stand alone: a whole read from the start is decoded on several threads when
    // there are several and the song is long enough to share out. Only 16-bit output without a
    // downmix: the chunks are read as libsndfile's shorts.
    void startEngine() {
        if (!engineMayStart_)
            return;
        engineMayStart_ = false;
        const int threads = codecThreads();
        const std::uint64_t chunk = ParallelChunks::chunkFrames(kChunkFrames);
        if (format_.kind != SongKind::Flac || !format_.lengthExact || !floats_.empty() ||
            threads < 2 || frames_ < 2 * chunk)
            return;
        const QString path = path_;
        engine_ = std::make_unique<ParallelChunks>(
            [path]() -> Result<std::unique_ptr<SndfileReader>> {
                auto reader = std::make_unique<SndfileReader>();
                if (Status opened = reader->open(path); !opened)
                    return opened.error();
                return reader;
            },
            frames_, format_.channels, threads, chunk);
    }

    static constexpr std::uint64_t kChunkFrames = 1 << 18; // about 6 s at 44.1 kHz

    std::unique_ptr<SndfileReader> reader_;
    QString path_;
    std::uint64_t position_ = 0; // the frame the next read starts at
    bool engineMayStart_ = true;
    std::unique_ptr<ParallelChunks> engine_;
    std::vector<float> floats_;      // conversion buffer of float files, made once at open
    std::optional<Downmix> downmix_; // for more than two channels
};

} // namespace

Result<DecoderPtr> openSndfileDecoder(const QString& path) {
    auto reader = std::make_unique<SndfileReader>();
    if (Status opened = reader->open(path); !opened) {
        const Error& e = opened.error();
        if (e.code() == sound::kFileForm)
            return Error(path, QStringLiteral("not a readable sound file: ") + e.cause(),
                         sound::kFileForm);
        return Error(path, QStringLiteral("cannot open: ") + e.cause(), sound::kFileOpen);
    }
    const SF_INFO& info = reader->info();
    const Major* major = majorOf(info.format);
    if (!major)
        return Error(path, QStringLiteral("not a WAV, FLAC, AIFF, CAF, W64 or RF64 file"),
                     sound::kFileForm);
    if (info.channels < 1)
        return Error(path, QStringLiteral("no channels"), sound::kFormat);
    if (info.samplerate <= 0)
        return Error(path, QStringLiteral("no sample rate"), sound::kFormat);
    // No codec libsndfile reads in a WAV file yields more than about five frames per byte
    // (GSM 6.10), nor FLAC or Vorbis more than a few thousand (silence); a larger count comes
    // from a damaged size field. The reader announces no more than the file can hold, and fails
    // where the sound really ends.
    const bool packed = major->kind == SongKind::Flac || major->kind == SongKind::Vorbis;
    const qint64 bytes = std::max<qint64>(reader->fileSize(), 0);
    auto frames =
        static_cast<std::uint64_t>(std::min<sf_count_t>(info.frames, bytes * (packed ? 65536 : 8)));
    // A length libsndfile cannot find is only guessed, for progress, from the file's size at a
    // usual rate of bytes per frame (FLAC about 60 % of 16-bit PCM, Vorbis about 160 kbit/s);
    // the decode runs to the sound's real end, which makes it exact.
    if (!reader->lengthKnown()) {
        const double perFrame = (major->kind == SongKind::Vorbis ? 0.23 : 1.2) * info.channels;
        frames = static_cast<std::uint64_t>(static_cast<double>(bytes) / perFrame);
    }
    return DecoderPtr(std::make_unique<SndfileDecoder>(std::move(reader), *major, frames, path));
}

} // namespace quaverly::decode
