#pragma once
// The two halves of an AAC file: FFmpeg's native AAC-LC encoder (interleaved float in, packets
// out) and its iPod MP4 muxer writing those packets into an AtomicFile. A single pass joins them
// directly; the encoding on several threads runs an encoder per segment and hands the packets
// it keeps to the one muxer.
//
// Each object is used by one thread at a time; the encoders of different segments may run at
// once on different threads.

#include "engines/decode/internal/FfmpegInput.h"
#include "engines/encoder/Mp3Encode.h"
#include "engines/encoder/internal/AvioFile.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::encode::internal {

// Samples per AAC-LC packet.
inline constexpr int kAacFrame = 1024;

class AacCodec {
public:
    // Takes each packet as it comes out (its timestamps are the encoder's, in samples from the
    // first frame given, the priming packet at -1024); a failure stops the encoding.
    using Sink = std::function<Status(AVPacket& packet)>;

    // `target` names the file in failures.
    explicit AacCodec(QString target) : target_(std::move(target)) {}

    Status open(int sampleRate, int channels, int kbps);
    // Encodes interleaved frames (full scale +-1).
    Status add(const float* pcm, std::size_t frames, const Sink& sink);
    // Encodes what is left (a short last frame) and drains the encoder.
    Status finish(const Sink& sink);

    const AVCodecContext& context() const { return *codec_; }

private:
    Status sendFrame(const Sink& sink);
    Status drain(const Sink& sink);
    Error failed(const QString& cause) const;

    QString target_;
    decode::AvCodecPtr codec_;
    decode::AvFramePtr frame_; // planar, kAacFrame frames
    decode::AvPacketPtr packet_;
    int fill_ = 0;          // frames in frame_ so far
    std::int64_t sent_ = 0; // frames handed to the encoder
};

class Mp4Writer {
public:
    // `out` is open and outlives this; it is not committed here.
    explicit Mp4Writer(AtomicFile& out);

    // The stream as `codec` (opened) encodes it; the movie's times count samples, so the edit
    // list states the sound's ends to the sample.
    Status open(const AVCodecContext& codec);
    // The same for a stream as `codec` describes it (a song's own, whose packets are copied).
    Status open(const AVCodecParameters& codec);
    // Writes one packet at `pts` (samples; negative ones are priming, which the edit list
    // skips) for `duration` samples (a packet's, or less for the last, where the sound ends).
    Status write(AVPacket& packet, std::int64_t pts, std::int64_t duration);
    // Writes the index (and fills in the sizes written before).
    Status finish();

    std::int64_t packets() const { return packets_; }

private:
    struct OutputFree {
        void operator()(AVFormatContext* f) const { avformat_free_context(f); }
    };
    Error failed(const char* what, int code) const;

    AtomicFile& out_;
    AvioFile io_; // outlives format_, which writes through it
    std::unique_ptr<AVFormatContext, OutputFree> format_;
    AVStream* stream_ = nullptr; // owned by format_
    AVRational timeBase_{};
    std::int64_t packets_ = 0;
};

} // namespace quaverly::encode::internal
