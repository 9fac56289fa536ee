#pragma once
// The common report of sound failures: a message titled "Error" with the text, a blank line and
// the sound layer's error code.
//
// Threads: UI thread only.

#include "ui/Dialogs.h"

namespace quaverly {

// The text of the report: text, two line breaks, "error code: " and the code.
QString soundErrorText(const QString& text, int code);

// Shows the report. `code` is the sound layer's error code of the failed call.
void ReportSoundError(Dialogs& dialogs, const QString& text, int code);

} // namespace quaverly
