// FLAC through libFLAC's stream encoder, 16-bit, at a compression level 0 to 8. The encoder
// writes through callbacks into the AtomicFile and seeks back at the end to fill STREAMINFO
// (total samples, MD5 of the sound) and the seek table in, as the flac tool does.

#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/SourceBlocks.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace quaverly::encode::internal {
namespace {

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};
using FlacEncoderPtr = std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter>;

struct MetadataDeleter {
    void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using FlacMetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

// Room left after the metadata, as the flac tool leaves it, so that the tags can be written
// without moving the sound.
constexpr unsigned kPaddingBytes = 8192;
// A seek point every 10 s, as the flac tool sets them.
constexpr unsigned kSeekSpacingSeconds = 10;

// The file behind libFLAC's callbacks. The first failed write or seek is kept, in words, since
// libFLAC itself only tells that a callback failed.
struct FileSink {
    AtomicFile* out;
    std::optional<Error> failed;
    qint64 end = 0; // one past the last byte written

    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte data[],
                                                size_t bytes, uint32_t, uint32_t, void* self) {
        auto* sink = static_cast<FileSink*>(self);
        if (Status s = sink->out->write(reinterpret_cast<const char*>(data), qint64(bytes)); !s) {
            sink->failed = s.error();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        sink->end = std::max(sink->end, sink->out->file().pos());
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
    static FLAC__StreamEncoderSeekStatus seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* self) {
        auto* sink = static_cast<FileSink*>(self);
        return sink->seekTo(qint64(offset)) ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                            : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    static FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* self) {
        *offset = FLAC__uint64(static_cast<FileSink*>(self)->out->file().pos());
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    bool seekTo(qint64 offset) {
        if (out->file().seek(offset))
            return true;
        failed = Error(out->target(), out->file().errorString());
        return false;
    }
};

// libFLAC names its states and statuses by their enum names ("FLAC__STREAM_ENCODER_IO_ERROR"):
// in words, "libFLAC: io error".
QString flacWords(const char* name) {
    QString words = QString::fromLatin1(name);
    for (const QLatin1String prefix :
         {QLatin1String("FLAC__STREAM_ENCODER_INIT_STATUS_"),
          QLatin1String("FLAC__STREAM_ENCODER_"), QLatin1String("FLAC__STREAM_DECODER_")})
        if (words.startsWith(prefix)) {
            words.remove(0, prefix.size());
            break;
        }
    return QStringLiteral("libFLAC: ") +
           words.replace(QLatin1Char('_'), QLatin1Char(' ')).toLower();
}

// The encoder's failure: the file's, when a callback failed, else libFLAC's state in words.
EncodeFailure flacFailure(const FLAC__StreamEncoder* encoder, const FileSink& sink,
                          const AtomicFile& out) {
    if (sink.failed)
        return writeFailure(*sink.failed);
    return encodeFailure(out, flacWords(FLAC__stream_encoder_get_resolved_state_string(encoder)));
}

// The blocks written after STREAMINFO: a seek table when the length is known, and padding.
// Each is nullptr when it could not be made (a seek table is then left out).
std::array<FlacMetadataPtr, 2> metadataBlocks(std::int64_t frames, int rate) {
    FlacMetadataPtr seekTable;
    if (frames > 0) {
        seekTable.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
        if (seekTable &&
            !(FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                  seekTable.get(), kSeekSpacingSeconds * unsigned(rate), FLAC__uint64(frames)) &&
              FLAC__metadata_object_seektable_template_sort(seekTable.get(), true)))
            seekTable.reset();
    }
    FlacMetadataPtr padding(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
    if (padding)
        padding->length = kPaddingBytes;
    return {std::move(seekTable), std::move(padding)};
}

// Full-scale floats back to 16-bit integers: the working copies' samples (v / 32768) come back
// exact; anything else is clipped and rounded to the nearest (halves away from zero), without
// a branch or a call.
void toInt16(const float* in, std::size_t count, FLAC__int32* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const float v = std::min(std::max(in[i] * 32768.f, -32768.f), 32767.f);
        out[i] = FLAC__int32(v + std::copysign(0.5f, v));
    }
}

} // namespace

std::optional<EncodeFailure> encodeFlac(PcmSource& source, const QString&, AtomicFile& out,
                                        const Settings& settings, const std::stop_token& stop) {
    const int channels = source.channels();
    const int rate = source.sampleRate();
    // Declared before the encoder, which writes into the sink even while it is deleted.
    FileSink sink{&out, std::nullopt};
    const auto blocks = metadataBlocks(source.lengthHint(), rate);
    std::array<FLAC__StreamMetadata*, 2> metadata{};
    unsigned count = 0;
    for (const FlacMetadataPtr& block : blocks)
        if (block)
            metadata[count++] = block.get();

    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return encodeFailure(out, QStringLiteral("libFLAC: out of memory"));
    FLAC__StreamEncoder* e = encoder.get();
    if (!FLAC__stream_encoder_set_channels(e, unsigned(channels)) ||
        !FLAC__stream_encoder_set_bits_per_sample(e, 16) ||
        !FLAC__stream_encoder_set_sample_rate(e, unsigned(rate)) ||
        !FLAC__stream_encoder_set_compression_level(e, unsigned(settings.effectiveValue())) ||
        (source.lengthHint() > 0 &&
         !FLAC__stream_encoder_set_total_samples_estimate(e, FLAC__uint64(source.lengthHint()))) ||
        !FLAC__stream_encoder_set_metadata(e, metadata.data(), count))
        return encodeFailure(out, QStringLiteral("libFLAC refused the encoding settings"));
    if (const FLAC__StreamEncoderInitStatus init = FLAC__stream_encoder_init_stream(
            e, &FileSink::write, &FileSink::seek, &FileSink::tell, nullptr, &sink);
        init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            return flacFailure(e, sink, out);
        return encodeFailure(
            out, flacWords(FLAC__StreamEncoderInitStatusString[init]) +
                     QStringLiteral(" (%1 channel(s) at %2 Hz)").arg(channels).arg(rate));
    }

    std::vector<FLAC__int32> samples(kBlockFrames * std::size_t(channels));
    if (auto failed = forEachBlock(source, out, stop, [&](const float* frames, std::size_t n) {
            toInt16(frames, n * std::size_t(channels), samples.data());
            if (!FLAC__stream_encoder_process_interleaved(e, samples.data(), unsigned(n)))
                return std::optional(flacFailure(e, sink, out));
            return std::optional<EncodeFailure>();
        }))
        return failed;
    if (!FLAC__stream_encoder_finish(e))
        return flacFailure(e, sink, out);
    // STREAMINFO and the seek table were written last, at the start: back to the end.
    if (!sink.seekTo(sink.end))
        return writeFailure(*sink.failed);
    return std::nullopt;
}

} // namespace quaverly::encode::internal
