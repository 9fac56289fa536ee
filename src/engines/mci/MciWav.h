#pragma once
// Which WAV files the player and the cut accept, and the memory streams play.

#include "engines/wav/WavHeader.h"

namespace quaverly::mciwav {

// Integer PCM of 8 (unsigned) or 16 (signed) bits, with frames of exactly one sample per
// channel: the samples can then be copied and played byte for byte.
inline bool isPlainPcm(const WavLayout& l) {
    return l.formatTag == 1 && (l.bitsPerSample == 8 || l.bitsPerSample == 16) &&
           l.blockAlign == l.channels * l.bitsPerSample / 8;
}

} // namespace quaverly::mciwav
