#pragma once
// Decoders behind the decode-only file streams. Each turns one file into interleaved 16-bit
// signed PCM in native byte order, mono or stereo, at one fixed rate, and knows the exact number
// of frames (one sample per channel) it will deliver as soon as it is open.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quaverly::bass::detail {

struct DecodedFormat {
    std::uint32_t rate = 0;
    int channels = 0;          // 1 or 2
    std::uint32_t ctype = 0;   // BASS_CTYPE_STREAM_*
    std::uint32_t origres = 0; // bits per sample of the source, 0 when not meaningful (MPEG)
    // The source switches between mono and stereo frames; the output is stereo throughout.
    bool channelsChange = false;
};

class Decoder {
public:
    virtual ~Decoder() = default;

    const DecodedFormat& format() const { return format_; }
    // Frames the decoder delivers from the start to the end, exact.
    std::uint64_t frames() const { return frames_; }

    // Decodes up to `frames` frames into `out`. Fewer only at the end of the stream or when the
    // source turns out damaged; then errorText() says why (empty at a normal end).
    virtual std::size_t read(std::int16_t* out, std::size_t frames) = 0;
    // Positions at `frame` (0 to frames()); the next read starts there. False on failure, with
    // errorText() set.
    virtual bool seek(std::uint64_t frame) = 0;

    const std::string& errorText() const { return errorText_; }

protected:
    DecodedFormat format_;
    std::uint64_t frames_ = 0;
    std::string errorText_;
};

// A C stdio file with its one owner. Opened from a UTF-8 path on every platform.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;
CFile openFileUtf8(const char* path);

// Open functions: on failure they return null and have called setError() with the layer's code
// (BASS_ERROR_FILEFORM, BASS_ERROR_FORMAT, BASS_ERROR_MEM, ...) and a readable text.

// RIFF/WAVE files through libsndfile, by the program's one reader (SndfileReader), which opens
// `path` itself (a UTF-8 path).
std::unique_ptr<Decoder> openWavDecoder(const char* path);
// MPEG audio (layers I to III, MPEG 1, 2 and 2.5) through libmpg123. `file` is the opened file,
// positioned anywhere; the decoder takes it over. `path` only names the file in error texts.
std::unique_ptr<Decoder> openMpegDecoder(CFile file, const char* path);

// 64-bit positioning of a stdio file on every platform.
int seekFile(std::FILE* f, std::int64_t offset, int whence);
std::int64_t tellFile(std::FILE* f);

} // namespace quaverly::bass::detail
