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

// Loads the module at `installed` (relative to the program's folder) or else at `built` and
// calls its exported `entry`, which hands out the module's table of functions. A table whose
// layout is not Table::kLayout comes from another build and is refused. A failure says "cannot
// load WHAT (PATH): why".
template <typename Table>
Result<const Table*> loadModuleTable(const QString& what, const QString& installed,
                                     const QString& built, const char* entry);

namespace detail {

struct ModuleEntry {
    QFunctionPointer function; // the exported entry, never null
    QString path;              // the file it came from, for messages
};

Result<ModuleEntry> loadModule(const QString& what, const QString& installed, const QString& built,
                               const char* entry);
Error moduleRefused(const QString& what, const QString& path);

} // namespace detail

template <typename Table>
Result<const Table*> loadModuleTable(const QString& what, const QString& installed,
                                     const QString& built, const char* entry) {
    const auto module = detail::loadModule(what, installed, built, entry);
    if (!module)
        return module.error();
    using Entry = const Table* (*)();
    const Table* table = reinterpret_cast<Entry>(module->function)();
    if (!table || table->layout != Table::kLayout)
        return detail::moduleRefused(what, module->path);
    return table;
}

} // namespace quaverly
