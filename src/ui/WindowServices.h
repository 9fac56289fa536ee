#pragma once
// What the main window lends its subsystems: the pieces they share (dialogs, busy window, jobs,
// encodings, the two players) and the window's settings as they are now. Each subsystem's own
// services derive from it and add what only that subsystem needs; a member left empty is a piece
// the subsystem does without (tests lend only what they exercise).
//
// Threads: UI thread only.

#include <QString>

#include <functional>

class QWidget;

namespace quaverly {

class BusyWindow;
class Dialogs;
class Encodings;
class Jobs;
class OutputChoice;
class WavPlayer;

struct WindowServices {
    QWidget* window = nullptr; // the main window: disabled while a save runs
    Dialogs* dialogs = nullptr;
    BusyWindow* busy = nullptr;
    Jobs* jobs = nullptr; // whole-file work off the window thread
    Encodings* encodings = nullptr;
    std::function<QString()> workPath;    // this instance's working folder, ending in "/"
    std::function<QString()> baseFolder;  // where the save dialogs open
    std::function<OutputChoice()> output; // the output frame's choice, as it is now
    // The two players: the clip editor's and the list player's.
    WavPlayer* editorPlayer = nullptr;
    WavPlayer* listPlayer = nullptr;
};

} // namespace quaverly
