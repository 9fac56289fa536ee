#pragma once
// Where this user's files of the program live, the one place that knows each system's rules.
//
//  - the cache base, under which the working folder is made: $XDG_CACHE_HOME (else ~/.cache)
//    on Linux, %LOCALAPPDATA% (else its known folder) on Windows (the songs being worked on
//    stay on this machine);
//  - the configuration base, under which the settings folder is made: $XDG_CONFIG_HOME (else
//    ~/.config) on Linux, %APPDATA% (else its known folder) on Windows (settings roam with the
//    user's profile). A variable is used only when it holds an absolute path.
//
//  - the home folder, where the folder for clips starts: $HOME on Linux, %USERPROFILE% (else
//    the profile's folder) on Windows.
//
// All are absolute and never empty. Threads: any.

#include <QString>

namespace quaverly {

QString userHome();
QString userCacheBase();
QString userConfigBase();

} // namespace quaverly
