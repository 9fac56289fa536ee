#include "engines/encoder/internal/FlacCodec.h"

#include <QLatin1String>

namespace quaverly::encode::internal {
namespace {

// Room left after the metadata, as the flac tool leaves it, so that the tags can be written
// without moving the sound.
constexpr unsigned kPaddingBytes = 8192;
// A seek point every 10 s, as the flac tool sets them.
constexpr unsigned kSeekSpacingSeconds = 10;

} // namespace

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

QString flacStateWords(const FLAC__StreamEncoder* encoder) {
    return flacWords(FLAC__stream_encoder_get_resolved_state_string(encoder));
}

bool setUpFlacEncoder(FLAC__StreamEncoder* e, int channels, int rate, int level) {
    return FLAC__stream_encoder_set_channels(e, unsigned(channels)) &&
           FLAC__stream_encoder_set_bits_per_sample(e, 16) &&
           FLAC__stream_encoder_set_sample_rate(e, unsigned(rate)) &&
           FLAC__stream_encoder_set_compression_level(e, unsigned(level));
}

bool setUpFlacStream(FLAC__StreamEncoder* e, int channels, int rate, int level, std::int64_t frames,
                     const std::array<FlacMetadataPtr, 2>& blocks) {
    // libFLAC copies the list, not the blocks.
    std::array<FLAC__StreamMetadata*, 2> list{};
    unsigned count = 0;
    for (const FlacMetadataPtr& block : blocks)
        if (block)
            list[count++] = block.get();
    return setUpFlacEncoder(e, channels, rate, level) &&
           (frames <= 0 ||
            FLAC__stream_encoder_set_total_samples_estimate(e, FLAC__uint64(frames))) &&
           FLAC__stream_encoder_set_metadata(e, list.data(), count);
}

std::array<FlacMetadataPtr, 2> flacMetadataBlocks(std::int64_t frames, int rate) {
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

} // namespace quaverly::encode::internal
