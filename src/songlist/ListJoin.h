#pragma once
// Joins the songs of the list, in order, into one PCM WAV file with the 44-byte header.

#include "engines/wav/WavHeader.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace quaverly {

struct JoinOutcome {
    bool ok = false;
    QString error;    // names the file and the cause when !ok
    WavHeader header; // the header written, when ok
};

// The result takes the first song's format (rate, channels, 8- or 16-bit PCM; other sample
// sizes become 16-bit). Songs already in that format have their samples appended byte for byte;
// the others are converted to it (channels mixed or duplicated, rate resampled, sample size
// changed), so nothing is garbled. Only the samples of each song are taken, never its header
// or other chunks.
//
// The file is written under a temporary name beside `target` and renamed into place only when
// complete: a failure leaves no partial file and leaves a file already at `target` untouched.
// A result whose sample data would pass the 4 GiB limit of the header is refused before it is
// renamed into place. `progress`, when given, is called between blocks and may return false to
// cancel.
JoinOutcome joinSongs(const QStringList& songs, const QString& target,
                      const std::function<bool()>& progress = {});

} // namespace quaverly
