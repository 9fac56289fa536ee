#pragma once
// Where this user's files of the program live, the one place that knows each system's rules.
//
//  - the cache base, under which the working folder is made: $XDG_CACHE_HOME (else ~/.cache)
//    on Linux, %LOCALAPPDATA% on Windows (the songs being worked on stay on this machine);
//  - the configuration base, under which the settings folder is made: $XDG_CONFIG_HOME (else
//    ~/.config) on Linux, %APPDATA% on Windows (settings roam with the user's profile).
//
// Both are absolute and never empty. Threads: any.

#include <QString>

namespace quaverly {

QString userCacheBase();
QString userConfigBase();

} // namespace quaverly
