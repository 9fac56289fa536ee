#pragma once
// Sound devices behind one interface: the sound server (libpulse) for the program, and a
// virtual device for fast, exact tests (QUAVERLY_AUDIO=virtual).
//
// Threads: a backend object and its streams are created, controlled and destroyed from a control
// thread (the UI thread, or a test's main thread); both back ends serialise their calls, so more
// than one control thread may use them. The PullFn and PushFn callbacks run on the backend's own
// device thread: they must not block, allocate in steady state, touch widgets or call back into
// the backend or its streams (that would deadlock). After a stream's stop() or destructor
// returns, its callback is never called again.
//
// Failures come as Status or Result: an Error that names no file and carries no code, only the
// cause in words (the sound server's own where it gives some). The callers give it the code
// their users see (the recorder's sound codes, the player's media-control codes).

#include "engines/util/Error.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace quaverly::audio {

struct PcmFormat {
    std::uint32_t sampleRate = 44100;
    std::uint16_t channels = 2;
    std::uint16_t bitsPerSample = 16; // 16: signed little-endian; 8: unsigned
    std::uint32_t bytesPerFrame() const { return channels * (bitsPerSample / 8u); }
};

// What kind of input a capture source is, as far as the server knows it.
enum class SourceKind { Unknown, Microphone, LineIn, Monitor, Digital, Analog, Aux };

struct SourceInfo {
    QString name;        // the server's name for the source, stable across calls
    QString description; // what a user reads
    SourceKind kind = SourceKind::Unknown;
    int volumePercent = 100; // 100 = normal level
};

// Whether the back ends can play or record `format`: 8- or 16-bit PCM, 1 to 8 channels, 1000 to
// 384000 Hz; otherwise the Error says which of them is not.
Status checkFormat(const PcmFormat& format);

// The highest input level setSourceVolume() accepts, in percent of the normal level.
constexpr int kMaxVolumePercent = 150;

// Fills dst with up to `bytes` bytes of PCM (whole frames) and returns how many it wrote;
// returning fewer than asked means the data has ended: the stream plays out what it has and then
// reports finished().
using PullFn = std::function<std::size_t(void* dst, std::size_t bytes)>;
// Receives each captured block; return false to stop delivering.
using PushFn = std::function<bool(const void* data, std::size_t bytes)>;
// Called once, on the device thread, when a playback stream has finished (finished() has turned
// true: all the data heard, or the stream failed), so that its owner need not watch for it. Like
// the PullFn it must not block; posting a message to another thread is what it is for.
using EndFn = std::function<void()>;

// A stream's EndFn, called at most once whichever of its ends comes first. Any thread.
class EndNotice {
public:
    explicit EndNotice(EndFn ended) : ended_(std::move(ended)) {}
    void operator()() {
        if (ended_ && !told_.exchange(true))
            ended_();
    }

private:
    const EndFn ended_;
    std::atomic<bool> told_{false};
};

class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Holds the sound where it is heard, keeping the position and the data not yet played;
    // resume() goes on from there.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Frames that have left the speaker so far (latency accounted for), not frames written.
    virtual std::uint64_t framesPlayed() const = 0;
    // True once the PullFn ended the data and everything written has been heard, or once the
    // stream has failed (then failure() says why).
    virtual bool finished() const = 0;
    // Why the stream stopped early (the sound server went away, ...), a failure seen on the
    // device thread; success while it works and once it has played everything.
    virtual Status failure() const = 0;
};

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    virtual void stop() = 0; // no PushFn call after it returns
    // Why the capture stopped delivering on its own (the source or the server went away, ...), a
    // failure seen on the device thread; success while it works.
    virtual Status failure() const = 0;
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual QString name() const = 0;
    // Connects when needed; fails when no device can be had.
    virtual Status available() = 0;

    // Starts playing at once (the PullFn may be called before this returns); `ended`, when
    // given, is told when the stream has finished.
    virtual Result<std::unique_ptr<PlaybackStream>> openPlayback(const PcmFormat& format,
                                                                 PullFn pull, EndFn ended = {}) = 0;
    // Records from sources()[sourceIndex] at once (the PushFn may be called before this
    // returns). Nothing else on the system changes.
    virtual Result<std::unique_ptr<CaptureStream>>
    openCapture(int sourceIndex, const PcmFormat& format, PushFn push) = 0;

    virtual Result<std::vector<SourceInfo>> sources() = 0;
    // Index into sources() of the server's default source, -1 when there is none.
    virtual Result<int> defaultSource() = 0;
    // 0 to kMaxVolumePercent.
    virtual Status setSourceVolume(int sourceIndex, int percent) = 0;
};

// The backend chosen by QUAVERLY_AUDIO ("virtual" or, by default, the sound server). Shared by
// every user in the process; created on first use on the control thread.
std::shared_ptr<AudioBackend> defaultBackend();

} // namespace quaverly::audio
