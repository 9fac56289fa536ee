#include "engines/util/UserFolders.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <shlobj.h>
#include <windows.h>
#endif

namespace quaverly {
namespace {

#ifdef Q_OS_WIN
// The folder the environment names (%APPDATA%, %LOCALAPPDATA%, which the system sets at logon
// and a user or a test may point elsewhere), else the known folder of the user's profile, else
// its home.
QString knownFolder(const char* variable, REFKNOWNFOLDERID id) {
    const QString named = qEnvironmentVariable(variable);
    if (!named.isEmpty() && !QDir::isRelativePath(named))
        return QDir::cleanPath(QDir::fromNativeSeparators(named));
    PWSTR path = nullptr;
    QString found;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        found = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path); // also after a failure, as the system asks
    return found.isEmpty() ? userHome() : QDir::cleanPath(found);
}
#else
// The XDG rules: the variable when it holds an absolute path (a relative one is ignored), else
// the default under the home folder.
QString xdgBase(const char* variable, const char* fallback) {
    const QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || QDir::isRelativePath(base))
        return QDir::cleanPath(userHome() + QLatin1String(fallback));
    return QDir::cleanPath(base);
}
#endif

} // namespace

QString userHome() {
#ifdef Q_OS_WIN
    // Qt asks the process's token first, which a changed %USERPROFILE% does not move.
    const QString named = qEnvironmentVariable("USERPROFILE");
    if (!named.isEmpty() && !QDir::isRelativePath(named))
        return QDir::cleanPath(QDir::fromNativeSeparators(named));
#endif
    return QDir::homePath();
}

QString userCacheBase() {
#ifdef Q_OS_WIN
    return knownFolder("LOCALAPPDATA", FOLDERID_LocalAppData);
#else
    return xdgBase("XDG_CACHE_HOME", "/.cache");
#endif
}

QString userConfigBase() {
#ifdef Q_OS_WIN
    return knownFolder("APPDATA", FOLDERID_RoamingAppData);
#else
    return xdgBase("XDG_CONFIG_HOME", "/.config");
#endif
}

} // namespace quaverly
