#pragma once
// A media player for PCM WAV files, driven by command texts: the list playback and the clip
// editor each own one and drive it through FileName, Command, From, To, Length and Position.
//
// Commands (compared without regard to case, surrounding blanks ignored):
//   "open"   opens the 8 or 16-bit PCM WAV file named by FileName at position 0. Whatever was
//            open is released first (without Done); if the new file cannot be opened the
//            player is left closed and the code says why.
//   "play"   plays from From if setFrom() was called since the last play, else from the current
//            position, to To if setTo() was called since the last play, else to the end. "play"
//            while playing goes on unchanged, unless From or To was set: then playback restarts,
//            at From or where it was heard. A start at or past the end (or at or past To) plays
//            nothing and raises Done(1) at once, so list playback moves on past an empty song.
//   "stop"   halts and keeps the position that was heard; a later "play" goes on from there.
//   "pause"  the same as "stop".
//   "seek"   halts like "stop" and moves the position to From when setFrom() was called since
//            the last play or seek (From is then used up); a later "play" goes on from there. A
//            negative From fails with mcierr::kOutOfRange and changes nothing.
//   "close"  releases the file and the device stream; Length and Position read 0 afterwards.
// Any command except "open" on a closed player fails with mcierr::kInvalidDeviceId and changes
// nothing; an unknown command fails with mcierr::kUnrecognizedCommand.
//
// Done(notifyCode) is raised only when playback ends by itself:
//   mcinotify::kSuccessful (1)  the sound has played to its end (Position() == Length()), or
//                               to the To of that "play" (Position() == To, clamped to the end):
//                               exactly the frames from the start up to To's frame were played,
//   mcinotify::kFailure (8)     playback broke off: the file could no longer be read, or the
//                               sound device failed (the sound server went away). Position()
//                               is where it was heard to stop, and lastErrorCode() and
//                               lastError() say why (mcierr::kFileRead, mcierr::kHardware) until
//                               the next command; the next "play" starts a new device stream.
// No command raises Done: not "stop", "pause", "close", "open", nor a "play" that restarts
// playback elsewhere. The list playback starts the next song on every Done while "Play List" is
// ticked, so a Done after "stop" would wrongly skip to the next song.
//
// Position is the position heard: the start frame plus the frames the device reports as played,
// not what has been handed to it, so a stop keeps exactly what the listener has heard. Lengths
// and positions are whole milliseconds, rounded to the nearest.
//
// Playing never blocks the UI thread on the device, and the device callback never blocks or
// allocates: a reader thread reads the file ahead into a single-producer single-consumer ring,
// and the callback only copies out of that ring and posts a semaphore that wakes the reader.
// If the ring ever runs dry before the end (the reader starved), the callback plays silence for
// the gap and Position discounts it.
//
// Threads: every member function, the constructor and the destructor run on the thread that owns
// the object (the UI thread); StatusUpdate and Done are emitted there. Only the private reader
// thread and the back end's device thread run anything else, and neither touches the object's
// public state.

#include "engines/audio/AudioBackend.h"
#include "engines/wav/WavHeader.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

class QFile;

namespace quaverly {

class PlaySession;

class MciPlayer : public QObject {
    Q_OBJECT
public:
    // `backend` is the sound device the player plays through; it may be null, in which case
    // "play" fails with mcierr::kHardware.
    explicit MciPlayer(std::shared_ptr<audio::AudioBackend> backend, QObject* parent = nullptr);
    ~MciPlayer() override; // stops and releases everything, without Done

    // The file the next "open" opens; changing it does not touch an open file.
    void setFileName(const QString& path) { fileName_ = path; }
    QString FileName() const { return fileName_; }

    // Carries out a command text (see above); 0 or an mcierr:: code.
    int Command(const QString& command);

    // Length of the open file and the position heard, in milliseconds; 0 when closed.
    qint64 Length() const;
    qint64 Position() const;

    // Start position for the next "play", in milliseconds. A negative value makes that "play"
    // fail with mcierr::kOutOfRange; a value past the end plays nothing. Forgotten on "open" and
    // "close".
    void setFrom(qint64 ms) { from_ = ms; }
    qint64 From() const { return from_.value_or(0); }
    // End point for the next "play", in milliseconds: playback stops at the frame nearest to it
    // (as From maps to a frame), having played the frames before it, and raises Done(1) as at
    // the end. A negative value makes that "play" fail with mcierr::kOutOfRange; a value past the
    // end is the end. Used by one "play" only; forgotten on "open" and "close".
    void setTo(qint64 ms) { to_ = ms; }

    // Interval of StatusUpdate while a file is open, in milliseconds (default 1000); 0 or less
    // turns the notification off.
    void setUpdateInterval(int ms);
    int UpdateInterval() const { return updateInterval_; }

    bool isOpen() const { return file_ != nullptr; }
    bool isPlaying() const { return playing_; }

    // The code and a readable reason of the last failing command, or of the playback that
    // broke off (Done(kFailure)); 0 and "" after a command that succeeded.
    int lastErrorCode() const { return lastCode_; }
    QString lastError() const { return lastError_; }

signals:
    // At every update interval while a file is open, playing or not.
    void StatusUpdate();
    // When playback has ended by itself; see above.
    void Done(int notifyCode);

private:
    int fail(int code, const QString& detail);
    int open();
    int play();
    int seek();
    // The frame a millisecond position stands for: the nearest, and the end from Length() on.
    std::uint64_t frameAt(qint64 ms) const;
    void halt();     // stops playback, keeping the position heard
    void release();  // closes everything
    void checkEnd(); // polled while playing: raises Done at the natural end
    std::uint64_t currentFrame() const;

    std::shared_ptr<audio::AudioBackend> backend_;
    QString fileName_;
    std::optional<qint64> from_;
    std::optional<qint64> to_;
    int updateInterval_ = 1000;

    std::unique_ptr<QFile> file_; // open read-only from "open" to "close"
    WavLayout layout_;
    std::uint64_t totalFrames_ = 0;
    std::uint64_t positionFrame_ = 0; // position while not playing
    std::uint64_t endFrame_ = 0;      // where the current playback stops: To, or the end
    bool playing_ = false;
    std::unique_ptr<PlaySession> session_; // null while stopped, or when playing at the end

    QTimer statusTimer_;
    QTimer endTimer_;

    int lastCode_ = 0;
    QString lastError_;
};

} // namespace quaverly
