#pragma once
// Zero crossings of a song, where a clip can start or end without a click.
//
// The signal is the sum of the channels (what a mono mix of the song plays; a stereo song's two
// channels seldom cross together, their sum is what is heard at the cut). A crossing is a
// boundary between two frames: boundary k lies between frames k-1 and k, and is a crossing when
// the signal at k-1 and at k have opposite signs or either is exactly zero. Frames outside the
// song count as silence, so the song's very start and end are crossings, and in silence every
// boundary is one.
//
// Threads: pure functions and plain file reads; callable from any thread.

#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quaverly {

// The crossing nearest to boundary `target` among the boundaries lo..hi (both included; ties go
// to the earlier one), where signal[i] is frame first + i; a boundary needs the frames on both
// of its sides in `signal` unless they lie outside the song of `frames` frames. nullopt when
// there is none.
std::optional<std::uint64_t> nearestCrossing(std::span<const std::int32_t> signal,
                                             std::uint64_t first, std::uint64_t frames,
                                             std::uint64_t target, std::uint64_t lo,
                                             std::uint64_t hi);

// The signal of frames [from, from + count) of the 8 or 16-bit PCM WAV `path`, clamped to the
// song, on the 16-bit scale (8-bit samples u as (u - 128) * 256), or the reader's Error.
Result<std::vector<std::int32_t>> readSignal(const QString& path, std::uint64_t from,
                                             std::uint64_t count);

// nearestCrossing() over the file: reads just the frames around lo..hi.
std::optional<std::uint64_t> findZeroCrossing(const QString& path, const WavLayout& layout,
                                              std::uint64_t target, std::uint64_t lo,
                                              std::uint64_t hi);

} // namespace quaverly
