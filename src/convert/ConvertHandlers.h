#pragma once
// What the convert panel's buttons do: the four "..." choosers, "Convert to Wav" (an MP3 file
// decoded into a WAV file, the song listed on the way) and "Convert to MP3" (a WAV file handed
// to the window's encodings). The four text boxes are the panel's only state.
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

// What the window lends the convert panel.
struct ConvertServices {
    QWidget* window = nullptr; // disabled while an MP3 decodes
    Dialogs* dialogs = nullptr;
    BusyWindow* busy = nullptr;
    Encodings* encodings = nullptr;
    std::function<QString()> baseFolder; // where the save dialogs open
    std::function<int()> outBitRate;     // kbit/s of the MP3 encoding, as selected now
    // Decodes `source` into a new working copy and appends it to the song list, showing
    // `busyText` while it decodes. Reports its own failures to the user and returns the
    // working copy's path, or the empty text when nothing was listed.
    std::function<QString(const QString& source, const QString& busyText)> listSong;
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

    // "Convert to Wav": the MP3 in txtopenmp3 into the WAV file in txtsavewav. Returns when
    // the work is done; the song is listed too.
    void CmdconvertWav_Click();
    // "Convert to MP3": starts encoding the WAV in txtopenwav into txtsavemp3 and returns; the
    // encoding's completion tells the user how it went.
    void CmdConvertMP3_Click();

private:
    bool refuseSameFile(const QString& source, const QString& target);

    ConvertPanel& panel_;
    ConvertServices s_;
};

} // namespace quaverly
