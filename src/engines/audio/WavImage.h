#pragma once
// A WAV file's image in memory (the recorder's take), read where it lies: the samples' place and
// format, found by walking its chunks as probeWav walks a file. The header's sizes are believed
// only as far as the image goes, and nothing past its length is read.

#include "engines/audio/AudioBackend.h"
#include "engines/util/Error.h"

#include <cstdint>

namespace quaverly::audio {

// The samples of a WAV image: 8-bit (unsigned) or 16-bit PCM, mono or stereo.
struct WavImage {
    const std::uint8_t* pcm = nullptr; // inside the image
    std::uint64_t bytes = 0;           // whole frames, within the image
    PcmFormat format;
};

// Fails with sound::kFileForm (not a WAV image, no format or data chunk), sound::kFormat (not 8 or
// 16-bit PCM, more than two channels, a rate that cannot be played) or sound::kIllParam (larger
// than this machine can address, or no memory at all).
Result<WavImage> parseWavImage(const void* image, std::uint64_t length);

} // namespace quaverly::audio
