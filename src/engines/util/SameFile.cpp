#include "engines/util/SameFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>

#include "engines/util/internal/WindowsError.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quaverly {
namespace {

#ifdef Q_OS_WIN
// The volume and the file's index on it, which stay the same under every name of the file.
struct FileId {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool operator==(const FileId&) const = default;
};

bool idOf(const QString& path, FileId* id) {
    // No access asked: only the file's information is read. Folders need the backup flag.
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}
#endif

} // namespace

bool sameFile(const QString& a, const QString& b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (canonicalA.isEmpty() || canonicalB.isEmpty())
        return false;
    if (canonicalA == canonicalB)
        return true;
        // Hard links have canonical paths of their own: the file's identity tells.
#ifdef Q_OS_WIN
    FileId ia, ib;
    return idOf(canonicalA, &ia) && idOf(canonicalB, &ib) && ia == ib;
#else
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(canonicalA).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(canonicalB).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

Status hardLink(const QString& existing, const QString& link) {
#ifdef Q_OS_WIN
    if (!CreateHardLinkW(reinterpret_cast<const wchar_t*>(link.utf16()),
                         reinterpret_cast<const wchar_t*>(existing.utf16()), nullptr))
        return Error(link, windowsErrorText(GetLastError()));
#else
    if (::link(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()) != 0)
        return Error(link, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    return {};
}

} // namespace quaverly
