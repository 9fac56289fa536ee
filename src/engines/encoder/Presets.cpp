#include "engines/encoder/Presets.h"

#include <array>

namespace quaverly::encode {
namespace {

Settings settings(Format format, int value, int rate = 0, int channels = 0) {
    Settings s;
    s.format = format;
    s.value = value;
    s.sampleRate = rate;
    s.channels = channels;
    return s;
}

// Any phone plays an MP3 of 128 to 320 kbit/s; a song's own MP3 frames in that range are kept.
// iPhones take ringtones only as M4R of at most 40 s (text and alert tones 30 s); Android loops
// an Ogg ringtone without a gap when it carries ANDROID_LOOP=true.
const std::array<Preset, 6> kPresets{{
    {"iphone-ringtone", "iPhone ringtone", settings(Format::M4r, 256, 44100, 2), 40, true, false,
     "M4R, AAC 256 kbit/s, 44.1 kHz stereo, at most 40 s"},
    {"iphone-text-tone", "iPhone text tone", settings(Format::M4r, 256, 44100, 2), 30, true, false,
     "M4R, AAC 256 kbit/s, 44.1 kHz stereo, at most 30 s"},
    {"android-ringtone", "Android ringtone", settings(Format::Vorbis, 6), 0, true, true,
     "Ogg Vorbis quality 6, loops seamlessly"},
    {"android-notification", "Android notification", settings(Format::Vorbis, 6), 10, true, false,
     "Ogg Vorbis quality 6, at most 10 s"},
    {"mp3-any-phone", "MP3 for any phone", settings(Format::Mp3, 192), 0, false, false,
     "MP3 192 kbit/s", 128, 320},
    {"lossless", "Lossless", settings(Format::Flac, 5), 0, false, false, "FLAC, every sample kept"},
}};

} // namespace

std::span<const Preset> presets() {
    return kPresets;
}

const Preset* findPreset(const QString& idOrName) {
    for (const Preset& p : kPresets) {
        if (idOrName.compare(QLatin1String(p.id), Qt::CaseInsensitive) == 0 ||
            idOrName.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

void applyPreset(const Preset& preset, ClipTags* tags) {
    if (preset.ringtone)
        tags->genre = QStringLiteral("Ringtone");
    tags->androidLoop = preset.androidLoop;
}

std::optional<QString> lengthLimitText(const Preset& preset, std::int64_t frames, int sampleRate) {
    if (preset.maxSeconds <= 0 || sampleRate <= 0 ||
        frames <= std::int64_t(preset.maxSeconds) * sampleRate)
        return std::nullopt;
    return QStringLiteral("The preset \"%1\" takes clips of at most %2 seconds; this one is %3 "
                          "seconds long.")
        .arg(QLatin1String(preset.name))
        .arg(preset.maxSeconds)
        .arg(double(frames) / sampleRate, 0, 'f', 1);
}

} // namespace quaverly::encode
