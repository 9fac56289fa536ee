#pragma once
// The one reader of the samples of the WAV files the program reads, and the one place where
// sample bytes become numbers and numbers sample bytes.
//
// Plain PCM (isPlainPcm: the working copies, cuts, joins and takes) is read straight from the
// file: fast, and exact to the byte. Any other WAV file libsndfile reads (extensible, 24 or
// 32-bit, float, A-law, RF64, ...) is read through SndfileReader. Either way the samples come out
// on libsndfile's scales, so a file gives the same numbers whichever way it is read:
//  - 16-bit: 8-bit samples u as (u - 128) * 256, deeper ones with their low bits dropped;
//  - float: 16-bit samples s as s / 32768, 8-bit ones as (u - 128) / 128.
// The MP3 encoder's input, and so its bytes, depend on that.
//
// Reads give whole frames, exactly as many as asked for until the end of the sound. A file that
// ends before the sound it announced (it shrank while it was read) fails the read, as does a
// read the system refuses; the Error names the file and gives the cause in words.
//
// Not thread-safe: one thread at a time. A player may open a reader on one thread and hand it
// to its reading thread; the reader allocates only while its blocks grow, never blocks but on
// the file, and must not be used from a sound device's callback.

#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class QFile;

namespace quaverly {

class SndfileReader;

namespace pcm {

// Plain PCM sample bytes (8-bit unsigned, 16-bit signed little-endian) of `samples` samples as
// 16-bit samples, on libsndfile's scale.
void toShorts(const char* bytes, std::size_t samples, int bits, std::int16_t* out);
// The same as floats, full scale +-1, on libsndfile's scale.
void toFloats(const char* bytes, std::size_t samples, int bits, float* out);
// 16-bit samples as plain PCM bytes of `bits` bits: 8-bit ones as (s >> 8) + 128, as libsndfile
// writes them.
void fromShorts(const std::int16_t* samples, std::size_t count, int bits, char* out);

} // namespace pcm

class SampleReader {
public:
    // Error codes (sound::Code) of the failures: kFileOpen, the file cannot be opened or read;
    // kFileForm, not a WAV file that is read; kFormat, not plain PCM (openPlain); kNotAvail, the
    // file ends before its sound.
    static Result<SampleReader> open(const QString& path);
    // Plain PCM only: the cut, the effects, the peaks and the byte-for-byte joins need its
    // bytes.
    static Result<SampleReader> openPlain(const QString& path);

    SampleReader(SampleReader&&) noexcept;
    SampleReader& operator=(SampleReader&&) noexcept;
    ~SampleReader();

    const QString& path() const { return path_; }
    int channels() const { return channels_; }
    std::uint32_t sampleRate() const { return sampleRate_; }
    std::int64_t frames() const { return frames_; } // exact
    std::int64_t position() const { return position_; }
    // Read straight from the file; then layout() tells where its samples are and what they are.
    bool plain() const { return file_ != nullptr; }
    const WavLayout& layout() const { return layout_; }

    // Positions the next read at `frame` (0 to frames()).
    Status seek(std::int64_t frame);
    // Read up to `frames` interleaved frames from position(): fewer only at the end of the
    // sound, 0 there.
    Result<std::size_t> readShorts(std::int16_t* out, std::size_t frames);
    Result<std::size_t> readFloats(float* out, std::size_t frames);
    // Plain PCM only: the frames' bytes as they are in the file (frames x layout().blockAlign).
    Result<std::size_t> readRaw(char* out, std::size_t frames);

private:
    SampleReader();
    static Result<SampleReader> openAny(const QString& path, bool plainOnly);
    Status openThroughSndfile();
    Error fail(const QString& cause, int code) const { return Error(path_, cause, code); }
    template <typename T, typename Convert>
    Result<std::size_t> readConverted(T* out, std::size_t frames, Convert convert);

    QString path_;
    int channels_ = 0;
    std::uint32_t sampleRate_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t position_ = 0;
    WavLayout layout_;
    std::unique_ptr<QFile> file_;            // plain PCM
    std::unique_ptr<SndfileReader> sndfile_; // any other WAV
    std::vector<char> bytes_;                // a plain block before its conversion
};

} // namespace quaverly
