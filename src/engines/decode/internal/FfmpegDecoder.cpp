// Whatever else holds audio, through FFmpeg's libavformat and libavcodec: MP4/M4A (AAC, ALAC),
// raw AAC, Ogg (Vorbis, Opus), WMA, Matroska/WebM, the first sound track of a video.
//
// The samples are the ones `ffmpeg -i IN OUT.wav` writes: the same decoder, the encoder delay and
// padding removed as the container declares them (an MP4 edit list, Opus pre-skip, Vorbis
// granule positions; libavformat hands them over with the packets and libavcodec applies them),
// float converted as FFmpeg converts it. Two trims are made here: an MP4 ends at its track's
// stated duration (FFmpeg 5.1 keeps the padding after an edit list's end), and an MP4 whose delay
// is told only by the iTunes field iTunSMPB (no edit list) is trimmed as that field says.
//
// Such containers tell their length only as an estimate; the exact one is known once the last
// packet is decoded (SongFormat::lengthExact is false). A decode that ends well short of a length
// the container states is a damaged file, not a shorter song.

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/Downmix.h"
#include "engines/decode/internal/FfmpegInput.h"
#include "engines/ffmpeg/internal/Codecs.h"
#include "engines/util/ClockText.h"
#include "engines/util/FrameTime.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
}

namespace quaverly::decode {
namespace {

SongKind kindOf(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_AAC:
        return SongKind::Aac;
    case AV_CODEC_ID_ALAC:
        return SongKind::Alac;
    case AV_CODEC_ID_OPUS:
        return SongKind::Opus;
    case AV_CODEC_ID_VORBIS:
        return SongKind::Vorbis;
    case AV_CODEC_ID_FLAC:
        return SongKind::Flac;
    default:
        return SongKind::Other;
    }
}

// Sample `i` of channel `c` of a frame, as a float of full scale ±1.
float sampleAt(const AVFrame* f, int c, int i) {
    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const int channels = f->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(fmt);
    const uint8_t* base = planar ? f->extended_data[c] : f->extended_data[0];
    const int at = planar ? i : i * channels + c;
    switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_U8:
        return (base[at] - 128) / 128.0f;
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(base)[at] / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return static_cast<float>(reinterpret_cast<const int32_t*>(base)[at] / 2147483648.0);
    case AV_SAMPLE_FMT_S64:
        return static_cast<float>(static_cast<double>(reinterpret_cast<const int64_t*>(base)[at]) /
                                  9223372036854775808.0);
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(base)[at];
    case AV_SAMPLE_FMT_DBL:
        return static_cast<float>(reinterpret_cast<const double*>(base)[at]);
    default:
        return 0;
    }
}

// A failure the decoder's callers tell of in their own words: the cause alone.
Error because(const std::string& words) {
    return Error({}, QString::fromStdString(words));
}

class FfmpegDecoder final : public Decoder {
public:
    FfmpegDecoder(QString path, FfmpegInput in) : path_(std::move(path)), in_(std::move(in)) {}

    // Decodes up to the first frame, which fixes the output format; an HE-AAC stream, for one,
    // tells its true rate only there.
    Status start() {
        if (const Result<bool> first = decodeNext(); !first || !*first)
            return Error(path_, first ? QStringLiteral("holds no sound") : first.error().cause(),
                         sound::kFileForm);
        const AVFrame* f = in_.frame.get();
        const int channels = f->ch_layout.nb_channels;
        // A damaged header can decode to a frame that names no rate or no channel: nothing a
        // song can be made of.
        if (f->sample_rate <= 0 || channels < 1)
            return Error(path_, QStringLiteral("its sound states no sample rate or no channels"),
                         sound::kFileForm);
        format_.rate = static_cast<std::uint32_t>(f->sample_rate);
        format_.channels = std::min(channels, 2);
        format_.sourceChannels = channels;
        format_.kind = kindOf(in_.stream->codecpar->codec_id);
        format_.codec = in_.codecName();
        format_.container = in_.containerName();
        format_.sourceBits = 0;
        format_.lengthExact = false;
        if (channels > 2)
            downmix_.emplace(
                channels, f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0);
        estimate_ = estimatedFrames();
        format_.delay = seenDelay_;
        // iTunSMPB counts only where no edit list has trimmed the start already.
        if (const auto smpb = itunesGapless(in_.format.get(), in_.stream);
            smpb && seenDelay_ == 0) {
            smpb_ = true;
            skip_ = smpb->delay;
            limit_ = smpb->length;
            format_.delay = smpb->delay;
            format_.padding = smpb->padding;
            estimate_ = smpb->length;
        } else if (format_.container == QLatin1String("MP4") && estimate_ > 0) {
            // An MP4 track's duration is its edit list's, or all its samples without one: the
            // decoder's last frame may run past it by the encoder's padding, which FFmpeg 5.1
            // leaves in. The song ends where the file says.
            limit_ = estimate_;
        }
        frames_ = estimate_;
        if (Status taken = takeFrame(); !taken)
            return Error(path_, taken.error().cause(), sound::kFileForm);
        return {};
    }

    Decoded read(std::int16_t* out, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(format_.channels);
        Decoded decoded;
        std::size_t& done = decoded.frames;
        while (done < frames) {
            if (pendingAt_ == pending_.size()) {
                if (ended_)
                    break;
                const Result<bool> next = decodeNext();
                if (!next) {
                    ended_ = true;
                    decoded.status = next.error();
                    break;
                }
                decoded.status = *next ? takeFrame() : finish();
                if (!*next || !decoded.status)
                    break;
                continue;
            }
            const std::size_t n =
                std::min((pending_.size() - pendingAt_) / channels, frames - done);
            std::memcpy(out + done * channels, pending_.data() + pendingAt_,
                        n * channels * sizeof(std::int16_t));
            pendingAt_ += n * channels;
            done += n;
            position_ += n;
        }
        // The length is never less than what was delivered, also when the decode has just
        // stopped at a damaged part; at a whole end finish() has made it exact.
        frames_ = ended_ ? std::max(frames_, position_) : std::max(estimate_, position_);
        return decoded;
    }

    // From the start again, then decoded up to `frame`: packets carry their own trimming, so
    // only a decode from the start gives the same samples.
    Status seek(std::uint64_t frame) override {
        auto again = FfmpegInput::open(path_);
        if (!again)
            return Error({}, again.error().cause());
        in_ = std::move(*again);
        pending_.clear();
        pendingAt_ = 0;
        position_ = taken_ = pastLimit_ = seenDelay_ = seenPadding_ = 0;
        skip_ = format_.delay;
        drained_ = ended_ = false;
        damage_.clear();
        if (!smpb_)
            skip_ = 0;
        const Result<bool> first = decodeNext();
        if (!first || !*first)
            return first ? because("holds no sound") : first.error();
        if (Status taken = takeFrame(); !taken)
            return taken;
        std::vector<std::int16_t> scratch(8192 * static_cast<std::size_t>(format_.channels));
        while (position_ < frame) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(frame - position_, 8192));
            if (const Decoded got = read(scratch.data(), n); got.frames < n)
                return got.status ? because("the sound ends early") : got.status;
        }
        return {};
    }

private:
    // Reads packets until the decoder gives a frame into in_.frame: true; false at the end; the
    // Error when memory runs out or the decoder cannot be drained. Like the ffmpeg tool, a packet
    // that fails to decode or read is passed over; its words are kept, and finish() decides
    // whether the file is whole.
    Result<bool> decodeNext() {
        AVCodecContext* c = in_.codec.get();
        for (;;) {
            int r = avcodec_receive_frame(c, in_.frame.get());
            if (r == 0)
                return true;
            if (r == AVERROR_EOF)
                return false;
            if (r == AVERROR(ENOMEM))
                return because(avWords(r));
            if (r != AVERROR(EAGAIN)) {
                damage("decoding failed: " + avWords(r));
                continue;
            }
            if (drained_)
                return false;
            r = av_read_frame(in_.format.get(), in_.packet.get());
            if (r < 0) {
                if (r != AVERROR_EOF)
                    damage(avWords(r));
                drained_ = true;
                if ((r = avcodec_send_packet(c, nullptr)) < 0)
                    return because("decoding failed: " + avWords(r));
                continue;
            }
            const AVPacket* p = in_.packet.get();
            if (p->stream_index == in_.stream->index) {
                if (p->flags & AV_PKT_FLAG_CORRUPT)
                    damage("the file is damaged or cut short");
                noteTrimming(p);
                r = avcodec_send_packet(c, p);
                if (r == AVERROR(ENOMEM))
                    return because(avWords(r));
                if (r < 0)
                    damage("decoding failed: " + avWords(r));
            }
            av_packet_unref(in_.packet.get());
        }
    }

    void damage(const std::string& words) {
        if (damage_.empty())
            damage_ = words;
    }

    // The delay and padding the container hands over with the packets, for the format's words.
    void noteTrimming(const AVPacket* p) {
        size_t size = 0;
        const uint8_t* side = av_packet_get_side_data(p, AV_PKT_DATA_SKIP_SAMPLES, &size);
        if (!side || size < 8)
            return;
        seenDelay_ += AV_RL32(side);
        seenPadding_ += AV_RL32(side + 4);
    }

    // Converts in_.frame into pending_, after the iTunes delay and up to its length. A frame at
    // another rate ends the decode.
    Status takeFrame() {
        const AVFrame* f = in_.frame.get();
        pending_.clear();
        pendingAt_ = 0;
        if (f->sample_rate != static_cast<int>(format_.rate)) {
            ended_ = true;
            return because("the sample rate changes from " + std::to_string(format_.rate) + " to " +
                           std::to_string(f->sample_rate) + " Hz within the stream");
        }
        int first = static_cast<int>(std::min<std::uint64_t>(skip_, f->nb_samples));
        skip_ -= static_cast<std::uint64_t>(first);
        int count = f->nb_samples - first;
        if (limit_ > 0) {
            const int kept =
                static_cast<int>(std::min<std::uint64_t>(count, limit_ - std::min(limit_, taken_)));
            pastLimit_ += static_cast<std::uint64_t>(count - kept);
            count = kept;
        }
        taken_ += static_cast<std::uint64_t>(count);
        const int inChannels = f->ch_layout.nb_channels;
        const auto outChannels = static_cast<std::size_t>(format_.channels);
        pending_.resize(static_cast<std::size_t>(count) * outChannels);
        if (downmix_ && inChannels == downmix_->channels()) {
            mixed_.resize(static_cast<std::size_t>(count * inChannels));
            for (int i = 0; i < count; ++i)
                for (int c = 0; c < inChannels; ++c)
                    mixed_[static_cast<std::size_t>(i * inChannels + c)] =
                        sampleAt(f, c, first + i);
            downmix_->mix(mixed_.data(), static_cast<std::size_t>(count), pending_.data());
            return {};
        }
        for (std::size_t c = 0; c < outChannels; ++c) {
            // A mono passage of a stereo stream goes to both sides.
            const int from = std::min(static_cast<int>(c), inChannels - 1);
            convertChannel(f, from, first, count, pending_.data() + c, outChannels);
        }
        return {};
    }

    // One channel of a frame into every `stride`-th sample of `out`, as 16 bits the way FFmpeg's
    // converter makes them (deeper integers keep their top bits, floating point is rounded), with
    // a loop per sample format: a call per sample would cost more than FFmpeg's decode of AAC.
    static void convertChannel(const AVFrame* f, int c, int first, int count, int16_t* out,
                               std::size_t stride) {
        const auto fmt = static_cast<AVSampleFormat>(f->format);
        const bool planar = av_sample_fmt_is_planar(fmt);
        const int step = planar ? 1 : f->ch_layout.nb_channels;
        const int start = planar ? first : first * step + c;
        const uint8_t* base = planar ? f->extended_data[c] : f->extended_data[0];
        const auto each = [&](const auto* in, auto convert) {
            in += start;
            for (int i = 0; i < count; ++i, in += step, out += stride)
                *out = static_cast<int16_t>(convert(*in));
        };
        switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8:
            each(base, [](uint8_t v) { return (v - 128) * 256; });
            break;
        case AV_SAMPLE_FMT_S16:
            each(reinterpret_cast<const int16_t*>(base), [](int16_t v) { return v; });
            break;
        case AV_SAMPLE_FMT_S32:
            each(reinterpret_cast<const int32_t*>(base), [](int32_t v) { return v >> 16; });
            break;
        case AV_SAMPLE_FMT_S64:
            each(reinterpret_cast<const int64_t*>(base), [](int64_t v) { return v >> 48; });
            break;
        case AV_SAMPLE_FMT_FLT:
            each(reinterpret_cast<const float*>(base), floatToInt16);
            break;
        case AV_SAMPLE_FMT_DBL:
            each(reinterpret_cast<const double*>(base), [](double d) {
                const double v = d * 32768.0;
                return v >= 32767.0 ? 32767 : v <= -32768.0 ? -32768 : v == v ? std::lrint(v) : 0;
            });
            break;
        default:
            for (int i = 0; i < count; ++i, out += stride)
                *out = 0; // no other sample format exists
        }
    }

    // The decode has ended: the length is exact now, unless it stopped well short of what the
    // container states (a damaged or cut file), or a packet was damaged in a file that states no
    // length to check against.
    Status finish() {
        ended_ = true;
        const std::uint64_t stated = limit_ > 0 ? limit_ : statedLength_ ? estimate_ : 0;
        const bool whole =
            stated > 0 ? position_ + format_.rate / 10 + 4096 >= stated : damage_.empty();
        if (!whole)
            return because(
                !damage_.empty()
                    ? damage_
                    : "the file states a length of " +
                          clockMillis(frametime::framesToMs(stated, format_.rate)).toStdString());
        frames_ = position_;
        if (!smpb_)
            format_.padding = seenPadding_ + pastLimit_;
        return {};
    }

    std::uint64_t estimatedFrames() {
        const AVStream* st = in_.stream;
        const AVRational perFrame{1, static_cast<int>(format_.rate)};
        const AVFormatContext* fc = in_.format.get();
        statedLength_ = fc->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            return static_cast<std::uint64_t>(av_rescale_q(st->duration, st->time_base, perFrame));
        // AV_TIME_BASE_Q, spelled out: the macro is a C compound literal, which clang refuses
        // in C++ with -Wpedantic.
        if (fc->duration != AV_NOPTS_VALUE && fc->duration > 0)
            return static_cast<std::uint64_t>(
                av_rescale_q(fc->duration, AVRational{1, AV_TIME_BASE}, perFrame));
        statedLength_ = false;
        return 0;
    }

    QString path_;
    FfmpegInput in_;
    std::optional<Downmix> downmix_;
    std::vector<std::int16_t> pending_; // the current frame, converted
    std::size_t pendingAt_ = 0;
    std::vector<float> mixed_; // a frame to mix down, interleaved
    std::uint64_t position_ = 0;
    std::uint64_t estimate_ = 0;
    bool statedLength_ = false; // the container states its length rather than guessing it
    std::uint64_t skip_ = 0;    // frames still to drop at the start (iTunSMPB)
    std::uint64_t limit_ = 0;   // frames in all (iTunSMPB), 0 without
    std::uint64_t taken_ = 0;   // frames converted so far, for limit_
    bool smpb_ = false;         // trimmed by iTunSMPB
    std::string damage_;        // the first packet that failed to read or decode
    std::uint64_t seenDelay_ = 0, seenPadding_ = 0; // trimming the packets carried
    bool drained_ = false;                          // the flush packet has gone to the decoder
    bool ended_ = false;
    // Frames decoded past limit_ and left out: padding too, for the format's words.
    std::uint64_t pastLimit_ = 0;
};

} // namespace

} // namespace quaverly::decode

namespace quaverly::ffmpeg {

Result<decode::DecoderPtr> openDecoder(const QString& path) {
    auto in = decode::FfmpegInput::open(path);
    if (!in)
        return in.error();
    auto decoder = std::make_unique<decode::FfmpegDecoder>(path, std::move(*in));
    if (Status started = decoder->start(); !started)
        return started.error();
    return decode::DecoderPtr(std::move(decoder));
}

} // namespace quaverly::ffmpeg
