#pragma once
// What the recorder shows as an input's type: the name of the type code in the top byte of
// BASS_RecordGetInput's value. One table for the recorder panel and the command line.

#include "engines/bass/Bass.h"

namespace quaverly::bass {

// "Digital", "Line-in", "Microphone", "Midi synth", "Analog CD", "Telephone", "PC Speaker",
// "Wave/PCM", "Aux" or "Analog" for the type codes 1 to 10; "UnSupport" for any other value
// (0, undefined codes, and 0xFFFFFFFF, the value of a failed BASS_RecordGetInput).
const char* inputTypeText(DWORD inputValue);

} // namespace quaverly::bass
