#pragma once
// Faults a reader meets half-way through a file, injected by a test between two blocks: the file
// shrinks (another program truncates it), or the disk fails to read it.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quaverly::test {

inline constexpr bool kCanBreakReads =
#ifdef Q_OS_LINUX
    true;
#else
    false;
#endif

// Every later read through the descriptors this process holds open on `path` fails with a real
// error of the system ("Is a directory"): each of them is replaced by a descriptor of a folder.
// Returns how many were replaced (Linux: found through /proc/self/fd; 0 elsewhere).
inline int breakReadsOf(const QString& path) {
    int replaced = 0;
#ifdef Q_OS_LINUX
    const QString file = QFileInfo(path).canonicalFilePath();
    const int folder = ::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return 0;
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd"))
             .entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int n = fd.fileName().toInt(&ok);
        if (ok && n != folder && fd.symLinkTarget() == file && ::dup2(folder, n) == n)
            ++replaced;
    }
    ::close(folder);
#else
    (void)path;
#endif
    return replaced;
}

// Cuts the file down to its first `bytes`, as another program could while it is being read.
inline bool shrink(const QString& path, qint64 bytes) {
    return QFile::resize(path, bytes);
}

} // namespace quaverly::test
