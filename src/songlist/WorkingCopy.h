#pragma once
// Working copies: every listed song owns one PCM WAV file with the 44-byte header in the
// working folder, made when the song is added. All later work reads or rewrites that copy.

#include "engines/decode/SongDecode.h"
#include "engines/util/Error.h"

#include <QString>

namespace quaverly {

// The list's text for a picked file: its name without the last four characters ("Intro.mp3"
// gives "Intro"). A name of four characters or fewer is kept whole, so no song is nameless.
QString songNameFor(const QString& pickedPath);

// Whether a picked file is one the list takes, by its extension compared without regard to
// case: "wav" or "mp3".
bool isSongFile(const QString& pickedPath);

// A path in `folder` that no file has yet, for a new working copy. Its name never depends on
// the song's name, so two songs of the same name never share a copy, and no song can take the
// name of a work file of the program.
// An empty `folder` (there is no working folder) gives the empty text: nothing may be written
// anywhere else.
QString newWorkingCopyPath(const QString& folder);

// Makes the working copy of `picked` at `target`: a WAV file already in the 44-byte PCM layout
// is copied byte for byte; any other WAV or MP3 file is decoded into that layout (16-bit PCM,
// same rate and channels) by decodeSong, whose Errors it returns. On failure nothing is left at
// `target`. `progress` runs between decoded blocks.
Status makeWorkingCopy(const QString& picked, const QString& target,
                       const DecodeProgress& progress = {});

} // namespace quaverly
