#include "engines/util/Module.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#ifdef Q_OS_WIN
#include <windows.h>

#include <string>
#endif

namespace quaverly {
namespace {

// The folder of the running program, also before (or without) a QCoreApplication.
QString programFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
#ifdef Q_OS_WIN
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (got == 0)
            return QString();
        if (got < path.size())
            return QFileInfo(QString::fromWCharArray(path.data(), int(got))).absolutePath();
        path.resize(path.size() * 2); // cut short: a longer path
    }
#else
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
#endif
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
