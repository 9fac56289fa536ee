#pragma once
// Pictures of the window for the documentation and for checking its looks: each panel in turn
// and the busy window, in the light and in a dark theme, and again at 200 % in a second run of
// the program with QT_SCALE_FACTOR=2.
//
// Threads: UI thread only.

#include <QString>
#include <QStringList>

namespace quaverly {

class Dialogs;
class Frmmain;

// Shows each panel through the toolbar and saves the window as DIR/NN-<key><tag>.png, then the
// Audio Edit panel with each of its inner frames, then the busy window; then closes the
// window. False when a picture could not be written.
bool saveScreenshots(Frmmain& window, const QString& folder, const QString& tag);

// The whole set: for the light theme (tag "-light") and then a dark one (Fusion with
// darkDesktopPalette(), "-dark"), a window of its own with `songs` listed. Unless `secondScale`
// (this run is the one at 200 %, tags "-light@2x" and "-dark@2x"), it then runs `program` again
// with QT_SCALE_FACTOR=2 for those. 0 when every picture was written.
int takeScreenshots(Dialogs& dialogs, const QString& program, const QStringList& songs,
                    const QString& folder, bool secondScale);

} // namespace quaverly
