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

// The encoder's failure: the file's, when a callback failed, else libFLAC's state in words.
Error flacFailure(const FLAC__StreamEncoder* encoder, const FileSink& sink, const AtomicFile& out) {
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
    FileSink sink{&out, std::nullopt};
    const auto blocks = flacMetadataBlocks(source.lengthHint(), rate);

    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return encodeFailure(out, QStringLiteral("libFLAC: out of memory"));
    FLAC__StreamEncoder* e = encoder.get();
    if (!setUpFlacStream(e, channels, rate, level, source.lengthHint(), blocks))
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
