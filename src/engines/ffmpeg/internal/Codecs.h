#pragma once
// FFmpeg's part of the sound core lives in a module of its own (quaverly_ffmpeg), loaded the
// first time a song or a clip needs it: FFmpeg and the hundred libraries it brings take about
// 60 ms to load, which every start of the programs paid before, WAV and MP3 work included.
//
// The module hands out one table of functions. The core calls them only through the forwarders
// it keeps under their old names (decode::openFfmpegDecoder, encode::internal::encodeAac and
// aacEncoderPresent, framecopy::internal::probeM4a and copyM4a), which load the module on first
// use.
//
// Threads: any thread may call codecs() and the table's functions; the first call loads the
// module, later ones only read the table.

#include "engines/decode/internal/Decoder.h"
#include "engines/encoder/SongEncode.h"
#include "engines/encoder/internal/FrameCopies.h"
#include "engines/util/Error.h"

#include <cstdint>
#include <optional>
#include <stop_token>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::ffmpeg {

struct Codecs {
    // The table's layout: a module from another build of the programs is refused.
    static constexpr std::uint32_t kLayout = 4;
    std::uint32_t layout = kLayout;
    Result<decode::DecoderPtr> (*openDecoder)(const QString& path);
    Status (*encodeAac)(encode::PcmSource& source, const QString& sourceName, AtomicFile& out,
                        int kbps, int threads, const std::stop_token& stop, AacGapless* gapless);
    bool (*aacEncoderPresent)();
    Result<framecopy::internal::SongStream> (*probeM4a)(const QString& song);
    Status (*copyM4a)(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
                      const WorkProgress& work, AacGapless* gapless);
};

// The module's functions behind the table (see decode::openFfmpegDecoder and
// encode::internal::encodeAac, framecopy::internal::probeM4a for what they do). They take what they
// need as plain values (the bit rate, the codec threads), so that the module needs none of the
// core's settings: the pieces of the core it uses are copies of its own, with their own state.
Result<decode::DecoderPtr> openDecoder(const QString& path);
Status encodeAac(encode::PcmSource& source, const QString& sourceName, AtomicFile& out, int kbps,
                 int threads, const std::stop_token& stop, AacGapless* gapless);
bool aacEncoderPresent();
Result<framecopy::internal::SongStream> probeM4a(const QString& song);
Status copyM4a(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work, AacGapless* gapless);

// The module's table, loaded on first use; when the module cannot be found or loaded, the cause
// in words ("cannot load FFmpeg support (…): …"), the same every time.
Result<const Codecs*> codecs();

} // namespace quaverly::ffmpeg
