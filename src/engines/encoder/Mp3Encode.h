#pragma once
// One WAV file, or any sound source, into one constant-bit-rate MP3 file with libmp3lame.
// Everything here keeps no state between calls, so it may run on any thread, and
// several calls may run at once on different files.

#include "engines/util/Error.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>

namespace quaverly::mp3 {

// Every constant bit rate (kbit/s) that MPEG Layer III defines, MPEG-1 and MPEG-2/2.5 together.
inline constexpr std::array<int, 18> kBitRates{8,  16,  24,  32,  40,  48,  56,  64,  80,
                                               96, 112, 128, 144, 160, 192, 224, 256, 320};

bool isValidBitRate(int kbps);

// True when LAME writes frames of exactly kbps at sampleRate. LAME's tables: MPEG-1 (32, 44.1,
// 48 kHz) 32-320 kbit/s, MPEG-2 (16, 22.05, 24 kHz) 8-160, MPEG-2.5 (8, 11.025, 12 kHz) 8-64;
// LAME silently changes a bit rate outside them, so we never hand it one.
bool lameWritesBitRate(int kbps, int sampleRate);

// True when LAME's gapless tag frame fits into one frame of kbps at sampleRate: it needs
// (side information + 156) bytes, and LAME drops the tag without a word when the frame is smaller
// (56 kbit/s stereo at 44.1 or 48 kHz, for example). Without the tag decoders play the encoder
// delay and padding as extra silence. At 8 and 16 kbit/s no sample rate leaves room for it.
bool gaplessTagFits(int kbps, int sampleRate, int channels);

// The sample rate the MP3 is written at: one where LAME writes kbps and, wherever the bit rate
// allows it at all, the gapless tag fits. The source's own rate when it qualifies, so nothing is
// resampled. Otherwise the lowest qualifying rate above the source's (upwards keeps all of its
// bandwidth: 22.05 kHz at 256 kbit/s becomes 32 kHz, 37.8 kHz becomes 44.1 kHz, 8 kHz at
// 96 kbit/s becomes 16 kHz); when there is none (sources above 48 kHz, or a bit rate that only
// lower rates allow: 56 kbit/s stereo at 44.1 kHz becomes 32 kHz) the highest qualifying rate, or
// a close one that divides the source rate (88.2 kHz becomes 44.1 kHz, 96 kHz becomes 48 kHz).
// 0 when kbps is not valid.
int encodingSampleRate(int sourceRate, int kbps, int channels);

// What a failed encoding was doing when it failed: its Error carries it (Error::during). The
// window and the command line word the failure by it ("Cannot read \"<file>\": <cause>", ...);
// the Error names the file once.
enum class EncodeStep {
    ReadWav = 1, // reading the WAV source (the Error names it)
    Source,      // a PcmSource failed: its Error as the source gave it
    Encode,      // the sound or the bit rate cannot be encoded, or LAME failed (the Error names the
                 // file concerned: the source, or the target; none when no source was given)
    Resample,    // resampling the source (the Error names it)
    Write,       // writing the target (the Error names it)
    Cancel,      // the stop was requested (the Error names the target)
};

// The step an encoding's Error was met at; Encode when it carries none.
inline EncodeStep encodeStep(const Error& error) {
    return error.step() == 0 ? EncodeStep::Encode : static_cast<EncodeStep>(error.step());
}

// Sound handed to the encoder block by block, in order. Called by one thread at a time: the
// encoder's, or one reading ahead for it.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    virtual int channels() const = 0; // 1 or 2
    virtual int sampleRate() const = 0;
    // Up to `frames` interleaved float frames (full scale +-1) into dst, and how many; 0 at the
    // end. The encoder passes a failure on as it is (EncodeStep::Source).
    virtual Result<std::size_t> read(float* dst, std::size_t frames) = 0;
    // Starts again from the first frame; false when the source cannot. The encoder asks only in
    // the rare case that it must encode the sound once more.
    virtual bool rewind() { return false; }
    // Sample frames the source is expected to give, about; -1 when it cannot tell. The encoder
    // spreads its work evenly over its threads by it.
    virtual std::int64_t lengthHint() const { return -1; }
};

// For tests and benchmarks: how the encoding on several threads (codecThreads() > 1) cuts the
// sound into segments, in MPEG frames. A plan set here is taken as it is, from the first frame
// on, so segment k starts at frame k x `frames`, its encoder `leadIn` frames earlier, and the
// splice with the segment before lies in frames [k x frames - leadIn + settle,
// k x frames + leadOut - 5]. nullopt restores the normal plan (the values below, the segments
// evened out over the threads when the length is known).
struct SegmentPlan {
    int frames = 768; // about 20 s at 44.1 kHz
    int leadIn = 24;  // frames encoded before the segment by its encoder
    int leadOut = 24; // frames encoded after the segment by its encoder
    int settle = 8;   // frames of lead-in at least, and 4 of lead-out, before a splice
};
void setSegmentPlanForTesting(std::optional<SegmentPlan> plan);

// Encodes everything `source` delivers into targetMp3, as encodeWavToMp3 does for a WAV file.
// `sourceName` names the source in messages about it as a whole.
// Success once the target is complete and in place; a failure's Error carries its EncodeStep.
Status encodeToMp3(PcmSource& source, const QString& sourceName, const QString& targetMp3, int kbps,
                   std::stop_token stop = {});

// Encodes sourceWav (any WAV that libsndfile reads: 8/16/24/32-bit, float, extensible, extra
// chunks; mono or stereo) into targetMp3 at exactly kbps, exact CBR, with LAME's default quality
// for that bit rate, mono as mono and stereo as joint stereo, resampled with libsoxr when
// encodingSampleRate() says so. The source is read in blocks, so memory stays small whatever its
// length. The MP3 is written under a temporary name beside the target and replaces the target only
// once complete: on any failure the target is as it was and nothing is left behind. The first
// frame carries LAME's tag with the encoder delay and padding, so a gapless decoder gives back
// exactly the source's sample frames (at the encoding rate; at 8 and 16 kbit/s, where the tag
// cannot fit, LAME's delay and padding remain). When stop is requested the work ends
// within one block, as a failure (EncodeStep::Cancel).
Status encodeWavToMp3(const QString& sourceWav, const QString& targetMp3, int kbps,
                      std::stop_token stop = {});

} // namespace quaverly::mp3
