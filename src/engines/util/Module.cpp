#include "engines/util/Module.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace quaverly {
namespace {

QString programFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

Error cannotLoad(const QString& what, const QString& path, const QString& why) {
    return Error(
        QString(),
        QStringLiteral("cannot load %1 (%2): %3").arg(what, QDir::toNativeSeparators(path), why));
}

} // namespace

namespace detail {

Result<ModuleEntry> loadModule(const QString& what, const QString& installed, const QString& built,
                               const char* entry) {
    const QString there = QDir(programFolder()).filePath(installed);
    const QString path = QFileInfo::exists(there) ? there : built;
    // A QLibrary never unloads what it loaded when it is destroyed.
    QLibrary library(path);
    if (!library.load())
        return cannotLoad(what, path, library.errorString());
    const QFunctionPointer function = library.resolve(entry);
    if (!function)
        return cannotLoad(what, path, library.errorString());
    return ModuleEntry{function, path};
}

Error moduleRefused(const QString& what, const QString& path) {
    return cannotLoad(what, path, QStringLiteral("it belongs to another build of Quaverly"));
}

} // namespace detail

} // namespace quaverly
