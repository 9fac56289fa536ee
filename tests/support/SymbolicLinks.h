#pragma once
// Symbolic links for the tests. Linux always makes them; on Windows they are NTFS links, which
// need a privilege or the developer mode, and wine makes none at all, so there the tests about
// links ask first whether the system makes them.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quaverly::test {

// Makes `link` a symbolic link to `target` (relative to the link's folder, as on Linux); false
// where the system did not make it.
inline bool symbolicLink(const QString& target, const QString& link) {
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(target);
    const DWORD folder =
        QFileInfo(QFileInfo(link).dir(), target).isDir() ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    // Wine answers success without making anything: the link itself tells.
    return CreateSymbolicLinkW(reinterpret_cast<const wchar_t*>(link.utf16()),
                               reinterpret_cast<const wchar_t*>(native.utf16()),
                               folder | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
           QFileInfo(link).isSymbolicLink();
#else
    return QFile::link(target, link);
#endif
}

// Whether this system makes symbolic links: always on Linux.
inline bool makesSymbolicLinks() {
#ifdef Q_OS_WIN
    static const bool makes = [] {
        const QTemporaryDir dir;
        return dir.isValid() &&
               symbolicLink(QStringLiteral("t"), dir.filePath(QStringLiteral("l")));
    }();
    return makes;
#else
    return true;
#endif
}

inline constexpr char kNoSymbolicLinks[] =
    "this system makes no symbolic links (wine does not; Windows needs the developer mode)";

} // namespace quaverly::test
