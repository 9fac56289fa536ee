#pragma once
// "outputs.ini" beside config.ini: what config.ini has no line for, the output frame's format,
// the other formats' settings, the preset and the "keep" box, one "key=value" line each
// ("format=m4r", "preset=iphone-ringtone", "flac=5"; "keep=0" only when clips are always
// re-encoded). Written with config.ini by "Save Setting", read back at start; config.ini keeps
// its two lines, and with them the MP3 bit rate.
//
// Threads: pure functions of their arguments and the file; callable from any thread.

#include "engines/util/Error.h"

#include <QByteArray>
#include <QString>

namespace quaverly {

class OutputChoice;

// outputs.ini in the folder of the settings file `settingsPath`.
QString outputSettingsPath(const QString& settingsPath);

// The lines of outputs.ini for `choice`.
QByteArray formatOutputSettings(const OutputChoice& choice);

// Puts the choices of outputs.ini into *choice, which holds the MP3 bit rate already, when the
// whole file is valid: known keys only, each format's value one the window offers, a preset only
// with its own format and value (else no preset). False, and *choice as it was, for a missing,
// unreadable or damaged file.
bool readOutputSettings(const QString& path, OutputChoice* choice);

// Writes outputs.ini as writeSettings writes config.ini.
Status writeOutputSettings(const QString& path, const OutputChoice& choice);

} // namespace quaverly
