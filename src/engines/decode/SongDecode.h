#pragma once
// The song decode: a song (any file the song reader reads) into a PCM WAV file with the 44-byte
// header, as adding a song to the list makes its working copy. Block by block, with progress and
// cancel, so that a long song never freezes the window.
//
// Not thread-safe: one thread runs a decode; any number may run side by side.

#include "engines/decode/SongReader.h"
#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"
#include "engines/wav/WavHeader.h"

#include <QString>

namespace quaverly {

// Decodes `song` from its start into `target`: 16-bit PCM at the song's rate and channels. The
// target is written under a temporary name and renamed into place when complete, so an older
// file there is replaced whole, never overwritten in part, and survives a failure; nothing is
// left behind.
// `work` hears the bytes of samples written so far and all there are after every block; a stop
// requested on work.stop cancels the decode after the block.
// Errors name the song: a decode cut short (the reader's failure, "the sound breaks off at
// 1:23.456 of 3:45: cause", with its code), a sound past the 4 GiB limit of a WAV file, a song
// without a single sample, "cancelled"; or the target: the cause of a failed write.
Result<WavHeader> decodeSong(SongReader& song, const QString& target,
                             const WorkProgress& work = {});
// The same for the file at `source`, opened by SongReader::open, whose Error it returns.
Result<WavHeader> decodeSong(const QString& source, const QString& target,
                             const WorkProgress& work = {});

} // namespace quaverly
