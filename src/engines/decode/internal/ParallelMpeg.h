#pragma once
// Decoding a Layer III stream on several threads with the very samples of one pass from the
// first byte to the last.
//
// The stream is cut into slices of consecutive frames. Each slice is decoded by a handle of its
// own, fed the file's bytes from a few frames before the slice (the lead-in), whose output is
// dropped: the lead-in fills the bit reservoir and the overlap of the frames before the slice,
// and starts the synthesis filter at the phase the one pass has there, so the slice's samples
// are those of the one pass. The lead-in is chosen from the frame sizes (the largest back
// reference of the bit reservoir), not a fixed count, which low bit rates would outrun.
//
// Only streams where sample positions follow from frame counts qualify (planParallelMpeg): one
// layer, version, rate and channel mode throughout, no free format, frames back to back, and
// gapless trimming whose numbers add up. Everything else is decoded in one pass.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quaverly::decode {

// One MPEG audio frame of the file, as the header survey found it.
struct MpegFrame {
    std::int64_t offset = 0;     // of its header in the file
    std::uint32_t size = 0;      // header included
    std::uint16_t mainBytes = 0; // bytes after header, CRC and side information
};

// What the survey found out about the whole stream, for the plan.
struct MpegStreamFacts {
    QString path;
    std::vector<MpegFrame> frames; // the audio frames (a Xing/Info frame is not one)
    int layer = 0;
    int version = 0;      // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5 (libmpg123's numbering)
    bool uniform = true;  // one layer, version, rate and channel mode; no free format
    bool adjacent = true; // every frame starts where the one before it ends
    long rate = 0;
    int channels = 0;
    long encoderDelay = -1;   // from the LAME tag, -1 without one
    long encoderPadding = -1; // likewise
    bool gapless = false;     // trimming by the tag is on
    bool measured = false;    // the length was found by decoding
    std::uint64_t length = 0; // frames (one sample per channel) the one pass delivers

    // Adds the next frame the survey met, at byte `offset`, with its header's fields. Changes
    // between mono and stereo are not looked at here: the survey knows them.
    void add(std::int64_t offset, int size, int frameLayer, int frameVersion, long frameRate,
             bool mono, bool crc, bool freeFormat);
};

// The layout of a stream the engine may decode. Shared read-only by the decoder and the
// engine's threads.
struct MpegLayout {
    QString path;
    std::vector<MpegFrame> frames;
    long rate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    int maxMainDataBegin = 0; // how far back the bit reservoir may reach, in bytes
    int phasePeriod = 0;      // frames after which the synthesis filter is at the same phase
    std::uint64_t begin = 0;  // decoded samples the one pass drops at the start
    std::uint64_t length = 0; // samples it delivers after them
};

// The layout when the stream qualifies for the engine, nullptr when it is decoded in one pass.
std::shared_ptr<const MpegLayout> planParallelMpeg(MpegStreamFacts facts);

// Frames per slice: a few hundred, so that the lead-in costs little and memory stays small.
std::size_t mpegSliceFrames();
// For tests: n > 0 replaces the slice size (so short files get many slices) until it is called
// with 0 again.
void setMpegSliceFramesForTesting(int n);

// Slices decoded as planned since the program started: shows tests and diagnostics that the
// engine ran.
std::uint64_t mpegSlicesDecoded();

// Decodes slices ahead on the worker threads of an OrderedPool and hands the samples out in
// order, from the start of the stream. At most two slices per thread are in flight, the one
// being read included.
//
// Threads: created, read and destroyed on the decoder's thread; the workers touch only the
// shared layout and their own handles and files. The destructor stops and joins them.
class ParallelMpeg {
public:
    ParallelMpeg(std::shared_ptr<const MpegLayout> layout, int threads);
    ~ParallelMpeg();
    ParallelMpeg(const ParallelMpeg&) = delete;
    ParallelMpeg& operator=(const ParallelMpeg&) = delete;

    // Up to `frames` frames of the one pass's output, continuing where the last call ended.
    // Fewer at the end of the stream, or when a slice could not be decoded as planned: then
    // failed() is true and the caller goes on without the engine.
    std::size_t read(std::int16_t* out, std::size_t frames);
    bool failed() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }

private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
    std::string failure_;
};

} // namespace quaverly::decode
