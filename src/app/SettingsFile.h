#pragma once
// The settings file "config.ini": two lines, each ended by CR LF, holding the MP3 bit rate of
// the list save and the output folder. Written by "Save Setting", read back at start.
//
// Threads: pure functions of their arguments and the file; callable from any thread.

#include "engines/util/Error.h"

#include <QString>

#include <optional>

namespace quaverly {

struct Settings {
    int outBitRate = 256;
    QString baseFolder;
};

// The MP3 bit rates the output frame offers, in kbit/s.
bool isOfferedBitRate(int kbps);

// velmarise/config.ini under the user's configuration folder (engines/util/UserFolders.h):
// $XDG_CONFIG_HOME or ~/.config on Linux, %APPDATA% on Windows.
QString defaultSettingsPath();

// The two lines exactly as written: bit rate, CR LF, folder (native separators), CR LF.
QByteArray formatSettings(const Settings& settings);

// The settings in the file when it is valid: one of the offered bit rates on line 1 (blanks
// around it are allowed), an existing folder on line 2, nothing else but an empty last line.
// Lines may end in CR LF or LF. nullopt for a missing, unreadable or damaged file.
std::optional<Settings> readSettings(const QString& path);

// Writes the file whole, through a temporary file beside it that is renamed into place, so a
// failure leaves the old file as it was. Creates the folder when missing. A failure's Error
// holds, as its cause, a sentence for the user that names the file or folder and the cause.
Status writeSettings(const QString& path, const Settings& settings);

// The whole of a settings file that is there and small enough to be one; nullopt otherwise.
std::optional<QByteArray> readSettingsFile(const QString& path);
// Writes `content` as the whole file at `path` as writeSettings does.
Status writeSettingsFile(const QString& path, const QByteArray& content);

} // namespace quaverly
