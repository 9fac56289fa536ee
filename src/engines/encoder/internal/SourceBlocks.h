#pragma once
// What the Ogg Vorbis, Opus and FLAC encoders share: the source read block by block with the
// stop checked before each block, and their failures in one shape (the target named for the
// encoding and the writing, the source's own Error as it came).

#include "engines/encoder/SongEncode.h"
#include "engines/util/AtomicFile.h"

#include <cstddef>
#include <optional>
#include <stop_token>
#include <vector>

namespace quaverly::encode::internal {

// Frames read from the source at a time; also how often a stop is noticed. libvorbis chooses
// its short and long blocks by what it has been handed so far: in blocks of 1024, as oggenc
// hands them, it writes oggenc's very packets.
inline constexpr std::size_t kBlockFrames = 1024;

inline EncodeFailure encodeFailure(const AtomicFile& out, const QString& cause) {
    return {EncodeStep::Encode, Error(out.target(), cause)};
}

inline EncodeFailure writeFailure(const Error& error) {
    return {EncodeStep::Write, error};
}

inline EncodeFailure cancelled(const AtomicFile& out) {
    return {EncodeStep::Cancel, Error(out.target(), QStringLiteral("cancelled"))};
}

// Hands every block of interleaved float frames of `source` to consume(const float*, frames)
// (frames > 0), which returns a failure or nullopt, until the source ends. A stop requested is
// EncodeStep::Cancel, a failed read the source's Error (EncodeStep::Source).
template <typename Consume>
std::optional<EncodeFailure> forEachBlock(PcmSource& source, const AtomicFile& out,
                                          const std::stop_token& stop, Consume&& consume) {
    std::vector<float> block(kBlockFrames * std::size_t(source.channels()));
    for (;;) {
        if (stop.stop_requested())
            return cancelled(out);
        const Result<std::size_t> got = source.read(block.data(), kBlockFrames);
        if (!got)
            return EncodeFailure{EncodeStep::Source, got.error()};
        if (*got == 0)
            return std::nullopt;
        if (auto failed = consume(static_cast<const float*>(block.data()), *got))
            return failed;
    }
}

} // namespace quaverly::encode::internal
