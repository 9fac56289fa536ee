// The sound server module's one exported symbol: its table.

#include "engines/audio/PulseBackend.h"
#include "engines/audio/internal/PulseModule.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT const quaverly::audio::pulse::Module* quaverly_pulse_module() {
    static const quaverly::audio::pulse::Module table{
        quaverly::audio::pulse::Module::kLayout,
        []() -> quaverly::audio::AudioBackend* { return new quaverly::audio::PulseBackend(); },
    };
    return &table;
}
