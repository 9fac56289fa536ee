#pragma once
// Decoding one slice of a Layer III stream laid out by planParallelMpeg, for the engine's
// threads.

#include "engines/decode/internal/ParallelMpeg.h"

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace quaverly::decode {

struct SliceResult {
    std::vector<std::int16_t> pcm;
    std::string error; // why the slice was not decoded as planned, empty when it was
};

// Decodes slice `index` (of `sliceFrames` frames each) of the stream, giving up as soon as
// a stop is requested. Touches only the shared layout and what it makes itself: any thread may call
// it.
SliceResult decodeSlice(const MpegLayout& l, std::size_t sliceFrames, std::size_t index,
                        const std::stop_token& stop);

} // namespace quaverly::decode
