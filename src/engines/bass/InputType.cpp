#include "engines/bass/InputType.h"

namespace quaverly::bass {

const char* inputTypeText(DWORD inputValue) {
    switch (inputValue & BASS_INPUT_TYPE_MASK) {
    case BASS_INPUT_TYPE_DIGITAL:
        return "Digital";
    case BASS_INPUT_TYPE_LINE:
        return "Line-in";
    case BASS_INPUT_TYPE_MIC:
        return "Microphone";
    case BASS_INPUT_TYPE_SYNTH:
        return "Midi synth";
    case BASS_INPUT_TYPE_CD:
        return "Analog CD";
    case BASS_INPUT_TYPE_PHONE:
        return "Telephone";
    case BASS_INPUT_TYPE_SPEAKER:
        return "PC Speaker";
    case BASS_INPUT_TYPE_WAVE:
        return "Wave/PCM";
    case BASS_INPUT_TYPE_AUX:
        return "Aux";
    case BASS_INPUT_TYPE_ANALOG:
        return "Analog";
    default:
        return "UnSupport";
    }
}

} // namespace quaverly::bass
