#pragma once
// Which WAV files the players and the wave commands accept: plain PCM, as everywhere else.

#include "engines/wav/WavHeader.h"

namespace quaverly::mciwav {

using quaverly::isPlainPcm;

} // namespace quaverly::mciwav
