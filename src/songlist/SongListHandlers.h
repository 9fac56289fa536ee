#pragma once
// What the song list's buttons do: adding and removing songs, a click on a song, and saving the
// list as one WAV or MP3 file. Every song owns one working copy in the working folder, whose
// path the list item carries (AudioEditPanel::kWorkingCopyRole), so songs of the same name never
// share audio.
//
// Threads: UI thread only.

#include "convert/SongDecoder.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace quaverly {

class AudioEditPanel;
class BusyWindow;
class Dialogs;
class Encodings;
class MciPlayer;

// What the window lends the song list.
struct SongListServices {
    QWidget* window = nullptr; // disabled while a song decodes or the list encodes
    Dialogs* dialogs = nullptr;
    BusyWindow* busy = nullptr;
    MciPlayer* MMCEdit = nullptr;
    MciPlayer* MMCPlayList = nullptr;
    Encodings* encodings = nullptr;
    std::function<QString()> workPath;   // the working folder, ending in "/"
    std::function<QString()> baseFolder; // where the save dialogs open
    std::function<int()> outBitRate;     // kbit/s of the MP3 save
};

class SongListHandlers final : public QObject {
    Q_OBJECT
public:
    SongListHandlers(AudioEditPanel& panel, SongListServices services, QObject* parent = nullptr);

    // "ADD": asks for one WAV or MP3 file and appends it as a song.
    void CmdAdd_Click();
    // "Remove": removes the selected song and its own working copy after a confirmation.
    void Cmdremove_Click();
    // A click on a song: the players let go of their files and "Play Control" shows.
    void List1_Click();
    // "Save The List to Wav" / "Save The List to MP3".
    void CmdSaveWav_Click();
    void CmdSaveList_Click();

    // Makes the working copy of a picked file and appends the song; reports a failure itself
    // and returns false. `busyText` is what the busy window says while the song is decoded.
    bool addSong(const QString& picked, const QString& busyText);
    // The working copy of every song, in list order.
    QStringList workingCopies() const;

signals:
    // The clip editor must go back to its idle state (after a click on a song or a remove);
    // the window, which owns the editor, does that. A click on a song also hides the editor.
    void editorReset(bool songClicked);

private:
    void stopAndClosePlayers();
    bool refuseEmptyList();

    AudioEditPanel& panel_;
    SongListServices s_;
    SongDecoder decoder_;
};

} // namespace quaverly
