#pragma once
// The sound server back end: playback to the default output and capture from any source of a
// PulseAudio server (or PipeWire's pulse server), over libpulse's threaded event loop.
//
// The connection is made lazily, by the first call that needs it, and made again after the
// server went away. With no server, every call fails at once (connecting is bounded to a few
// seconds and never spawns a server) with a readable reason. Choosing a source only decides what
// we record from: nothing else on the user's system is changed.
//
// Threads: every public function may be called from any control thread (calls are serialised),
// never from inside a PullFn or PushFn. Those run on libpulse's event-loop thread with the loop
// locked: they are called from the stream's write and read callbacks with the server's own buffer
// (no copy and no allocation of ours per block).

#include "engines/audio/AudioBackend.h"

#include <memory>
#include <mutex>

namespace quaverly::audio {

namespace pulse {
class PulseConnection;
}

class PulseBackend final : public AudioBackend {
public:
    // server: where to connect, as in PULSE_SERVER ("unix:/path/to/socket", "tcp:host"); empty
    // lets libpulse choose (PULSE_SERVER, then the user's own server).
    explicit PulseBackend(QString server = {});
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    QString name() const override;
    Status available() override;
    Result<std::unique_ptr<PlaybackStream>> openPlayback(const PcmFormat& format, PullFn pull,
                                                         EndFn ended = {}) override;
    Result<std::unique_ptr<CaptureStream>> openCapture(int sourceIndex, const PcmFormat& format,
                                                       PushFn push) override;
    Result<std::vector<SourceInfo>> sources() override;
    Result<int> defaultSource() override;
    Status setSourceVolume(int sourceIndex, int percent) override;

private:
    // The live connection, made (again) when there is none or the last one has failed.
    Result<std::shared_ptr<pulse::PulseConnection>> connection();
    // What opening a stream needs first: `fed` says the caller gave its callback (else the
    // stream fails with `unfed`), then the format as the server spells it and the connection.
    struct StreamStart;
    Result<StreamStart> startStream(const PcmFormat& format, bool fed, const QString& unfed);

    const QString server_;
    std::mutex mutex_; // guards conn_
    std::shared_ptr<pulse::PulseConnection> conn_;
};

} // namespace quaverly::audio
