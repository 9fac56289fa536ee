#pragma once
// The interpreter of the wave-audio command texts that the clip editor's cut sends:
//
//   open PATH type waveaudio alias NAME     opens an 8 or 16-bit PCM WAV file under NAME
//   delete NAME from A to B                 removes the sound from A to B (milliseconds)
//   save NAME PATH                          writes what is left as a 44-byte-header PCM WAV
//   close NAME | close all                  lets go of the file(s)
//
// Words are compared without regard to case and may be separated by any run of blanks or tabs.
// A path (or any word) with blanks is written in double quotes. Every command also accepts the
// keyword "wait", which changes nothing: each command is complete when send() returns. In
// "delete", "from" defaults to 0 and "to" to the end of the sound.
//
// Positions are milliseconds of the sound as it is now: after a delete, everything behind the
// removed stretch moves down, as on a wave device. A position maps to the nearest sample frame
// at the file's rate (a half rounds up); the length in milliseconds is the frame count mapped
// back the same way, and a position equal to that length means the very end of the sound.
//
// An edit never decodes or buffers the sound: it is kept as the list of byte ranges of the
// source's sample data that are still in, and "save" copies those ranges in large blocks through
// an AtomicFile (a temporary file beside the target, synced and renamed over it). The source file
// is opened read-only and never written in place. "save" may name the device's own file: its
// read handle is let go just before the rename and the device goes on with the saved file. A
// file that another device holds open cannot be the target.
//
// Every command either succeeds completely (0) or fails with an error code from MciErrors.h and
// changes nothing: no device opened or closed, no range removed, no file written. (The one
// exception: a save over the device's own file that succeeds but whose file then cannot be
// opened again fails with kFileRead; the file is saved, and the device can no longer read it.)
//
// Threads: one object is used from one thread at a time; it starts no threads of its own.

#include <QString>
#include <QStringList>

#include <map>
#include <memory>

namespace quaverly {

class WaveCommands {
public:
    WaveCommands();
    ~WaveCommands(); // closes whatever is still open
    WaveCommands(const WaveCommands&) = delete;
    WaveCommands& operator=(const WaveCommands&) = delete;

    // Carries out one command text; 0 or an mcierr:: code.
    int send(const QString& commandText);

    // Every text received by send(), in order, as it was given (failed ones too).
    QStringList log() const { return log_; }

    // The code and a readable reason of the last send(): 0 and "" after a success.
    int lastErrorCode() const { return lastCode_; }
    QString lastError() const { return lastError_; }

    // Aliases currently open (lower case), for checks and diagnostics.
    QStringList openAliases() const;

private:
    struct Device;

    int fail(int code, const QString& detail);
    int doOpen(const QStringList& words);
    int doDelete(const QStringList& words);
    int doSave(const QStringList& words);
    int doClose(const QStringList& words);
    Device* find(const QString& alias);

    std::map<QString, std::unique_ptr<Device>> devices_; // keyed by lower-case alias
    QStringList log_;
    int lastCode_ = 0;
    QString lastError_;
};

} // namespace quaverly
