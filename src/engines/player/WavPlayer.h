#pragma once
// A player for PCM WAV files: the list playback and the clip editor each own one.
//
//   open(path)        opens the 8 or 16-bit PCM WAV file at position 0. Whatever was open is
//                     released first (without Done); if the new file cannot be opened the player
//                     is left closed and the Error says why.
//   play(from, to)    plays from `from` (ms) if given, else from the current position, to `to`
//                     (ms) if given, else to the end. play() while playing goes on unchanged;
//                     with a start or an end point it restarts, at `from` or where it was heard.
//                     A start at or past the end (or at or past `to`) plays nothing and raises
//                     Done(kSuccessful) at once, so list playback moves on past an empty song. A
//                     negative point fails with mcierr::kOutOfRange and changes nothing. A play
//                     that cannot start leaves the player stopped where it was heard and keeps
//                     its points for the next play(), whose own points replace them one by one.
//   stop(), pause()   halt and keep the position that was heard; a later play() goes on from
//                     there. pause() holds the device stream where it is, so that play() without
//                     points resumes it; stop() lets it go.
//   seek(ms)          halts like stop() and moves the position to `ms`; a later play() goes on
//                     from there. A negative `ms` fails with mcierr::kOutOfRange.
//   close()           releases the file and the device stream; Length and Position read 0.
// play() and seek() on a closed player fail with mcierr::kInvalidDeviceId and change nothing;
// stop(), pause() and close() then do nothing.
//
// Done(notifyCode) is raised only when playback ends by itself:
//   mcinotify::kSuccessful (1)  the sound has played to its end (Position() == Length()), or to
//                               the end point of that play (Position() == to, clamped to the
//                               end): exactly the frames from the start up to that frame,
//   mcinotify::kFailure (8)     playback broke off: the file could no longer be read, or the
//                               sound device failed (the sound server went away). Position() is
//                               where it was heard to stop, brokenOff() says why
//                               (mcierr::kFileRead, mcierr::kHardware), and the next play()
//                               starts a new device stream.
// Nothing the caller does raises Done: not stop(), pause(), close(), open(), nor a play() that
// restarts playback elsewhere. The list playback starts the next song on every Done while "Play
// List" is ticked, so a Done after a stop would wrongly skip to the next song. The end comes from
// the device stream, which tells when its last frame has been heard: nothing polls for it.
//
// What the caller does is told by Opened, Closed, Started, Paused and Stopped, so that the views
// of the player need not poll it either.
//
// Positions are milliseconds: a point maps to the nearest frame at the file's rate (a half rounds
// up), and from Length() on to the end. Position is the position heard: the start frame plus the
// frames the device reports as played, not what has been handed to it, so a stop keeps exactly
// what the listener has heard. Lengths and positions are whole milliseconds, rounded to the
// nearest.
//
// Playing never blocks the UI thread on the device, and the device callback never blocks or
// allocates: a reader thread reads the file ahead into a single-producer single-consumer ring,
// and the callback only copies out of that ring (internal/PlaySession.h). If the ring ever runs
// dry before the end (the reader starved), the callback plays silence for the gap and Position
// discounts it.
//
// Threads: every member function, the constructor and the destructor run on the thread that owns
// the object (the UI thread); every signal is emitted there. Only the private reader thread and
// the back end's device thread run anything else, and neither touches the object's public state:
// the device thread only queues a call when the stream has ended.

#include "engines/audio/AudioBackend.h"
#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

namespace quaverly {

class SampleReader;

namespace internal {
class PlaySession;
}

class WavPlayer : public QObject {
    Q_OBJECT
public:
    // `backend` is the sound device the player plays through; it may be null, in which case
    // play() fails with mcierr::kHardware.
    explicit WavPlayer(std::shared_ptr<audio::AudioBackend> backend, QObject* parent = nullptr);
    ~WavPlayer() override; // stops and releases everything, without Done

    Status open(const QString& path);
    // The file last given to open(), whether or not it opened; kept after close().
    QString FileName() const { return fileName_; }

    Status play(std::optional<qint64> fromMs = std::nullopt,
                std::optional<qint64> toMs = std::nullopt);
    void stop();
    void pause();
    Status seek(qint64 ms);
    void close();

    // Length of the open file and the position heard, in milliseconds; 0 when closed.
    qint64 Length() const;
    qint64 Position() const;

    // Interval of StatusUpdate while the player plays, in milliseconds (default 1000); 0 or less
    // turns the notification off.
    void setUpdateInterval(int ms);

    bool isOpen() const { return reader_ != nullptr; }
    bool isPlaying() const { return playing_; }

    // Why the last playback broke off (Done(kFailure)); empty after any other end, and once
    // the player plays, opens or closes again.
    const std::optional<Error>& brokenOff() const { return brokenOff_; }

signals:
    // At every update interval while the player plays.
    void StatusUpdate();
    // When playback has ended by itself; see above.
    void Done(int notifyCode);
    // A file has opened; an open file has been let go (by close() or the next open()).
    void Opened();
    void Closed();
    // Playback has started (or resumed); it has been paused; it has halted otherwise (stop(),
    // seek(), close(), open(), a play() that could not start).
    void Started();
    void Paused();
    void Stopped();

private:
    // The frame a millisecond position stands for: the nearest, and the end from Length() on.
    std::uint64_t frameAt(qint64 ms) const;
    Status start();              // plays from from_ or the position, to to_ or the end
    void halt();                 // stops playback, keeping the position heard
    void release();              // closes everything
    Q_INVOKABLE void checkEnd(); // queued when the stream has ended: raises Done at its end
    // Says how playing_ changed since it was `was`, and starts or stops the status timer.
    void tellPlaying(bool was);
    std::uint64_t currentFrame() const;

    std::shared_ptr<audio::AudioBackend> backend_;
    QString fileName_;
    std::optional<qint64> from_; // the points of a play that could not start yet
    std::optional<qint64> to_;
    int updateInterval_ = 1000;

    // The open file, from open() to close(); a running session's reader thread reads it.
    std::unique_ptr<SampleReader> reader_;
    WavLayout layout_; // the open file's, read on this thread only
    std::uint64_t totalFrames_ = 0;
    std::uint64_t positionFrame_ = 0; // position while not playing
    std::uint64_t endFrame_ = 0;      // where the current playback stops: to_, or the end
    bool playing_ = false;
    // Null while stopped, or playing at the end; held, not playing, while paused.
    std::unique_ptr<internal::PlaySession> session_;
    std::optional<Error> brokenOff_;

    QTimer statusTimer_;
};

} // namespace quaverly
