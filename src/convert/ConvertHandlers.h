#pragma once
// What the convert panel's buttons do: the four "..." choosers, "Convert to Wav" (a song file of
// any kind the song reader reads, decoded into a WAV file, the song listed on the way) and
// "Convert to MP3" (a song file handed to the window's encodings; one that is not a WAV file the
// encoder reads is decoded first, as adding a song decodes it). The second target may be of any
// written format: its extension decides, else the output frame's format, and the frame's
// setting for that format applies; the button's caption names the format. An MP3 comes out as it
// always has, untagged; the other formats carry the song's title, artist, album and cover. The
// four text boxes are the panel's only state.
//
// Threads: UI thread only.

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace quaverly {

class BusyWindow;
class ConvertPanel;
class Dialogs;
class Encodings;
class OutputChoice;

// What the window lends the convert panel.
struct ConvertServices {
    QWidget* window = nullptr; // disabled while a song decodes
    Dialogs* dialogs = nullptr;
    BusyWindow* busy = nullptr;
    Encodings* encodings = nullptr;
    std::function<QString()> baseFolder;  // where the save dialogs open
    std::function<OutputChoice()> output; // the output frame's choice, as it is now
    // Decodes `source` into a new working copy and appends it to the song list, showing
    // `busyText` while it decodes. Reports its own failures to the user and returns the
    // working copy's path, or the empty text when nothing was listed.
    std::function<QString(const QString& source, const QString& busyText)> listSong;
    // Decodes `source` into a new file of the working folder as listSong does, without listing
    // it. Reports its own failures and returns the file's path (the caller removes it), or the
    // empty text.
    std::function<QString(const QString& source, const QString& busyText)> decodeSong;
};

class ConvertHandlers final : public QObject {
    Q_OBJECT
public:
    ConvertHandlers(ConvertPanel& panel, ConvertServices services, QObject* parent = nullptr);

    // The "..." choosers; a cancelled dialog empties its box.
    void CmdopenMp3_Click();
    void CmdSavewav2_Click();
    void Cmdopenwav_Click();
    void CmdSaveMP3_Click();

    // "Convert to Wav": the song in txtopenmp3 into the WAV file in txtsavewav. Returns when
    // the work is done; the song is listed too.
    void CmdconvertWav_Click();
    // "Convert to MP3": starts encoding the song in txtopenwav into txtsavemp3 and returns; the
    // encoding's completion tells the user how it went. A song the encoder does not read as it
    // is gets decoded first, with the window held as for "Convert to Wav".
    void CmdConvertMP3_Click();

    // "Convert to MP3" names the format the target in txtsavemp3 gets (after a change of the
    // output frame's format too).
    void showTarget();

private:
    bool refuseSameFile(const QString& source, const QString& target);

    ConvertPanel& panel_;
    ConvertServices s_;
};

} // namespace quaverly
