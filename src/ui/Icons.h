#pragma once

#include <QIcon>
#include <QStringView>

namespace quaverly {

// The program's icon at `base`, a resource path without its extension (":/icons/open"). It is
// drawn from base.svg; where Qt has no SVG support (the Windows build, QUAVERLY_PNG_ICONS), from
// base.png, base@2x.png and base@3x.png, rendered at build time at one, two and three times the
// size it is shown at, so that it stays sharp on screens scaled up to 300 %.
QIcon appIcon(QStringView base);

} // namespace quaverly
