#pragma once
// The decoders behind the song reader. Each turns one file into interleaved 16-bit signed PCM in
// native byte order, mono or stereo, at one fixed rate, and knows the exact number of frames (one
// sample per channel) it will deliver as soon as it is open.

#include "engines/decode/SongReader.h"
#include "engines/util/Error.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace quaverly::decode {

// What one read delivered: the frames, and why they are fewer than asked for. At the end of the
// stream the status is ok; when the source turned out damaged or unreadable it holds the Error
// (the cause alone), and the frames are those decoded before the failure.
struct Decoded {
    std::size_t frames = 0;
    Status status;
};

class Decoder {
public:
    virtual ~Decoder() = default;

    const SongFormat& format() const { return format_; }
    // Frames the decoder delivers from the start to the end, exact.
    std::uint64_t frames() const { return frames_; }

    // Decodes up to `frames` frames into `out`. Fewer only at the end of the stream or when the
    // source turns out damaged (see Decoded). A decoder whose length is not exact from the open
    // keeps frames() at least at what it delivered, and exact from its end on.
    virtual Decoded read(std::int16_t* out, std::size_t frames) = 0;
    // Positions at `frame` (0 to frames()); the next read starts there. The Error holds the
    // cause alone.
    virtual Status seek(std::uint64_t frame) = 0;

protected:
    SongFormat format_;
    std::uint64_t frames_ = 0;
};

using DecoderPtr = std::unique_ptr<Decoder>;

// A C stdio file with its one owner, opened for reading with a large buffer.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;
CFile openFile(const QString& path);

// Open functions: on failure an Error naming `path`, with the cause and the code the window shows
// (sound::kFileOpen, kFileForm, kFormat, kMemory, ...).

// WAV, FLAC, AIFF/AIFC, CAF, W64 and RF64 files through libsndfile, by the program's one reader
// (SndfileReader), which opens `path` itself.
Result<DecoderPtr> openSndfileDecoder(const QString& path);
// Anything FFmpeg reads that holds audio (MP4/M4A, ADTS, Ogg, ASF, Matroska, video files, ...).
// Its length is exact only once the end is decoded (SongFormat::lengthExact is false).
Result<DecoderPtr> openFfmpegDecoder(const QString& path);
// MPEG audio (layers I to III, MPEG 1, 2 and 2.5) through libmpg123. `file` is the opened file,
// positioned anywhere; the decoder takes it over.
Result<DecoderPtr> openMpegDecoder(CFile file, const QString& path);

// 64-bit positioning of a stdio file on every platform.
int seekFile(std::FILE* f, std::int64_t offset, int whence);
std::int64_t tellFile(std::FILE* f);

} // namespace quaverly::decode
