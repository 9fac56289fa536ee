#pragma once
// What the convert panel's buttons do: the four "..." choosers, "Convert to Wav" (a song file of
// any kind the song reader reads, decoded into a WAV file, the song listed on the way) and
// "Convert to MP3" (a song file handed to the window's encodings; one that is not a WAV file the
// encoder reads is decoded first, as adding a song decodes it). The decodes run as jobs, with
// progress and Cancel. The second target may be of any written format: its extension decides,
// else the output frame's format, and the frame's setting for that format applies; the button's
// caption names the format. An MP3 comes out as it always has, untagged; the other formats carry
// the song's title, artist, album and cover. Each convert button is enabled only while both its
// boxes hold a name. A typed target that is there already is replaced only on the user's word
// (the save dialogs ask for the targets they give). The four text boxes and the targets the
// dialogs last gave are the panel's only state.
//
// Threads: UI thread only.

#include "engines/encoder/SongEncode.h"
#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"
#include "ui/WindowServices.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace quaverly {

class BusyWindow;
class ConvertPanel;
class Dialogs;
class Encodings;
class OutputChoice;

// What the window lends the convert panel.
struct ConvertServices : WindowServices {
    // Makes a working copy of `source` as adding a song makes one, on a job's thread with
    // `words` in the busy window, then runs `after` (if any) there, with the copy's path and a
    // progress that counts the rest of the job, its stop requested once Cancel was pressed; it
    // returns its failure. A copy that could not be made is reported in the words of
    // adding a song when `listing`, else of decoding one; with `listing` the copy is listed as an
    // added song. Cancel removes the copy and lists nothing. When the job has ended, `done` runs
    // on the window thread with the copy (empty when none was made, or after Cancel) and what
    // `after` returned (success when it did not run); it does not run when no job started (a
    // failure already reported).
    std::function<void(
        const QString& source, bool listing, const QString& words,
        std::function<Status(const QString& copy, const WorkProgress& progress)> after,
        std::function<void(const QString& copy, const Status& after)> done)>
        copySong;
};

class ConvertHandlers final : public QObject {
    Q_OBJECT
public:
    ConvertHandlers(ConvertPanel& panel, ConvertServices services, QObject* parent = nullptr);

    // The "..." choosers; a cancelled dialog empties its box (and disables its convert button).
    void CmdopenMp3_Click();
    void CmdSavewav2_Click();
    void Cmdopenwav_Click();
    void CmdSaveMP3_Click();

    // "Convert to Wav": the song in txtWavSource into the WAV file in txtsavewav, as a job
    // (decoded into a working copy, which is listed, and copied to the target); returns once it
    // has started; its end says "Convert Finish: NAME is saved." (convertedText). Cancel leaves
    // the target and the list as they were.
    void CmdconvertWav_Click();
    // "Convert to MP3": starts encoding the song in txtEncodeSource into txtEncodeTarget and
    // returns; the encoding's completion tells the user how it went. A song the encoder does not
    // read as it is gets decoded first, as a job whose end starts the encoding.
    void CmdConvertMP3_Click();

    // "Convert to MP3" names the format the target in txtEncodeTarget gets (after a change of the
    // output frame's format too).
    void showTarget();

private:
    void enableButtons();
    bool refuseSameFile(const QString& source, const QString& target);
    // True when `target` is a file already there that the user did not choose to replace:
    // asked unless it is the one the save dialog gave (`picked`), which asked itself.
    bool keepsTarget(const QString& target, const QString& picked);
    // True when a conversion from `source` to `target` does not go ahead: a box is empty, they
    // are one file, or the target is kept (see keepsTarget).
    bool holdsBack(const QString& source, const QString& target, const QString& picked);
    void restoreEncodingsBusyWindow();
    // Decodes `source` into the WAV file `target` as a job, listing the song when `listing`.
    void convertToWav(const QString& source, const QString& target, bool listing);
    // Hands `source` (or the file it was `decoded` into, which the encoding then removes) to
    // the encodings.
    void startEncoding(const QString& source, const QString& decoded, const QString& target,
                       encode::Format format, const encode::Settings& settings);

    ConvertPanel& panel_;
    ConvertServices s_;
    QString pickedWav_;     // what "Save as" of "Any song -> WAV" last gave
    QString pickedEncoded_; // what "Save as" of the encoded conversion last gave
};

} // namespace quaverly
