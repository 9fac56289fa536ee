#pragma once
// Three small path helpers used wherever a handler tests for a file, makes sure a folder path
// ends in a separator, or takes the file name off a path.
//
// Separators are this platform's: "/" here; on Windows both "\" and "/".
// Threads: pure functions (FileExists reads the file system); callable from any thread.

#include <QString>

namespace quaverly {

// True when the platform treats c as a path separator.
bool isPathSeparator(QChar c);

// True when the path names an ordinary file that is not hidden (on this platform a name starting
// with "." is hidden); folders never count. Wildcards "*" and "?" in the last component are
// honoured: a pattern is true when at least one such file matches. False for an empty path and
// for a path whose folder does not exist.
bool FileExists(const QString& path);

// The folder path ending in exactly one added separator when it did not end in one. The empty
// text gives the root separator, like any other path that lacks its separator.
QString RPP(const QString& folder);

// The text after the last separator: the whole path when it holds none, the empty text when it
// ends in one.
QString GetFileName(const QString& path);

} // namespace quaverly
