#pragma once
// Files by identity rather than by name, the one place that asks the system for it: whether two
// paths name one file, whatever their spelling ("./a.wav", "dir/../a.wav", a symbolic link to
// it, or a hard link: another name for the same data on the same volume), and making a hard link.

#include "engines/util/Error.h"

#include <QString>

namespace quaverly {

// True when both exist and are one file. A path that does not exist names no file yet, so it
// is never the same as another.
bool sameFile(const QString& a, const QString& b);

// Gives the file `existing` the second name `link`, which must not exist yet. Fails where the
// volume has no hard links, across volumes, and when `link` exists: the Error names `link`.
Status hardLink(const QString& existing, const QString& link);

} // namespace quaverly
