// FLAC through libFLAC's stream encoder, 16-bit, at a compression level 0 to 8. In one pass, the
// encoder writes through callbacks into the AtomicFile and seeks back at the end to fill
// STREAMINFO (total samples, MD5 of the sound) and the seek table in, as the flac tool does.
// With more than one codec thread, a source that tells its length and is long enough is encoded
// in segments on as many threads, into the same stream (ParallelFlac.h).

#include "engines/encoder/internal/FlacCodec.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/ParallelFlac.h"
#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/util/CodecThreads.h"

#include <algorithm>
#include <array>

namespace quaverly::encode::internal {
namespace {

// The encoder's failure: the file's, when a callback failed, else libFLAC's state in words.
Error flacFailure(const FLAC__StreamEncoder* encoder, const FlacFileSink& sink,
                  const AtomicFile& out) {
    if (sink.failed)
        return writeFailure(*sink.failed);
    return encodeFailure(out, flacStateWords(encoder));
}

// The whole source in segments on `threads` threads.
Status encodeInSegments(PcmSource& source, AtomicFile& out, int level, const std::stop_token& stop,
                        int threads) {
    ParallelFlacEncoder segments(out, threads, stop);
    if (Status failed =
            segments.open(source.sampleRate(), source.channels(), level, source.lengthHint());
        !failed)
        return failed;
    if (Status failed = forEachBlock(
            source, out, stop,
            [&](const float* frames, std::size_t n) { return segments.add(frames, n); });
        !failed)
        return failed;
    return segments.finish();
}

} // namespace

Status encodeFlac(PcmSource& source, const QString&, AtomicFile& out, const Settings& settings,
                  const std::stop_token& stop) {
    const int channels = source.channels();
    const int rate = source.sampleRate();
    const int level = settings.effectiveValue();
    // Segments pay only when there are at least two of them.
    if (source.lengthHint() >= 2 * ParallelFlacEncoder::kMinSegment && codecThreads() > 1)
        return encodeInSegments(source, out, level, stop, codecThreads());

    // Declared before the encoder, which writes into the sink even while it is deleted.
    FlacFileSink sink{&out, std::nullopt};
    const auto blocks = flacMetadataBlocks(source.lengthHint(), rate);

    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return encodeFailure(out, QStringLiteral("libFLAC: out of memory"));
    FLAC__StreamEncoder* e = encoder.get();
    if (!setUpFlacStream(e, channels, rate, level, source.lengthHint(), blocks))
        return encodeFailure(out, QStringLiteral("libFLAC refused the encoding settings"));
    if (const FLAC__StreamEncoderInitStatus init = FLAC__stream_encoder_init_stream(
            e, &FlacFileSink::write, &FlacFileSink::seek, &FlacFileSink::tell, nullptr, &sink);
        init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        if (init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            return flacFailure(e, sink, out);
        return encodeFailure(
            out, flacWords(FLAC__StreamEncoderInitStatusString[init]) +
                     QStringLiteral(" (%1 channel(s) at %2 Hz)").arg(channels).arg(rate));
    }

    std::vector<FLAC__int32> samples(kBlockFrames * std::size_t(channels));
    if (Status failed = forEachBlock(source, out, stop,
                                     [&](const float* frames, std::size_t n) {
                                         toInt16(frames, n * std::size_t(channels), samples.data());
                                         if (!FLAC__stream_encoder_process_interleaved(
                                                 e, samples.data(), unsigned(n)))
                                             return Status(flacFailure(e, sink, out));
                                         return Status();
                                     });
        !failed)
        return failed;
    if (!FLAC__stream_encoder_finish(e))
        return flacFailure(e, sink, out);
    // STREAMINFO and the seek table were written last, at the start: back to the end.
    if (!sink.seekTo(sink.end))
        return writeFailure(*sink.failed);
    return {};
}

} // namespace quaverly::encode::internal
