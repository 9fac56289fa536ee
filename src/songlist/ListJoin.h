#pragma once
// Joins the songs of the list, in order, into one PCM WAV file with the 44-byte header.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"
#include "engines/wav/WavHeader.h"

#include <QString>
#include <QStringList>

namespace quaverly {

// The samples are those of JoinedSongs: the first song's format, the others converted to it.
//
// The file is written under a temporary name beside `target` and renamed into place only when
// complete: a failure leaves no partial file and leaves a file already at `target` untouched.
// A result whose sample data would pass the 4 GiB limit of the header is refused before it is
// renamed into place. `progress` is told between blocks the bytes of sound written so far and
// the bytes expected in all (about; the written may end a little above or below), and a stop
// requested on it is noticed after each block. `names`, when given, are what a failure calls the
// songs (see JoinedSongs::open).
//
// Gives the header written. The Error names the song that failed (as `names` calls it), or
// `target` as given for a write, or no file: a join past the 4 GiB limit, a cancel.
Result<WavHeader> joinSongs(const QStringList& songs, const QString& target,
                            const WorkProgress& progress = {}, const QStringList& names = {});

} // namespace quaverly
