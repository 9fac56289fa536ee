#pragma once
// Sound into a file of any format the program writes, chosen by name: MP3 (LAME), M4A and M4R
// (AAC-LC, FFmpeg's encoder and its iPod MP4 muxer), Ogg Vorbis (libvorbis), Opus (libopusenc)
// and FLAC (libFLAC), each with its tags. WAV is not here: WAV targets keep the sample bytes as
// they are (the list's join, the converter's copy, the recorder's take).
//
// Every target is written through one AtomicFile: the sound, then the tags, then the commit, so
// a failure or a cancel leaves the target as it was and nothing behind.
//
// Threads: no state is kept between calls; any number of encodings may run at once on different
// files, on any threads.

#include "engines/encoder/Mp3Encode.h"
#include "engines/tags/ClipTags.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <span>
#include <stop_token>

namespace quaverly::encode {

using mp3::encodeStep;
using mp3::EncodeStep;
using mp3::PcmSource;

enum class Format { Mp3, M4a, M4r, Vorbis, Opus, Flac };

// What a format's one setting means.
enum class Setting {
    BitRate, // kbit/s (MP3 constant, AAC average, Opus variable)
    Quality, // Vorbis quality, 0 (smallest) to 10 (best)
    Level,   // FLAC compression level, 0 (fastest) to 8 (smallest); never changes the sound
};

struct FormatInfo {
    Format format;
    const char* extension; // without the dot: "m4r"
    const char* name;      // for the user: "M4R ringtone (AAC)"
    const char* codec;     // as ffprobe names it: "aac"
    Setting setting;
    int defaultValue;
    std::span<const int> offered; // the values the window offers, ascending
    bool lossy;
};

// Every format, in the order the window offers them.
std::span<const FormatInfo> formats();
const FormatInfo& info(Format format);

// The format a target's name asks for, by its extension, in any case: .mp3, .m4a, .m4r, .ogg
// and .oga (Vorbis), .opus, .flac. nullopt for anything else (also .wav).
std::optional<Format> formatForPath(const QString& path);

// The file dialog filter of one format ("FLAC (*.flac)") and of all together, one per line.
QString dialogFilter(Format format);
QStringList dialogFilters();

struct Settings {
    Format format = Format::Mp3;
    std::optional<int> value; // the format's Setting; unset: its default
    int sampleRate = 0; // 0: the source's (or the nearest the codec takes); else resampled to it
    int channels = 0;   // 0: the source's; 1 or 2: mixed down or duplicated to it

    int effectiveValue() const;
};

// A setting the format's codec cannot take, in words ("300 kbit/s is not an MP3 bit rate",
// "Opus takes 6 to 256 kbit/s", "this FFmpeg has no AAC encoder"); the Error names `target`.
Status checkSettings(const Settings& settings, const QString& target);

// Encodes everything `source` delivers into `target` in settings.format, tagged with `tags`.
// `sourceName` names the source in messages about it as a whole. Success once the target is
// complete and in place; on a failure or when stop is requested (EncodeStep::Cancel) the target
// is as it was and no temporary file remains.
Status encodeSong(PcmSource& source, const QString& sourceName, const QString& target,
                  const Settings& settings, const ClipTags& tags, std::stop_token stop = {});

// Opens a WAV file (any that libsndfile reads) as a source, checked as the MP3 encoder checks it
// (mono or stereo, some sound). The Error names the file.
Result<std::unique_ptr<PcmSource>> openWavSource(const QString& path);

} // namespace quaverly::encode
