#pragma once
// The clip editor: a double click on a song opens its working copy in the editor's player; the
// slider, Play and Stop move about in it; "Mark In" and "Mark Out" take the play position; and
// "Done" cuts the working copy down to the stretch between the marks, in place. From then on
// list playback and the list saves hear only the clip.
//
// Threads: UI thread only; the player's status notification arrives there.

#include "engines/mci/WaveCommands.h"

#include <QObject>
#include <QString>

#include <functional>

namespace quaverly {

class Dialogs;
class EditSongFrame;
class MciPlayer;

// What the window lends the clip editor.
struct EditorServices {
    Dialogs* dialogs = nullptr;
    MciPlayer* MMCEdit = nullptr;
    MciPlayer* MMCPlayList = nullptr;
    QString* ListMode = nullptr; // the window's ListMode: "Edit" while a song is open, "Play" after
    qint64* MarkIn = nullptr;    // the window's marks, in milliseconds
    qint64* MarkOut = nullptr;
    // The working copy of the selected song, and its name; empty when no song is selected.
    std::function<QString()> selectedCopy;
    std::function<QString()> selectedName;
    // The list player's frame makes way for the editor's.
    std::function<void()> hideListPlayer;
};

class EditorHandlers final : public QObject {
    Q_OBJECT
public:
    EditorHandlers(EditSongFrame& frame, EditorServices services, QObject* parent = nullptr);

    // Opens the selected song, stopped at 0, with the marks at its start and its end.
    void List1_DblClick();
    void MMCEdit_StatusUpdate();
    // Plays from the slider's second to the end.
    void SliderEdit_Click();
    void CmdEditPlay_Click();
    void CmdEditStop_Click();
    void CmdMarkin_Click();
    void CmdMarkOut_Click();
    // Cuts the open song's working copy to [MarkIn, MarkOut]; marks out of order give
    // "Time Input Error" and change nothing.
    void CmdEditDone_Click();

    // The players have let go of the song (a click on the list, a remove): the editor's
    // controls go idle, and with `hide` the frame goes too.
    void reset(bool hide);

    // Every command text the cuts sent, in order.
    QStringList commandLog() const { return commands_.log(); }

private:
    void setControlsEnabled(bool enabled);
    // Opens song_ in the editor's player; false (reported, the controls idle) when it cannot.
    bool openSong();
    // The editor's player holds the open song, opened again if someone closed it.
    bool ensureOpen();

    EditSongFrame& frame_;
    EditorServices s_;
    WaveCommands commands_;
    QString song_;     // the working copy open in the editor
    QString songName_; // its name in the list
};

} // namespace quaverly
