#pragma once
// The song reader: any song file the program takes, read as 16-bit PCM.
//
// The kind of file is found from its content, never from its name:
// - WAV (PCM of 8 to 32 bits, float, extensible, A-law, ...), FLAC, AIFF/AIFC, CAF, W64, RF64
//   and Ogg Vorbis through libsndfile, bit-exact (Vorbis: as libvorbis decodes it);
// - MPEG audio (MP3, MP2, MP1; MPEG 1, 2 and 2.5) through libmpg123, gapless, decoded on several
//   threads where the stream allows it;
// - everything else that holds audio through FFmpeg (libavformat, libavcodec): MP4/M4A with AAC
//   or ALAC, raw AAC, Opus, Ogg FLAC and Speex, WMA, Matroska/WebM, WavPack, Monkey's Audio,
//   Musepack, the first sound track of a video; the same samples as `ffmpeg -i IN OUT.wav`,
//   delay and padding removed as the file declares.
// engines/formats/Formats.h holds how each kind is recognised and which library reads it, and
// names the kinds for people, with the names their files usually have.
// Output is interleaved 16-bit signed PCM in native byte order at the source's rate (Opus:
// 48 kHz), mono or stereo. Deeper integer samples keep their top 16 bits, floating point is
// rounded to nearest; more than two channels are mixed down to stereo (see Downmix.h in
// internal/). An MPEG stream whose frames change between mono and stereo is stereo throughout,
// and one whose rate changes keeps its first rate.
//
// The length in frames is exact from the open where the file states it (SongFormat::lengthExact),
// else from the end of the decode on. A decode that cannot reach a stated length (a read error, a
// file that shrank or is damaged) is a failure, never padded with silence: read() delivers what
// was decoded and then fails with the cause.
//
// No device and no set-up are needed. Not thread-safe: one thread at a time uses a reader; any
// number of readers may work side by side.

#include "engines/util/Error.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quaverly {

namespace decode {
class Decoder;
}

// What the file holds.
enum class SongKind {
    Wav,
    MpegLayer1,
    MpegLayer2,
    MpegLayer3,
    Flac,
    Aiff,
    Caf,
    Wave64,
    Rf64,
    Vorbis,
    Opus,
    Aac,
    Alac,
    Other, // anything else FFmpeg reads (WMA, AC-3, ...): codec names it
};

struct SongFormat {
    std::uint32_t rate = 0; // Hz
    int channels = 0;       // of what read() delivers: 1 or 2
    SongKind kind = SongKind::Wav;
    int sourceBits = 0; // bits per sample of the source; 0 for MPEG audio and compressed codecs
    // The MPEG source switches between mono and stereo frames; its mono passages are delivered
    // on both sides.
    bool channelsChange = false;
    // Channels in the file; more than two are mixed down to stereo.
    int sourceChannels = 0;
    // For people: the codec ("FLAC", "AAC", "PCM 24-bit", "MP3") and the container ("WAV",
    // "MP4", "Ogg", "MPEG audio") as the reading library names them.
    QString codec;
    QString container;
    // Frames of encoder delay removed at the start and of padding removed at the end, as the
    // file declares them (LAME tag, MP4 edit list or iTunSMPB, Opus pre-skip, Vorbis granules).
    std::uint64_t delay = 0;
    std::uint64_t padding = 0;
    // Whether frames() is exact from the open. Some containers only tell their length once the
    // last packet is decoded; until then frames() is the container's estimate, used for
    // progress, and a read at the true end returns 0 and makes frames() exact.
    bool lengthExact = true;
};

class SongReader {
public:
    // Opens `path`. Errors name it, with the codes the window shows: sound::kFileOpen (missing,
    // not a regular file, unreadable), kFileForm (empty, of no kind that is read: "holds no audio
    // that Quaverly reads", damaged, "holds no audio", "is copy-protected and cannot be read"),
    // kFormat (no channels, no rate), kMemory.
    static Result<SongReader> open(const QString& path);

    SongReader(SongReader&&) noexcept;
    SongReader& operator=(SongReader&&) noexcept;
    ~SongReader();

    const QString& path() const { return path_; }
    const SongFormat& format() const;
    // Frames from the start to the end: exact when format().lengthExact, else an estimate (at
    // least the frames read so far) until read() has met the end.
    std::uint64_t frames() const;
    // The frame the next read starts at.
    std::uint64_t position() const { return position_; }

    // Up to `frames` whole frames into `out` (frames × channels samples); 0 only at the end.
    // Should the decoder stop before frames(), what it decoded is delivered and from then on
    // every read fails (sound::kNotAvail, "the sound breaks off at 1:23.456 of 3:45: cause", the
    // length left out where it is not known), until seek().
    Result<std::size_t> read(std::int16_t* out, std::size_t frames);
    // Any frame from 0 to frames(); the next read starts there. sound::kPosition past the end.
    Status seek(std::uint64_t frame);

    // For tests of decoding MPEG audio on several threads (see CodecThreads.h for the number of
    // threads): n > 0 makes the slices of frames decoded apart n frames long, so that short files
    // are cut into many, until it is called with 0 again; and how many slices have been decoded
    // apart since the program started, which shows that the threads ran.
    static void setMpegSliceFramesForTesting(int n);
    static std::uint64_t mpegSlicesDecoded();
    // The same for FLAC, whose chunks of frames are decoded apart.
    static void setFlacChunkFramesForTesting(std::uint64_t n);
    static std::uint64_t flacChunksDecoded();

private:
    SongReader(QString path, std::unique_ptr<decode::Decoder> decoder);

    QString path_;
    std::unique_ptr<decode::Decoder> decoder_;
    std::uint64_t position_ = 0;
    QString failure_;    // why the decoder stopped early; empty while it has not
    bool ended_ = false; // a length not exact from the open has been read to its true end
};

} // namespace quaverly
