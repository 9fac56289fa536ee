#include "engines/encoder/internal/ParallelFlac.h"

#include "engines/encoder/internal/FlacCodec.h"
#include "engines/util/AtomicFile.h"

#include <QtEndian>

#include <algorithm>
#include <bit>

// libFLAC exports this setter (its own tests and fuzzers use it) without declaring it in its
// headers. A segment's MD5 would be thrown away: the stream's is computed over the whole sound.
extern "C" FLAC_API FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                               FLAC__bool value);

namespace quaverly::encode::internal {
namespace {

// The longest segment's samples per channel (about 12 s at 44.1 kHz): a few megabytes of sound
// per thread, and a short last round.
constexpr std::int64_t kMaxSegment = 1 << 19;
// Samples per channel handed to a segment's encoder at a time: an abandoned job ends within one.
constexpr std::size_t kChunkFrames = 8192;

// The metadata a set-up encoder writes, kept; its frames never come, since it gets no sound.
FLAC__StreamEncoderWriteStatus keepMetadata(const FLAC__StreamEncoder*, const FLAC__byte data[],
                                            size_t bytes, uint32_t, uint32_t, void* self) {
    auto* kept = static_cast<std::vector<std::uint8_t>*>(self);
    kept->insert(kept->end(), data, data + bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

// A segment's frames, renumbered as they come, into its result; its metadata is dropped.
struct SegmentSink {
    std::vector<std::uint8_t>* bytes;
    std::vector<std::uint32_t>* frameSizes;
    std::int64_t firstBlock;
    bool unreadable = false;

    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte data[],
                                                size_t size, uint32_t samples, uint32_t,
                                                void* self) {
        auto* sink = static_cast<SegmentSink*>(self);
        if (samples == 0)
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        const std::size_t before = sink->bytes->size();
        const auto number = std::uint64_t(sink->firstBlock) + sink->frameSizes->size();
        if (!appendRenumbered(data, size, number, *sink->bytes)) {
            sink->unreadable = true;
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        sink->frameSizes->push_back(std::uint32_t(sink->bytes->size() - before));
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
};

const QString kUnreadableFrame = QStringLiteral("libFLAC wrote a frame that cannot be read back");

} // namespace

ParallelFlacEncoder::ParallelFlacEncoder(AtomicFile& out, int threads, std::stop_token stop)
    : out_(out), target_(out.target()), threads_(std::max(1, threads)),
      workers_([this](Job& job, const std::stop_token&) { return encodeJob(job); },
               std::move(stop)) {}

Error ParallelFlacEncoder::failure(const QString& cause) const {
    return Error(target_, cause).during(EncodeStep::Encode);
}

Error ParallelFlacEncoder::cancelled() const {
    return Error(target_, QStringLiteral("cancelled")).during(EncodeStep::Cancel);
}

Status ParallelFlacEncoder::open(int sampleRate, int channels, int level,
                                 std::int64_t expectedFrames) {
    sampleRate_ = sampleRate;
    channels_ = channels;
    level_ = level;
    // The metadata comes from an encoder set up as a single pass's, which refuses what a single
    // pass would refuse. Kept before the encoder, which may write while it is deleted.
    std::vector<std::uint8_t> metadata;
    const auto blocks = flacMetadataBlocks(expectedFrames, sampleRate);
    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return failure(QStringLiteral("libFLAC: out of memory"));
    FLAC__StreamEncoder* e = encoder.get();
    if (!setUpFlacStream(e, channels, sampleRate, level, expectedFrames, blocks))
        return failure(QStringLiteral("libFLAC refused the encoding settings"));
    if (const FLAC__StreamEncoderInitStatus init = FLAC__stream_encoder_init_stream(
            e, &keepMetadata, nullptr, nullptr, nullptr, &metadata);
        init != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return failure(
            init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                ? flacStateWords(e)
                : flacWords(FLAC__StreamEncoderInitStatusString[init]) +
                      QStringLiteral(" (%1 channel(s) at %2 Hz)").arg(channels).arg(sampleRate));
    blockSize_ = std::int64_t(FLAC__stream_encoder_get_blocksize(e));
    if (blockSize_ <= 0 || !header_.parse(std::move(metadata)))
        return failure(QStringLiteral("libFLAC wrote metadata that cannot be read back"));
    if (Status s = out_.write(reinterpret_cast<const char*>(header_.bytes().data()),
                              qint64(header_.bytes().size()));
        !s)
        return s.error().during(EncodeStep::Write);

    // As many segments as threads, or a multiple of them, of the same length.
    const std::int64_t total =
        std::max<std::int64_t>(1, (expectedFrames + blockSize_ - 1) / blockSize_);
    const std::int64_t longest = std::max<std::int64_t>(1, kMaxSegment / blockSize_);
    const std::int64_t shortest = (kMinSegment + blockSize_ - 1) / blockSize_;
    const std::int64_t segments =
        threads_ * ((total + threads_ * longest - 1) / (threads_ * longest));
    segment_ = std::max(shortest, (total + segments - 1) / segments);
    buffer_.reserve(std::size_t((segment_ * blockSize_ + kChunkFrames) * channels_));
    workers_.start(threads_);
    return {};
}

Status ParallelFlacEncoder::add(const float* pcm, std::size_t frames) {
    const std::size_t count = frames * std::size_t(channels_);
    const std::size_t at = buffer_.size();
    buffer_.resize(at + count);
    std::int16_t* samples = buffer_.data() + at;
    toInt16(pcm, count, samples);
    // The MD5 is of the samples in little-endian byte order, 2 bytes each.
    if constexpr (std::endian::native == std::endian::little) {
        md5_.addData(QByteArrayView(reinterpret_cast<const char*>(samples), qsizetype(count * 2)));
    } else {
        std::vector<std::int16_t> little(count);
        qToLittleEndian<std::int16_t>(samples, qsizetype(count), little.data());
        md5_.addData(
            QByteArrayView(reinterpret_cast<const char*>(little.data()), qsizetype(count * 2)));
    }
    received_ += std::int64_t(frames);
    const auto segmentSamples = std::size_t(segment_ * blockSize_ * channels_);
    while (buffer_.size() >= segmentSamples)
        if (Status f = dispatch(false); !f)
            return f;
    return {};
}

// Hands the next segment to the workers (the last one: all that is left), once fewer jobs than
// threads wait for their results, so memory stays a few segments whatever the length.
Status ParallelFlacEncoder::dispatch(bool last) {
    while (workers_.pending() >= std::size_t(threads_))
        if (Status f = collect(true); !f)
            return f;
    Job job;
    job.firstBlock = std::int64_t(workers_.submitted()) * segment_;
    const std::size_t end = last ? buffer_.size() : std::size_t(segment_ * blockSize_ * channels_);
    job.pcm = std::move(buffer_);
    if (spares_.empty()) {
        buffer_ = {};
        buffer_.reserve(job.pcm.capacity());
    } else {
        buffer_ = std::move(spares_.back());
        spares_.pop_back();
    }
    buffer_.assign(job.pcm.begin() + std::ptrdiff_t(end), job.pcm.end());
    job.pcm.resize(end);
    if (!spareBytes_.empty()) {
        job.bytes = std::move(spareBytes_.back());
        spareBytes_.pop_back();
    }
    if (!workers_.submit(std::move(job)))
        return cancelled();
    return collect(false);
}

Status ParallelFlacEncoder::finish() {
    if (!buffer_.empty())
        if (Status f = dispatch(true); !f)
            return f;
    while (workers_.pending() > 0)
        if (Status f = collect(true); !f)
            return f;
    const QByteArray md5 = md5_.result();
    header_.complete(reinterpret_cast<const std::uint8_t*>(md5.constData()));
    QFileDevice& file = out_.file();
    const qint64 end = file.pos();
    if (!file.seek(0))
        return Error(target_, file.errorString()).during(EncodeStep::Write);
    if (Status s = out_.write(reinterpret_cast<const char*>(header_.bytes().data()),
                              qint64(header_.bytes().size()));
        !s)
        return s.error().during(EncodeStep::Write);
    if (!file.seek(end))
        return Error(target_, file.errorString()).during(EncodeStep::Write);
    return {};
}

// Writes the results that are ready, in order; with `wait`, waits for the next one first.
Status ParallelFlacEncoder::collect(bool wait) {
    return workers_.collect(
        wait,
        [this](Result& r) {
            spares_.push_back(std::move(r.spare));
            if (!r.failure)
                return r.failure;
            if (Status f = write(r); !f)
                return f;
            r.bytes.clear();
            spareBytes_.push_back(std::move(r.bytes));
            return Status();
        },
        cancelled());
}

Status ParallelFlacEncoder::write(const Result& r) {
    if (Status s =
            out_.write(reinterpret_cast<const char*>(r.bytes.data()), qint64(r.bytes.size()));
        !s)
        return s.error().during(EncodeStep::Write);
    // Every frame holds a whole block but the stream's last, which holds what is left.
    for (const std::uint32_t size : r.frameSizes) {
        const std::int64_t samples = std::min(blockSize_, received_ - framesWritten_ * blockSize_);
        header_.addFrame(size, std::uint32_t(samples));
        ++framesWritten_;
    }
    return {};
}

// The segment's buffer goes back, emptied, for a later segment.
ParallelFlacEncoder::Result ParallelFlacEncoder::encodeJob(Job& job) const {
    Result r;
    r.bytes = std::move(job.bytes);
    encodeSegment(job, r);
    job.pcm.clear();
    r.spare = std::move(job.pcm);
    return r;
}

void ParallelFlacEncoder::encodeSegment(const Job& job, Result& r) const {
    r.bytes.reserve(job.pcm.size() * sizeof(std::int16_t));
    // Declared before the encoder, which writes into the sink even while it is deleted.
    SegmentSink sink{&r.bytes, &r.frameSizes, job.firstBlock};
    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder) {
        r.failure = failure(QStringLiteral("libFLAC: out of memory"));
        return;
    }
    FLAC__StreamEncoder* e = encoder.get();
    if (!setUpFlacEncoder(e, channels_, sampleRate_, level_) ||
        !FLAC__stream_encoder_set_do_md5(e, false)) {
        r.failure = failure(QStringLiteral("libFLAC refused the encoding settings"));
        return;
    }
    if (FLAC__stream_encoder_init_stream(e, &SegmentSink::write, nullptr, nullptr, nullptr,
                                         &sink) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        r.failure = failure(flacStateWords(e));
        return;
    }
    const auto fail = [&] {
        r.failure = failure(sink.unreadable ? kUnreadableFrame : flacStateWords(e));
    };
    const auto channels = std::size_t(channels_);
    std::vector<FLAC__int32> samples(kChunkFrames * channels);
    for (std::size_t at = 0; at < job.pcm.size(); at += kChunkFrames * channels) {
        if (workers_.abandoned()) {
            r.failure = cancelled();
            return;
        }
        const std::size_t count = std::min(kChunkFrames * channels, job.pcm.size() - at);
        std::copy_n(job.pcm.data() + at, count, samples.data());
        if (!FLAC__stream_encoder_process_interleaved(e, samples.data(),
                                                      unsigned(count / channels)))
            return fail();
    }
    if (!FLAC__stream_encoder_finish(e))
        fail();
}

} // namespace quaverly::encode::internal
