#pragma once
// The sound server back end lives in a module of its own (quaverly_pulse), loaded when a sound
// device is first asked for: libpulse and the sixteen libraries behind it (D-Bus, systemd, X11's
// client) cost every start of the programs several milliseconds before, a command-line
// conversion's included.
//
// The module exports one function, quaverly_pulse_module, which hands out one table: its layout
// and the maker of its back end.

#include "engines/audio/AudioBackend.h"

#include <cstdint>

namespace quaverly::audio::pulse {

struct Module {
    // The table's layout: a module from another build of the programs is refused.
    static constexpr std::uint32_t kLayout = 1;
    std::uint32_t layout = kLayout;
    // A new PulseBackend connecting where libpulse chooses; the caller owns it.
    AudioBackend* (*makeBackend)();
};

} // namespace quaverly::audio::pulse
