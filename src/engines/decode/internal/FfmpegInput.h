#pragma once
// One FFmpeg input: a file opened by libavformat, its first audio stream and a libavcodec
// decoder for it, each handle with its one owner. The decoder behind the song reader builds on
// this; it is apart so that it can be opened again from the start (a seek).

#include "engines/util/Error.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace quaverly::decode {

struct AvFormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct AvCodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using AvFormatPtr = std::unique_ptr<AVFormatContext, AvFormatCloser>;
using AvCodecPtr = std::unique_ptr<AVCodecContext, AvCodecCloser>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFree>;

// FFmpeg's words for one of its error codes.
std::string avWords(int code);

// Silences FFmpeg's log and bounds its allocations, once for the process; every user of FFmpeg
// (the readers, the encoders) calls it before anything else of FFmpeg.
void setUpLibrary();

// The iTunes gapless field iTunSMPB (of the file, else of the stream): the encoder's delay, its
// padding and the sound's exact length, in frames; nullopt without a readable one or with a
// length of 0. The song reader trims by it, and a clip that keeps an MP4 song's packets finds the
// song's sound as the reader does.
struct ItunesGapless {
    std::uint64_t delay = 0, padding = 0, length = 0;
};
std::optional<ItunesGapless> itunesGapless(const AVFormatContext* fc, const AVStream* st);

struct FfmpegInput {
    AvFormatPtr format;
    AvCodecPtr codec;
    AVStream* stream = nullptr; // owned by `format`
    AvPacketPtr packet;
    AvFramePtr frame;

    // Opens `path`: only the file itself (no network, no playlists naming other files), the
    // first audio stream (a video's sound track), other streams discarded. Errors name `path`:
    // sound::kFileForm for what FFmpeg does not read or holds no audio ("holds no audio"), for
    // a copy-protected stream ("is copy-protected and cannot be read") and for a codec without
    // a decoder; kFileOpen when the file cannot be opened; kMemory.
    static Result<FfmpegInput> open(const QString& path);

    // The container's name for people ("MP4", "Ogg", "ASF", ...).
    QString containerName() const;
    QString codecName() const;
};

} // namespace quaverly::decode
