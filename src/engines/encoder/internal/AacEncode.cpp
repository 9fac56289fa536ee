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

#include "engines/decode/internal/FfmpegInput.h"
#include "engines/encoder/internal/AvioFile.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/util/AtomicFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <memory>
#include <vector>

namespace quaverly::encode::internal {
namespace {

using decode::AvCodecPtr;
using decode::AvFramePtr;
using decode::AvPacketPtr;
using decode::avWords;

// Frames read from the source at a time: a stop request is seen within one such block.
constexpr std::size_t kBlockFrames = 8192;

struct AvOutputFree {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};
using AvOutputPtr = std::unique_ptr<AVFormatContext, AvOutputFree>;

QString words(int code) {
    return QString::fromStdString(avWords(code));
}

// One AAC stream into one MP4 file: the encoder, the muxer over the file, and the frame being
// filled. Used on the encoding thread only.
class AacWriter {
public:
    explicit AacWriter(AtomicFile& out) : out_(out), io_(out) {}

    // `lead`: frames of silence before the sound, fewer than a packet's.
    std::optional<EncodeFailure> open(int sampleRate, int channels, int kbps, int lead);
    // Encodes interleaved frames (full scale +-1).
    std::optional<EncodeFailure> add(const float* pcm, std::size_t frames);
    // Encodes what is left, drains the encoder and completes the file (not committed).
    std::optional<EncodeFailure> finish();
    // The gapless facts of the stream written, which held `frames` of sound.
    AacGapless gapless(std::int64_t frames) const;

private:
    std::optional<EncodeFailure> openMuxer(int sampleRate);
    std::optional<EncodeFailure> sendFrame();
    std::optional<EncodeFailure> writePackets();

    EncodeFailure failed(const QString& cause) const {
        return {EncodeStep::Encode, Error(out_.target(), cause)};
    }
    // A failure of FFmpeg's while writing: the file's words when writing it failed.
    EncodeFailure muxFailed(const char* what, int code) const {
        if (!io_.failure().isEmpty())
            return {EncodeStep::Write, Error(out_.target(), io_.failure())};
        return failed(QStringLiteral("%1: %2").arg(QLatin1String(what), words(code)));
    }

    AtomicFile& out_;
    AvioFile io_;        // outlives format_, which writes through it
    AvOutputPtr format_; // the muxer
    AVStream* stream_{}; // owned by format_
    AvCodecPtr codec_;   // the encoder
    AvFramePtr frame_;   // planar, codec_->frame_size frames
    AvPacketPtr packet_;
    int frameSize_ = 0;
    int fill_ = 0;             // frames in frame_ so far
    std::int64_t sent_ = 0;    // frames handed to the encoder, the lead included
    std::int64_t lead_ = 0;    // silence before the sound
    std::int64_t packets_ = 0; // written
};

std::optional<EncodeFailure> AacWriter::open(int sampleRate, int channels, int kbps, int lead) {
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (!aac)
        return failed(QStringLiteral("this build of FFmpeg has no AAC encoder"));
    codec_.reset(avcodec_alloc_context3(aac));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!codec_ || !frame_ || !packet_ || !io_.context())
        return failed(words(AVERROR(ENOMEM)));
    AVCodecContext* c = codec_.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = sampleRate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = std::int64_t(kbps) * 1000;
    c->profile = FF_PROFILE_AAC_LOW;
    c->time_base = {1, sampleRate};
    // MP4 keeps the decoder's set-up in its header, not in every packet.
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int r = avcodec_open2(c, aac, nullptr); r < 0)
        return failed(QStringLiteral("cannot set up the AAC encoder: %1").arg(words(r)));
    frameSize_ = c->frame_size;
    lead_ = std::clamp(lead, 0, frameSize_ - 1);

    frame_->format = c->sample_fmt;
    frame_->sample_rate = sampleRate;
    frame_->nb_samples = frameSize_;
    if (int r = av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout);
        r < 0 || (r = av_frame_get_buffer(frame_.get(), 0)) < 0)
        return failed(words(r));
    for (int ch = 0; ch < channels; ++ch)
        std::fill_n(reinterpret_cast<float*>(frame_->data[ch]), lead_, 0.0f);
    fill_ = int(lead_);
    return openMuxer(sampleRate);
}

std::optional<EncodeFailure> AacWriter::openMuxer(int sampleRate) {
    AVFormatContext* raw = nullptr;
    if (const int r = avformat_alloc_output_context2(&raw, nullptr, "ipod", nullptr); r < 0)
        return failed(QStringLiteral("no MP4 muxer for iPod files: %1").arg(words(r)));
    format_.reset(raw);
    format_->pb = io_.context();
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    stream_ = avformat_new_stream(format_.get(), nullptr);
    if (!stream_)
        return failed(words(AVERROR(ENOMEM)));
    if (const int r = avcodec_parameters_from_context(stream_->codecpar, codec_.get()); r < 0)
        return failed(words(r));
    stream_->time_base = codec_->time_base;
    // Times of the movie (the edit list among them) in samples rather than milliseconds.
    AVDictionary* options = nullptr;
    int r = av_dict_set_int(&options, "movie_timescale", sampleRate, 0);
    if (r >= 0)
        r = avformat_write_header(format_.get(), &options);
    av_dict_free(&options);
    if (r < 0)
        return muxFailed("cannot start the MP4 file", r);
    return std::nullopt;
}

std::optional<EncodeFailure> AacWriter::add(const float* pcm, std::size_t frames) {
    const int channels = codec_->ch_layout.nb_channels;
    while (frames > 0) {
        const auto n = std::min<std::size_t>(frames, std::size_t(frameSize_ - fill_));
        for (int ch = 0; ch < channels; ++ch) {
            float* plane = reinterpret_cast<float*>(frame_->data[ch]) + fill_;
            for (std::size_t i = 0; i < n; ++i)
                plane[i] = pcm[i * std::size_t(channels) + std::size_t(ch)];
        }
        fill_ += int(n);
        pcm += n * std::size_t(channels);
        frames -= n;
        if (fill_ == frameSize_) {
            if (auto f = sendFrame())
                return f;
        }
    }
    return std::nullopt;
}

// Hands the frame filled so far to the encoder (the last one may be short), writes the packets
// that come out, and makes the frame ready to be filled again.
std::optional<EncodeFailure> AacWriter::sendFrame() {
    frame_->nb_samples = fill_;
    frame_->pts = sent_;
    sent_ += fill_;
    if (const int r = avcodec_send_frame(codec_.get(), frame_.get()); r < 0)
        return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
    if (auto f = writePackets())
        return f;
    // The encoder may still hold the frame's buffers; the next frame then gets fresh ones.
    frame_->nb_samples = frameSize_;
    if (const int r = av_frame_make_writable(frame_.get()); r < 0)
        return failed(words(r));
    fill_ = 0;
    return std::nullopt;
}

// Writes every packet the encoder has ready, timed so that the sound (after the lead) starts at
// 0: the muxer turns the negative start into the edit list.
std::optional<EncodeFailure> AacWriter::writePackets() {
    for (;;) {
        int r = avcodec_receive_packet(codec_.get(), packet_.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return std::nullopt;
        if (r < 0)
            return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
        packet_->pts -= lead_;
        packet_->dts -= lead_;
        av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        r = av_write_frame(format_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (r < 0)
            return muxFailed("cannot write the MP4 file", r);
        ++packets_;
    }
}

std::optional<EncodeFailure> AacWriter::finish() {
    if (fill_ > 0) {
        if (auto f = sendFrame())
            return f;
    }
    if (const int r = avcodec_send_frame(codec_.get(), nullptr); r < 0)
        return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
    if (auto f = writePackets())
        return f;
    if (const int r = av_write_trailer(format_.get()); r < 0)
        return muxFailed("cannot complete the MP4 file", r);
    if (!io_.flush())
        return muxFailed("cannot complete the MP4 file", io_.context()->error);
    return std::nullopt;
}

AacGapless AacWriter::gapless(std::int64_t frames) const {
    AacGapless g;
    g.delay = codec_->initial_padding + int(lead_);
    g.frames = frames;
    g.padding = int(packets_ * frameSize_ - g.delay - frames);
    return g;
}

} // namespace

std::optional<EncodeFailure> encodeAac(PcmSource& source, const QString& sourceName,
                                       AtomicFile& out, const Settings& settings,
                                       const std::stop_token& stop, AacGapless* gapless) {
    decode::setUpLibrary();
    const int channels = source.channels();
    // The lead that ends the sound at a packet's end, should the hint be right; a wrong hint
    // costs only that exactness (the edit list still ends at the last sample). FFmpeg 5.1 reads
    // nothing of a sound that lies in one packet behind a lead as long as itself, so such a short
    // sound (half a packet at most) gets none.
    constexpr std::int64_t kPacket = 1024; // AAC-LC's frame
    const std::int64_t hint = source.lengthHint();
    int lead = hint > 0 ? int((kPacket - hint % kPacket) % kPacket) : 0;
    if (lead >= hint)
        lead = 0;

    AacWriter writer(out);
    if (auto f = writer.open(source.sampleRate(), channels, settings.effectiveValue(), lead))
        return f;
    std::vector<float> block(kBlockFrames * std::size_t(channels));
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
        if (auto f = writer.add(block.data(), *read))
            return f;
    }
    if (frames == 0)
        return EncodeFailure{EncodeStep::Encode,
                             Error(sourceName, QStringLiteral("it contains no audio"))};
    if (auto f = writer.finish())
        return f;
    if (gapless)
        *gapless = writer.gapless(frames);
    return std::nullopt;
}

bool aacEncoderPresent() {
    return avcodec_find_encoder_by_name("aac") != nullptr;
}

} // namespace quaverly::encode::internal
