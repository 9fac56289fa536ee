#pragma once
// The program's modules: shared libraries of its own that it loads on first use, so that what
// only some work needs (FFmpeg, the sound server's client) costs nothing to the rest, such as
// the start of a command-line conversion.
//
// A module is looked for where an installation puts it, relative to the program (so that an
// installation can be moved, `cmake --install --prefix` included), then where the build made it
// (the programs and tests run from the build tree). Once loaded it stays loaded to the end of the
// process: what it made may live that long.
//
// Threads: any thread; callers load each module once (a function-local static).

#include "engines/util/Error.h"

#include <QString>
#include <QtGlobal>

namespace quaverly {

struct ModuleEntry {
    QFunctionPointer function; // the exported entry, never null
    QString path;              // the file it came from, for messages
};

// Loads the module at `installed` (relative to the program's folder) or else at `built`, and
// resolves its exported `entry`. A failure says "cannot load WHAT (PATH): why".
Result<ModuleEntry> loadModule(const QString& what, const QString& installed, const QString& built,
                               const char* entry);

// The failure of a module that was found but is not the one this build expects.
Error moduleRefused(const QString& what, const QString& path);

} // namespace quaverly
