#pragma once
// What the Ogg Vorbis, Opus and FLAC encoders share: the source read block by block with the
// stop checked before each block, and their failures in one shape (the target named for the
// encoding and the writing, the source's own Error as it came).

#include "engines/encoder/SongEncode.h"
#include "engines/util/AtomicFile.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <stop_token>
#include <vector>

namespace quaverly::encode::internal {

// Frames handed to an encoder at a time; also how often a stop is noticed. libvorbis chooses
// its short and long blocks by what it has been handed so far: in blocks of 1024, as oggenc
// hands them, it writes oggenc's very packets.
inline constexpr std::size_t kBlockFrames = 1024;
// Frames asked of the source at a time, handed on in blocks of kBlockFrames (the last of a read
// shorter). A file source fills every read, so the blocks are the same as reads of kBlockFrames
// would give, at a sixteenth of the system calls and progress reports.
inline constexpr std::size_t kReadFrames = 16 * kBlockFrames;

inline Error encodeFailure(const AtomicFile& out, const QString& cause) {
    return Error(out.target(), cause).during(EncodeStep::Encode);
}

inline Error writeFailure(const Error& error) {
    return error.during(EncodeStep::Write);
}

inline Error cancelled(const AtomicFile& out) {
    return Error(out.target(), QStringLiteral("cancelled")).during(EncodeStep::Cancel);
}

// Hands every block of interleaved float frames of `source` to consume(const float*, frames)
// (frames > 0), which returns a Status, until the source ends. A stop requested is
// EncodeStep::Cancel, a failed read the source's Error (EncodeStep::Source).
template <typename Consume>
Status forEachBlock(PcmSource& source, const AtomicFile& out, const std::stop_token& stop,
                    Consume&& consume) {
    const auto channels = std::size_t(source.channels());
    std::vector<float> read(kReadFrames * channels);
    for (;;) {
        if (stop.stop_requested())
            return cancelled(out);
        const Result<std::size_t> got = source.read(read.data(), kReadFrames);
        if (!got)
            return got.error().during(EncodeStep::Source);
        if (*got == 0)
            return {};
        for (std::size_t at = 0; at < *got; at += kBlockFrames) {
            if (at > 0 && stop.stop_requested())
                return cancelled(out);
            const float* block = read.data() + at * channels;
            if (Status failed = consume(block, std::min(kBlockFrames, *got - at)); !failed)
                return failed;
        }
    }
}

} // namespace quaverly::encode::internal
