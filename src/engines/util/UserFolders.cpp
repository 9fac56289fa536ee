#include "engines/util/UserFolders.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <shlobj.h>
#include <windows.h>
#endif

namespace quaverly {
namespace {

// The folder an environment variable names, when it names an absolute one (a relative one is
// ignored, as the XDG rules say); else empty.
QString absoluteFolderIn(const char* variable) {
    const QString named = qEnvironmentVariable(variable);
    if (named.isEmpty() || QDir::isRelativePath(named))
        return {};
    return QDir::cleanPath(QDir::fromNativeSeparators(named));
}

#ifdef Q_OS_WIN
// The folder the environment names (%APPDATA%, %LOCALAPPDATA%, which the system sets at logon
// and a user or a test may point elsewhere), else the known folder of the user's profile, else
// its home.
QString knownFolder(const char* variable, REFKNOWNFOLDERID id) {
    if (QString named = absoluteFolderIn(variable); !named.isEmpty())
        return named;
    PWSTR path = nullptr;
    QString found;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        found = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path); // also after a failure, as the system asks
    return found.isEmpty() ? userHome() : QDir::cleanPath(found);
}
#else
// The XDG rules: the variable's folder, else the default under the home folder.
QString xdgBase(const char* variable, const char* fallback) {
    const QString named = absoluteFolderIn(variable);
    return named.isEmpty() ? QDir::cleanPath(userHome() + QLatin1String(fallback)) : named;
}
#endif

} // namespace

QString userHome() {
#ifdef Q_OS_WIN
    // Qt asks the process's token first, which a changed %USERPROFILE% does not move.
    if (QString named = absoluteFolderIn("USERPROFILE"); !named.isEmpty())
        return named;
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
