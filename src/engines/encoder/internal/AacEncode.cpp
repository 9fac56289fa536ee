// AAC-LC with FFmpeg's native encoder, muxed by its iPod MP4 muxer into the AtomicFile.
//
// Gapless: the encoder primes each stream with initial_padding (1024) samples and its packets
// carry timestamps from -1024 on, so the muxer writes an edit list that starts at the source's
// first sample; the last packet's duration is cut to the source's last sample, so the edit list
// and the track's duration end there. The movie time scale is the sample rate, so the edit list
// states both ends to the sample. FFmpeg 5.1's MP4 reader trims the start to the sample but ends
// only at the end of a packet (it plays the padding); so when the source tells its length
// beforehand, the sound is given a lead of silence that ends it exactly at a packet's end, and
// with no padding at all every reader decodes the source's very frames. The lead counts as
// priming: the edit list and iTunSMPB's delay skip it.

#include "engines/encoder/internal/AacStream.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/util/AtomicFile.h"

#include <vector>

namespace quaverly::encode::internal {
namespace {

// Frames read from the source at a time: a stop request is seen within one such block.
constexpr std::size_t kBlockFrames = 8192;

// The lead that ends a sound of `hint` frames at a packet's end, should the hint be right; a
// wrong hint costs only that exactness (the edit list still ends at the last sample). FFmpeg 5.1
// reads nothing of a sound that lies in one packet behind a lead as long as itself, so such a
// short sound (half a packet at most) gets none.
int leadFor(std::int64_t hint) {
    const int lead = hint > 0 ? int((kAacFrame - hint % kAacFrame) % kAacFrame) : 0;
    return lead < hint ? lead : 0;
}

} // namespace

std::optional<EncodeFailure> encodeAac(PcmSource& source, const QString& sourceName,
                                       AtomicFile& out, const Settings& settings,
                                       const std::stop_token& stop, AacGapless* gapless) {
    const int channels = source.channels();
    const int lead = leadFor(source.lengthHint());
    AacCodec codec(out.target());
    Mp4Writer mp4(out);
    if (auto f = codec.open(source.sampleRate(), channels, settings.effectiveValue()))
        return f;
    if (auto f = mp4.open(codec.context()))
        return f;
    // Packets are timed so that the sound (after the lead) starts at 0: the muxer turns the
    // negative start into the edit list.
    const AacCodec::Sink write = [&mp4, lead](AVPacket& p) {
        return mp4.write(p, p.pts - lead, p.duration);
    };

    std::vector<float> block(kBlockFrames * std::size_t(channels));
    if (auto f = codec.add(block.data(), std::size_t(lead), write)) // zeros as yet
        return f;
    std::int64_t frames = 0;
    for (;;) {
        if (stop.stop_requested())
            return EncodeFailure{EncodeStep::Cancel,
                                 Error(out.target(), QStringLiteral("cancelled"))};
        const Result<std::size_t> read = source.read(block.data(), kBlockFrames);
        if (!read)
            return EncodeFailure{EncodeStep::Source, read.error()};
        if (*read == 0)
            break;
        frames += std::int64_t(*read);
        if (auto f = codec.add(block.data(), *read, write))
            return f;
    }
    if (frames == 0)
        return EncodeFailure{EncodeStep::Encode,
                             Error(sourceName, QStringLiteral("it contains no audio"))};
    if (auto f = codec.finish(write))
        return f;
    if (auto f = mp4.finish())
        return f;
    if (gapless) {
        gapless->delay = codec.context().initial_padding + lead;
        gapless->frames = frames;
        gapless->padding = int(mp4.packets() * kAacFrame - gapless->delay - frames);
    }
    return std::nullopt;
}

bool aacEncoderPresent() {
    return avcodec_find_encoder_by_name("aac") != nullptr;
}

} // namespace quaverly::encode::internal
