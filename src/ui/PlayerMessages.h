#pragma once
// The window's messages about its two players: a song that cannot be opened in the clip editor
// or cannot be played, each told with the player's reason (mcierr::reason: the kind of failure,
// the file and the cause).

#include "engines/util/Error.h"

#include <QString>

namespace quaverly {

// "NAME cannot be played.", a blank line and the reason.
QString cannotPlayText(const QString& name, const Error& why);
// "NAME cannot be opened in the editor.", a blank line and the reason.
QString cannotOpenInEditorText(const QString& name, const Error& why);

} // namespace quaverly
