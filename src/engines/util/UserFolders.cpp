#include "engines/util/UserFolders.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <shlobj.h>
#include <windows.h>
#endif

namespace quaverly {
namespace {

#ifdef Q_OS_WIN
// A known folder of the user's profile; its home when the system names none.
QString knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    QString found;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        found = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path); // also after a failure, as the system asks
    return found.isEmpty() ? QDir::homePath() : QDir::cleanPath(found);
}
#else
// The XDG rules: the variable when it holds an absolute path (a relative one is ignored), else
// the default under the home folder.
QString xdgBase(const char* variable, const char* fallback) {
    const QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || QDir::isRelativePath(base))
        return QDir::cleanPath(QDir::homePath() + QLatin1String(fallback));
    return QDir::cleanPath(base);
}
#endif

} // namespace

QString userCacheBase() {
#ifdef Q_OS_WIN
    return knownFolder(FOLDERID_LocalAppData);
#else
    return xdgBase("XDG_CACHE_HOME", "/.cache");
#endif
}

QString userConfigBase() {
#ifdef Q_OS_WIN
    return knownFolder(FOLDERID_RoamingAppData);
#else
    return xdgBase("XDG_CONFIG_HOME", "/.config");
#endif
}

} // namespace quaverly
