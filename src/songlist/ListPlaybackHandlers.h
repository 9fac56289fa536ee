#pragma once
// List playback: the "Play Control" frame plays the songs' working copies through the list
// player, from the selected song on, and with "Play List" ticked on through the rest of the list.
// "Next" and "Previous" (CmdForward) play the song after or before the one playing (or the
// selection while nothing plays); "Pause" holds the song and, pressed again, goes on from the same
// sample.
//
// updateButtons() enables the five buttons while the clip editor has no song open and the list
// is not empty, and keeps "Next" and "Previous" to where there is a song to go to; it runs
// whenever the list's rows or its selection change.
//
// While a song plays or is paused, lblListPosition shows it with its position and length
// ("Song  0:12.345 / 3:45"), read from the player by positionTimer a few times a second while it
// plays; the player's signals say when it starts, pauses and stops, and once it has stopped or
// closed (whoever stopped it) the label is cleared. Nothing runs while nothing plays.
//
// Threads: UI thread only; the player's Done arrives there.

#include "engines/util/Error.h"
#include "ui/WindowServices.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace quaverly {

class AudioEditPanel;
class Dialogs;
class WavPlayer;

// What the window lends list playback.
struct ListPlaybackServices : WindowServices {
    int* PlayIndex = nullptr;          // the window's PlayIndex
    const QString* ListMode = nullptr; // the window's ListMode: "Edit" while a song is edited
};

class ListPlaybackHandlers final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPositionMs = 200;

    ListPlaybackHandlers(AudioEditPanel& panel, ListPlaybackServices services,
                         QObject* parent = nullptr);

    void CmdPlay_Click();
    void CmdStop_Click();
    void CmdPause_Click();
    void CmdNext_Click();
    void CmdForward_Click();
    // Starts the song at PlayIndex and moves PlayIndex on; past the last song the player stops
    // and closes.
    void PlayNext();
    // The song has ended by itself, played to its end or broken off with the Error: with "Play
    // List" ticked the next one starts. A song that broke off is reported; after an unreadable
    // file the list goes on, after a failed sound device (the sound server went away) it stops.
    void listPlayer_Done(const Status& ended);
    void updateButtons();
    // The song playing (or paused) with its position and length; clears the label once nothing
    // plays. positionTimer runs while the song plays.
    void showPosition();
    // The clip editor takes the frame's place: the five buttons go and so does the frame.
    void giveWayToEditor();
    // Songs changed rows (the song at row i went to newRowOf[i]): the player's song keeps being
    // the one playing, and the song after it in the new order is the one that plays next.
    void followRows(const QList<int>& newRowOf);

    QTimer* positionTimer;

private:
    // Plays the song at `row` as "Play" would for a selection there.
    void playFrom(int row);
    // The row the list player plays or holds, else the selection.
    int currentRow() const;

    AudioEditPanel& panel_;
    ListPlaybackServices s_;
    int playingRow_ = -1; // the row the player was last started on
    bool paused_ = false; // "Pause" holds the song the player has open
};

} // namespace quaverly
