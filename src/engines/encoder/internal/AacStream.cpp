#include "engines/encoder/internal/AacStream.h"

#include "engines/util/AtomicFile.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include <algorithm>

namespace quaverly::encode::internal {
namespace {

QString words(int code) {
    return QString::fromStdString(decode::avWords(code));
}

} // namespace

Error AacCodec::failed(const QString& cause) const {
    return Error(target_, cause).during(mp3::EncodeStep::Encode);
}

Status AacCodec::open(int sampleRate, int channels, int kbps) {
    decode::setUpLibrary();
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (!aac)
        return failed(QStringLiteral("this build of FFmpeg has no AAC encoder"));
    codec_.reset(avcodec_alloc_context3(aac));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!codec_ || !frame_ || !packet_)
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
    if (c->frame_size != kAacFrame)
        return failed(
            QStringLiteral("the AAC encoder takes %1 samples a frame").arg(c->frame_size));

    frame_->format = c->sample_fmt;
    frame_->sample_rate = sampleRate;
    frame_->nb_samples = kAacFrame;
    if (int r = av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout);
        r < 0 || (r = av_frame_get_buffer(frame_.get(), 0)) < 0)
        return failed(words(r));
    return {};
}

Status AacCodec::add(const float* pcm, std::size_t frames, const Sink& sink) {
    const auto channels = std::size_t(codec_->ch_layout.nb_channels);
    while (frames > 0) {
        const auto n = std::min<std::size_t>(frames, std::size_t(kAacFrame - fill_));
        for (std::size_t ch = 0; ch < channels; ++ch) {
            float* plane = reinterpret_cast<float*>(frame_->data[ch]) + fill_;
            for (std::size_t i = 0; i < n; ++i)
                plane[i] = pcm[i * channels + ch];
        }
        fill_ += int(n);
        pcm += n * channels;
        frames -= n;
        if (fill_ == kAacFrame) {
            if (Status f = sendFrame(sink); !f)
                return f;
        }
    }
    return {};
}

// Hands the frame filled so far to the encoder (the last one may be short), passes on the
// packets that come out, and makes the frame ready to be filled again.
Status AacCodec::sendFrame(const Sink& sink) {
    frame_->nb_samples = fill_;
    frame_->pts = sent_;
    sent_ += fill_;
    if (const int r = avcodec_send_frame(codec_.get(), frame_.get()); r < 0)
        return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
    if (Status f = drain(sink); !f)
        return f;
    // The encoder may still hold the frame's buffers; the next frame then gets fresh ones.
    frame_->nb_samples = kAacFrame;
    if (const int r = av_frame_make_writable(frame_.get()); r < 0)
        return failed(words(r));
    fill_ = 0;
    return {};
}

Status AacCodec::drain(const Sink& sink) {
    for (;;) {
        const int r = avcodec_receive_packet(codec_.get(), packet_.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return {};
        if (r < 0)
            return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
        Status f = sink(*packet_);
        av_packet_unref(packet_.get());
        if (!f)
            return f;
    }
}

Status AacCodec::finish(const Sink& sink) {
    if (fill_ > 0) {
        if (Status f = sendFrame(sink); !f)
            return f;
    }
    if (const int r = avcodec_send_frame(codec_.get(), nullptr); r < 0)
        return failed(QStringLiteral("AAC encoding failed: %1").arg(words(r)));
    return drain(sink);
}

Mp4Writer::Mp4Writer(AtomicFile& out) : out_(out), io_(out) {}

// A failure of FFmpeg's while writing: the file's words when writing it failed.
Error Mp4Writer::failed(const char* what, int code) const {
    if (!io_.failure().isEmpty())
        return Error(out_.target(), io_.failure()).during(mp3::EncodeStep::Write);
    return Error(out_.target(), QStringLiteral("%1: %2").arg(QLatin1String(what), words(code)))
        .during(mp3::EncodeStep::Encode);
}

Status Mp4Writer::open(const AVCodecContext& codec) {
    struct ParametersFree {
        void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
    };
    const std::unique_ptr<AVCodecParameters, ParametersFree> params(avcodec_parameters_alloc());
    if (!params)
        return failed("cannot start the MP4 file", AVERROR(ENOMEM));
    if (const int r = avcodec_parameters_from_context(params.get(), &codec); r < 0)
        return failed("cannot start the MP4 file", r);
    return open(*params);
}

Status Mp4Writer::open(const AVCodecParameters& codec) {
    decode::setUpLibrary();
    if (!io_.context())
        return failed("cannot start the MP4 file", AVERROR(ENOMEM));
    AVFormatContext* raw = nullptr;
    if (const int r = avformat_alloc_output_context2(&raw, nullptr, "ipod", nullptr); r < 0)
        return failed("no MP4 muxer for iPod files", r);
    format_.reset(raw);
    format_->pb = io_.context();
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    stream_ = avformat_new_stream(format_.get(), nullptr);
    if (!stream_)
        return failed("cannot start the MP4 file", AVERROR(ENOMEM));
    if (const int r = avcodec_parameters_copy(stream_->codecpar, &codec); r < 0)
        return failed("cannot start the MP4 file", r);
    // The muxer names the codec in its own way ("mp4a").
    stream_->codecpar->codec_tag = 0;
    timeBase_ = {1, codec.sample_rate};
    stream_->time_base = timeBase_;
    AVDictionary* options = nullptr;
    int r = av_dict_set_int(&options, "movie_timescale", codec.sample_rate, 0);
    if (r >= 0)
        r = avformat_write_header(format_.get(), &options);
    av_dict_free(&options);
    if (r < 0)
        return failed("cannot start the MP4 file", r);
    return {};
}

Status Mp4Writer::write(AVPacket& packet, std::int64_t pts, std::int64_t duration) {
    packet.pts = pts;
    packet.dts = pts;
    packet.duration = duration;
    av_packet_rescale_ts(&packet, timeBase_, stream_->time_base);
    packet.stream_index = stream_->index;
    if (const int r = av_write_frame(format_.get(), &packet); r < 0)
        return failed("cannot write the MP4 file", r);
    ++packets_;
    return {};
}

Status Mp4Writer::finish() {
    if (const int r = av_write_trailer(format_.get()); r < 0)
        return failed("cannot complete the MP4 file", r);
    if (!io_.flush())
        return failed("cannot complete the MP4 file", io_.context()->error);
    return {};
}

} // namespace quaverly::encode::internal
