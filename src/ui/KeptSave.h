#pragma once
// Clips that keep their song's own frames (engines/encoder/FrameCopy.h), as the window saves
// them: what each listed song's working copy holds of the file it was made from, whether a clip
// may keep that file's frames at all, and the save, which falls back to the usual re-encoding
// from the working copy when the frames cannot be kept.
//
// Threads: UI thread, but for what startKeptSave runs as a job.

#include "engines/encoder/FrameCopy.h"
#include "engines/formats/Formats.h"
#include "engines/tags/ClipTags.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <functional>

namespace quaverly {

class Dialogs;
class Jobs;
class OutputChoice;

// The file a listed song was made from, as it was when the song was added, and the stretch of
// that file's decode ([from, to), sample frames) its working copy holds now.
struct SongOrigin {
    QString file; // empty: not known
    qint64 size = -1;
    QDateTime modified;
    bool stretchKnown = false; // false once "Done" applied fades or a level change
    std::uint64_t from = 0;
    std::uint64_t to = 0;
};

// The origin of a song just made from `file` (its size and time now), holding all its `frames`.
SongOrigin songOrigin(const QString& file, std::uint64_t frames);
// The origin after a cut of the working copy to its frames [first, end): without effects the
// file's stretch narrows; with them the working copy is no stretch of the file any more.
SongOrigin cutOrigin(const SongOrigin& origin, std::uint64_t first, std::uint64_t end,
                     bool effects);
// Whether the file is no longer as it was when the song was added (or has gone).
bool originChanged(const SongOrigin& origin);

// Whether a clip may keep the frames of its song, known without reading the song; when it may,
// canKeep or copyClip decide from the song itself.
struct KeepChance {
    enum class Kind {
        OtherCodec, // the output's codec is not the song's: re-encoded, which goes without saying
        Hindered,   // re-encoded for `why`, a choice of the user's or what "Done" did
        Changed,    // re-encoded: the song's file has changed since it was added
        Maybe,
    };
    Kind kind = Kind::OtherCodec;
    QString why;
};
// `formatWord`: the song's format as its list row shows it ("MP3", "AAC", "FLAC", "WAV");
// `target`: the kind the clip is written as; `wanted`: the user's "keep" box; `effects`: fades
// or a level change are set for the clip.
KeepChance keepChance(const SongOrigin& origin, const QString& formatWord,
                      const formats::FileFormat& target, bool wanted, bool effects);

// The written kind, settings and preset of a clip saved into `target` with `choice`.
framecopy::ClipOutput clipOutputFor(const OutputChoice& choice, const QString& target);

// What the window says beside the output choice and after a save that could not keep the frames.
QString reencodedWords(const QString& why); // "Re-encoded: why"
QString notKeptNote(const QString& why);    // the line a finishing message adds

struct KeptClip {
    QString source; // the song's file
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    QString target;
    framecopy::ClipOutput output;
    std::function<ClipTags()> tags; // run on the job's thread
};
// Copies the clip as a job of `jobs` (its busy window, Cancel, the window disabled). Saved: the
// usual "Finish Save" message. A failure to read or write is told; a Cancel says nothing. When
// the frames cannot be kept, `reencode` runs on the window thread with why, and should save the
// clip as before and say why when that is done.
void startKeptSave(Jobs& jobs, Dialogs& dialogs, KeptClip clip,
                   std::function<void(const QString& why)> reencode);

} // namespace quaverly

Q_DECLARE_METATYPE(quaverly::SongOrigin)
