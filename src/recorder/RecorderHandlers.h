#pragma once
// What the recorder panel's controls do: the recording inputs of the sound server with their type
// and level, Record / Stop of a take in memory, the "Take" readout (its length and size), playing
// the take, and saving it as a WAV file (a job of the window, which says "Finish Save: NAME is
// saved.") or, through the window's encodings, as an encoded file: the button names the output
// frame's format, and the name given decides (see OutputChoice.h). An encoded take is titled
// with the local time it began ("Recording 2026-12-09 14:05"); a WAV file carries no tags.
//
// "Record" over a take that is not saved asks first: Save (one save dialog for every format,
// WAV among them; the new take starts once the save has succeeded), Discard (record anew) or
// Cancel (keep the take). The saves live in RecorderSaves.cpp.
//
// Inputs are the capture device's input numbers, which name the server's sources by their stable
// names while the device is open; each visit (initrec) opens it and lists them again. Choosing one
// only decides what is recorded: nothing else on the user's system changes. The Input Volume
// slider sets the chosen input's level on the server for as long as it is the one chosen: choosing
// another, leaving the panel and quitting set it back to what it was (see CaptureDevice.h), so
// the user's system keeps its own levels once the program ends.
//
// The level meter shows the chosen input from the moment the panel is shown with an input chosen
// until it is hidden or the input goes away (monitoring), and while recording, from the same
// one capture at a time (see TakeRecorder.h); meterTimer reads it about 30 times a second.
//
// Threads: UI thread only. The recording's blocks reach the take through TakeRecorder's ring,
// moved in by a timer here (pumpTimer). A save reads the take on its job's thread while the
// window is disabled, so nothing here touches the take until the job has ended.

#include "engines/audio/CaptureDevice.h"
#include "engines/encoder/SongEncode.h"
#include "recorder/TakeRecorder.h"
#include "ui/WindowServices.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

namespace quaverly {

class Dialogs;
class Encodings;
struct EncodeResult;
class Jobs;
class OutputChoice;
class RecorderPanel;

// What the window lends the recorder.
struct RecorderServices : WindowServices {
    TakeRecorder::Options engine; // the take's limits (tests make them small)
};

class RecorderHandlers final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPumpMs = 20;
    static constexpr int kMeterMs = 33;

    RecorderHandlers(RecorderPanel& panel, RecorderServices services, QObject* parent = nullptr);

    // Opens the capture device, lists the inputs with the one recorded from selected and leaves
    // the recorder idle. Without a device it says so and leaves Record
    // disabled; the next visit tries again.
    void initrec();
    void cmbInput_Click();
    // The selected input's level on the slider and its type beside the list.
    void ShowInputState();
    void sldInputLevel_Scroll();
    // The readout; also says once when the take's play broke off (the sound server went away).
    // Its timer runs while a take is recorded or played, and rests once the readout stands.
    void tmrRecTest_Timer();
    void btnRecord_Click();
    void btnPlay_Click();
    void btnSave_Click();
    void CmdWav_Click();
    void CmdMp3_Click();

    // The take readout for a take of `bytes` of sound: "Length 1:23.4 · 14.6 MB".
    static QString takeText(std::uint64_t bytes);
    // The title of a take begun at `started` (local time): "Recording 2026-12-09 14:05".
    static QString takeTitle(const QDateTime& started);

    void BeginRecording();
    void EndRecording();
    // Asks for a WAV name and starts the job that writes the take there, replacing a file whole
    // (a failure is reported when it ends). False when cancelled.
    bool SaveRecordingAsWav();

    // Ends a recording and a play of the take, then lets the take and the capture device go: no
    // block arrives and nothing reads the take once this returns. The panel is idle until the
    // next initrec.
    void releaseTake();
    // Before the take goes (a toolbar click, quitting): a recording is ended, and a take that is
    // not saved is asked about: Save (its save starts, and the caller stays, so that the user
    // goes on once it is there), Discard, or Cancel. True when the take may go now.
    bool mayLetTakeGo();

    const TakeRecorder& engine() const { return engine_; }
    QTimer* pumpTimer;
    QTimer* meterTimer;

private:
    struct EncodedTake {
        QString wav;    // the take, written into the working folder
        QString target; // the chosen target
        encode::Settings settings;
    };
    // Asks for the encoded target and names the work file the take is written to for the
    // encoder. Empty when cancelled or when the target's format cannot be written with its
    // setting.
    EncodedTake SaveRecordingEncoded();
    // The work file and settings of an encoded save into `target`; empty (and said) when its
    // format cannot be written with its setting.
    EncodedTake encodedTake(const QString& target, encode::Format format);
    // Starts the job that writes the take into the work file and encodes it, titled; false when
    // none started.
    bool startEncoded(const EncodedTake& save);
    // True when "Record" is to do nothing now: a take that is not saved is kept (Cancel) or is
    // being saved first (Save, which records once it has succeeded).
    bool keepTakeBeforeRecording();
    // What becomes of a take not saved, asked with `text` saying what Save, Discard and Cancel
    // do here: Saving (its save has started), Discard, or Keep (Cancel, or a save that did not
    // start).
    enum class TakeAnswer { NothingToAsk, Saving, Discard, Keep };
    TakeAnswer askOverTake(const QString& text);
    // Asks for the take's file in any format the recorder saves (the name's extension decides)
    // and starts its save; false when cancelled or when none started.
    bool saveTakeAnyFormat();
    // A save of the take has ended (`saved`: it is there); a Record that waited for it starts.
    void saveEnded(bool saved);
    void encodingFinished(const EncodeResult& result);

    void pumpTimer_Timer();
    // Monitors the chosen input while the panel is shown and nothing records; stops otherwise.
    // A monitoring that cannot start or that stops is not reported: the meter stays empty.
    void updateMonitoring();
    void meterTimer_Timer();
    // Ends the take that pump() stopped and says why.
    void stopFor(TakeRecorder::Stop why);
    // The last name chosen in either save dialog, with `suffix`; the output folder at first.
    QString offeredName(const QString& suffix) const;
    // Starts the job that writes the take to `path`; false when none could start.
    bool writeTake(const QString& path);
    // "Can't create the file" and why.
    void tellNotWritten(const Error& error);
    void showIdle();
    void noInputs(const QString& why);

    RecorderPanel& panel_;
    RecorderServices s_;
    std::optional<audio::CaptureDevice> device_; // from initrec until releaseTake
    TakeRecorder engine_;
    int inputIndex_ = -1;
    QString lastName_;
    QDateTime takeStarted_;        // when the take began: its title
    bool unsaved_ = false;         // the take has not been saved since it was recorded
    bool recordAfterSave_ = false; // the save running was asked for by "Record"
    int encodingId_ = 0;           // the encoded save running, 0 for none
    bool levelFailed_ = false;     // a failed level change is reported once, not at every step
    QElapsedTimer clock_;          // the meter's clock
};

} // namespace quaverly
