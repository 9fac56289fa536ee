#pragma once
// What convert, join, cut and record write: OUT's format chosen by its extension, with the
// options that set it (--bitrate, --quality, --level, --preset, --title), the tags the clip gets,
// the preset's length limit, and the encoding through the encoder component.
//
// A WAV target keeps the sample bytes as they are. An MP3 target without --title or --preset is
// the encoder's plain MP3 job, untagged, with the bytes it always had; any other target goes
// through encode::encodeSong with its tags. Encoding is a job (Job.h): with a progress line, and
// stopped by Ctrl+C, which leaves the target as it was.

#include "cli/CommandSupport.h"
#include "engines/encoder/MeteredSource.h"
#include "engines/encoder/Presets.h"
#include "engines/encoder/SongEncode.h"
#include "engines/tags/ClipTags.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quaverly::cli {

struct Target {
    QString path;
    std::optional<encode::Format> format; // nullopt: WAV
    encode::Settings settings;            // checked; value set for MP3 (the CLI's default 256)
    const encode::Preset* preset = nullptr;
    std::optional<QString> title; // --title as given

    bool isWav() const { return !format.has_value(); }
    // The encoder's plain MP3 job: no tags asked for.
    bool plainMp3() const { return format == encode::Format::Mp3 && !preset && !title; }
};

// Makes the sound to encode on the encoding's thread (the list's joinedSongsSource gives one).
using SourceFactory = encode::SourceFactory;

// The words the help of each writing command ends with: the extensions and their options.
extern const char* const kTargetHelp;

// Reads OUT's format and the output options into *target. kUsage, said, when OUT's extension is
// not one that is written or an option does not fit its format; kFailed, said, when the format
// cannot be written by this build at all; else kOk.
int readTarget(const QString& out, const Options& opts, const Io& io, Target* target);

// The tags of a clip made from a source tagged `source`: --title over its title, and what the
// preset asks for (genre, loop mark).
ClipTags clipTags(const Target& target, ClipTags source);

// False, said as a failure naming OUT, when a clip of `frames` at `sampleRate` is longer than the
// target's preset takes.
bool lengthFits(const Target& target, std::int64_t frames, int sampleRate, const Io& io);
// The same for the sound of a WAV file; a file that cannot be probed is left to the encoder.
bool wavLengthFits(const Target& target, const QString& wav, const Io& io);

// Encodes the WAV file `wav` (any that libsndfile reads, mono or stereo) into the target, which
// is not WAV. kOk, a failure said, or kCancelled (unsaid) after a Ctrl+C.
int encodeTo(const QString& wav, const Target& target, const ClipTags& tags, const Io& io);
// The same for sound made by `make` on the encoding's thread; sourceName stands for it in the
// encoder's messages.
int encodeTo(SourceFactory make, const QString& sourceName, const Target& target,
             const ClipTags& tags, const Io& io);

} // namespace quaverly::cli
