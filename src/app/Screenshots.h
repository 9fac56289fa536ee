#pragma once
// Pictures of the window for the documentation: each panel in turn, and the busy window.
//
// Threads: UI thread only.

#include <QString>

namespace quaverly {

class Frmmain;

// Shows each panel through the toolbar and saves the window as DIR/NN-<key>.png, then the
// Audio Edit panel with each of its inner frames, then the busy window; then closes the
// window. False when a picture could not be written.
bool saveScreenshots(Frmmain& window, const QString& folder);

} // namespace quaverly
