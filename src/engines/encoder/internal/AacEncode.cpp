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
//
// With more than one codec thread, a source that tells its length and is long enough is encoded
// in segments on as many threads and spliced into the same kind of stream (ParallelAac.h).

#include "engines/encoder/internal/AacStream.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/ParallelAac.h"
#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/ffmpeg/internal/Codecs.h"
#include "engines/util/AtomicFile.h"

#include <vector>

namespace quaverly::encode::internal {
namespace {

// The lead that ends a sound of `hint` frames at a packet's end, should the hint be right; a
// wrong hint costs only that exactness (the edit list still ends at the last sample). FFmpeg 5.1
// reads nothing of a sound that lies in one packet behind a lead as long as itself, so such a
// short sound (half a packet at most) gets none.
int leadFor(std::int64_t hint) {
    const int lead = hint > 0 ? int((kAacFrame - hint % kAacFrame) % kAacFrame) : 0;
    return lead < hint ? lead : 0;
}

// What one pass works on.
struct Pass {
    PcmSource& source;
    const QString& sourceName;
    AtomicFile& out;
    int kbps;
    int lead;
    const std::stop_token& stop;
};

// Input frames (the lead and the sound) from which the sound is encoded in segments on several
// threads: two of the shortest segments.
constexpr std::int64_t kParallelFrames = 2 * ParallelAacEncoder::kMinSegment * kAacFrame;

// One pass over the source into `pass.out`: through one encoder, or with `threads` > 1 through
// segments encoded on as many threads.
Status encodePass(const Pass& pass, int threads, AacGapless* gapless, bool* spliceFailed) {
    PcmSource& source = pass.source;
    const int channels = source.channels();
    // The single pass's encoder; with segments, it only tells the MP4 header the stream's set-up,
    // which every segment's encoder shares.
    AacCodec codec(pass.out.target());
    Mp4Writer mp4(pass.out);
    if (Status f = codec.open(source.sampleRate(), channels, pass.kbps); !f)
        return f;
    if (Status f = mp4.open(codec.context()); !f)
        return f;
    // Packets are timed so that the sound (after the lead) starts at 0: the muxer turns the
    // negative start into the edit list.
    const AacCodec::Sink write = [&mp4, &pass](AVPacket& p) {
        return mp4.write(p, p.pts - pass.lead, p.duration);
    };
    std::optional<ParallelAacEncoder> segments;
    if (threads > 1) {
        segments.emplace(pass.out.target(), mp4, pass.lead, threads, pass.stop);
        segments->open(source.sampleRate(), channels, pass.kbps, source.lengthHint() + pass.lead);
    }
    const auto encode = [&](const float* pcm, std::size_t frames) {
        return segments ? segments->add(pcm, frames) : codec.add(pcm, frames, write);
    };

    const std::vector<float> silence(std::size_t(pass.lead * channels));
    if (Status f = encode(silence.data(), std::size_t(pass.lead)); !f)
        return f;
    std::int64_t frames = 0;
    if (Status f = forEachBlock(source, pass.out, pass.stop,
                                [&](const float* pcm, std::size_t n) {
                                    frames += std::int64_t(n);
                                    return encode(pcm, n);
                                });
        !f)
        return f;
    if (frames == 0)
        return Error(pass.sourceName, QStringLiteral("it contains no audio"))
            .during(EncodeStep::Encode);
    if (Status f = segments ? segments->finish() : codec.finish(write); !f) {
        *spliceFailed = segments && segments->spliceFailed();
        return f;
    }
    if (Status f = mp4.finish(); !f)
        return f;
    if (gapless) {
        gapless->delay = codec.context().initial_padding + pass.lead;
        gapless->frames = frames;
        gapless->padding = int(mp4.packets() * kAacFrame - gapless->delay - frames);
    }
    return {};
}

} // namespace
} // namespace quaverly::encode::internal

namespace quaverly::ffmpeg {

using namespace encode::internal;

Status encodeAac(encode::PcmSource& source, const QString& sourceName, AtomicFile& out, int kbps,
                 int threads, const std::stop_token& stop, AacGapless* gapless) {
    const std::int64_t hint = source.lengthHint();
    Pass pass{source, sourceName, out, kbps, leadFor(hint), stop};
    // Segments pay only when there are at least two of them.
    const int used = hint > 0 && hint + pass.lead >= kParallelFrames ? threads : 1;
    bool spliceFailed = false;
    auto failed = encodePass(pass, used, gapless, &spliceFailed);
    if (!spliceFailed || !source.rewind())
        return failed;
    // Once more in one pass, over what the segments wrote.
    QFileDevice& file = out.file();
    if (!file.seek(0) || !file.resize(0))
        return writeFailure(Error(out.target(), file.errorString()));
    return encodePass(pass, 1, gapless, &spliceFailed);
}

bool aacEncoderPresent() {
    return avcodec_find_encoder_by_name("aac") != nullptr;
}

} // namespace quaverly::ffmpeg
