#pragma once
// Clips that keep the song's own coded frames: an MP3 clip of an MP3 song, an M4A or M4R clip of
// an AAC song in MP4, a FLAC clip of a FLAC song and a WAV clip of a WAV song, with no second
// encoding and its loss. The clip still starts and ends on the marked samples: the frames that
// cover the marks are copied, with the frames before them that the decoder needs to reach the
// song's own state, and the container's gapless fields (the MP3 LAME tag's delay and padding, the
// MP4 edit list and iTunSMPB) tell a player to drop what lies outside the marks. Lossless kinds
// are exact by nature.
//
// Marks are sample frames of the song's decode as the song reader gives it (its gapless sound,
// the working copy's frames): [in, out).
//
// Threads: no state is kept between calls; any thread, any number at once on different files.

#include "engines/encoder/Presets.h"
#include "engines/encoder/SongEncode.h"
#include "engines/formats/Formats.h"
#include "engines/tags/ClipTags.h"
#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <cstdint>

namespace quaverly::framecopy {

// The step of a copy that failed, in its Error (Error::step()).
enum class CopyStep {
    None = 0,
    CannotKeep, // the frames cannot be kept for this clip: re-encode; the cause says why
    Read,       // the song could not be read
    Write,      // the clip could not be written
    Cancel,     // a stop was requested
};

// What the clip is to be: the written kind its target's extension names (formats::wav() or an
// encoded format's row), the settings chosen for it, and the preset they came from, if any.
struct ClipOutput {
    const formats::FileFormat* kind = nullptr;
    encode::Settings settings;
    const encode::Preset* preset = nullptr;
};

// Whether a clip of `song` made as `output` can keep the song's frames, judged from the song's
// head and first frames (cheap enough for the window thread's choice of words, though whole-file
// work never asks it there): the same codec, and nothing in the settings the song's own frames do
// not meet (a preset's sample rate and channels, a preset's bit rates). Success, or an Error at
// CopyStep::CannotKeep whose cause says why not, in words for the user ("the song is Ogg Vorbis,
// not MP3"); a song that cannot be read is also CannotKeep (the re-encoding then says why).
Status canKeep(const QString& song, const ClipOutput& output);

// What the marks of a clip that keeps the song's frames are counted in: the song's rate and its
// length in frames as the song reader decodes it (0 when only a whole decode tells it).
struct KeptSound {
    int sampleRate = 0;
    std::uint64_t frames = 0;
};
// canKeep, with the song's rate and length when its frames can be kept.
Result<KeptSound> keptSound(const QString& song, const ClipOutput& output);

// Whether the song's content is of the codec `kind` is written with (an MP3 song for an MP3
// clip): when it is and its frames cannot be kept, why is worth telling.
bool sameCodec(const QString& song, const formats::FileFormat& kind);

// Writes [in, out) of `song` into `target` keeping its frames, tagged with `tags` as an encoded
// clip of the kind would be (an MP4 clip's iTunSMPB comes from the copy, not from `tags`), through
// one AtomicFile: on any failure the target is as it was and nothing is left behind.
// CopyStep::CannotKeep when this clip cannot keep the frames (as canKeep, or found on the way: an
// MP3 whose bit reservoir reaches back further than the LAME tag's delay can skip); the caller
// then re-encodes and says why. `work` hears progress and may stop the copy (CopyStep::Cancel).
Status copyClip(const QString& song, std::uint64_t in, std::uint64_t out, const QString& target,
                const ClipOutput& output, const ClipTags& tags, const WorkProgress& work = {});

// The words the window and the command line show for a clip that keeps the song's frames.
QString keptWords();

} // namespace quaverly::framecopy
