#pragma once
// The presets: a format, its setting and what a phone asks of the clip, named for the user
// ("iPhone ringtone"). One table, shown in the window and listed by quaverly-cli presets.
//
// Threads: constant data and pure functions; any thread.

#include "engines/encoder/SongEncode.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace quaverly::encode {

struct Preset {
    const char* id;   // for the command line: "iphone-ringtone"
    const char* name; // for the user: "iPhone ringtone"
    Settings settings;
    int maxSeconds = 0;       // the longest clip the target takes; 0: any length
    bool ringtone = false;    // tagged with the genre "Ringtone"
    bool androidLoop = false; // Ogg comment ANDROID_LOOP=true
    const char* note = "";    // one line for the user: "M4R, AAC 256 kbit/s, at most 40 s"
    // A song of the preset's codec keeps its own frames when its bit rate lies in this range
    // (kbit/s); 0, 0: at any bit rate.
    int keepKbpsLow = 0;
    int keepKbpsHigh = 0;
};

std::span<const Preset> presets();
// By id or by name, in any case; nullptr when there is none.
const Preset* findPreset(const QString& idOrName);

// Puts what the preset asks for into tags (genre, ANDROID_LOOP).
void applyPreset(const Preset& preset, ClipTags* tags);

// When a clip of `frames` at `sampleRate` is longer than the preset allows: the words that say
// so, with the limit ("An iPhone ringtone can be at most 40 seconds long; this one is 45.0
// seconds."). nullopt when it fits or the preset has no limit.
std::optional<QString> lengthLimitText(const Preset& preset, std::int64_t frames, int sampleRate);

} // namespace quaverly::encode
