#pragma once
// Working copies: every listed song owns one PCM WAV file with the 44-byte header in the
// working folder, made when the song is added. All later work reads or rewrites that copy.
// Beside it, what the list shows of a song: its name and its tool tip.

#include "engines/decode/SongDecode.h"
#include "engines/tags/SongTags.h"
#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <cstdint>

namespace quaverly {

// What the list tells of a song: the picked file's tags and its format as the song reader names
// it, and the song's exact length, from its working copy.
struct SongSummary {
    QString codec;            // "FLAC", "PCM 16-bit", "MP3"; empty when the reader could not say
    QString container;        // "WAV", "MPEG audio", "Ogg"
    std::uint32_t rate = 0;   // Hz
    int channels = 0;         // in the picked file
    std::uint64_t frames = 0; // of the working copy
    // None for a file copied whole: it holds its header and its samples, nothing else.
    SongTags tags;
};

// The list's text for a picked file: "Artist - Title" from its tags, the title alone when they
// name no artist. Without a title, the file's name without its extension ("Intro.flac" gives
// "Intro"); a name of four characters or fewer is kept whole, so no song is nameless.
QString songNameFor(const QString& pickedPath, const SongTags& tags);

// The tool tip of a listed song, one line each: its whole name (songNameFor; the row may show it
// shortened), the picked file's path, its format and its length:
// "Intro\n/home/u/Music/Intro.flac\nFLAC, 44100 Hz, stereo\n3:25.4".
QString songToolTip(const QString& pickedPath, const SongSummary& song);

// The short word for a song's format that its row shows: the codec ("MP3", "FLAC", "AAC",
// "Vorbis"), or for plain PCM and other codecs without a short name the container ("WAV",
// "AIFF"); empty when the reader named neither.
QString songFormatWord(const SongSummary& song);

// A song's length as its row shows it, to the nearest second: "3:25", and "1:02:03" from an
// hour on.
QString listLengthText(std::uint64_t ms);

// A path in `folder` that no file has yet, for a new working copy. Its name never depends on
// the song's name, so two songs of the same name never share a copy, and no song can take the
// name of a work file of the program.
// An empty `folder` (there is no working folder) gives the empty text: nothing may be written
// anywhere else.
QString newWorkingCopyPath(const QString& folder);

// Whether makeWorkingCopy copies `picked` byte for byte, which is quick: a plain PCM WAV file
// (mono or stereo, 8 or 16 bits) in the 44-byte layout with some sound, found from the content,
// whatever the name.
bool copiesWhole(const QString& picked);

// Makes the working copy of `picked` at `target`: a file that copiesWhole() is copied byte for
// byte; any other song file (whatever the song reader reads) is decoded into that layout (16-bit
// PCM, the song's rate, more than two channels mixed down to stereo) by decodeSong, whose Errors
// it returns. On failure nothing is left at `target`.
// `work` hears how far it is between decoded or copied blocks; a stop requested on work.stop ends
// the work with the Error "cancelled", leaving nothing at `target`. Any thread may make a copy. The
// picked file is read once for its sound, and a decoded one once more for its tags; the rest of the
// summary comes from the reader that decoded it, or from the copy.
Result<SongSummary> makeWorkingCopy(const QString& picked, const QString& target,
                                    const WorkProgress& work = {});

} // namespace quaverly
