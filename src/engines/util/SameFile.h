#pragma once
// Whether two paths name one file, whatever their spelling: "./a.wav", "dir/../a.wav", a
// symbolic link to it, or a hard link (another name for the same data on the same device).

#include <QString>

namespace quaverly {

// True when both exist and are one file. A path that does not exist names no file yet, so it
// is never the same as another.
bool sameFile(const QString& a, const QString& b);

} // namespace quaverly
