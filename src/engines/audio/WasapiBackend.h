#pragma once
// The Windows back end: playback to the system's default output and capture from any input,
// through WASAPI in shared mode. Windows only.
//
// Inputs (sources()) are every active capture endpoint, then a loopback input of each active
// render endpoint ("what is playing" on it, the counterpart of a sound server's monitor) where
// the system can record one (wine's WASAPI cannot: it lists the sound server's monitors as
// capture endpoints instead). An
// input's stable name is its endpoint id ("loopback:" and the id for a loopback input), its
// description the endpoint's friendly name, its kind from the endpoint's form factor. A capture
// endpoint's level is its own volume (IAudioEndpointVolume, 0-100; louder ones read 100); a
// loopback input's level is ours, applied to the samples it delivers, so that setting it never
// changes what the user hears; so is a capture endpoint's where the system cannot set its volume
// (wine's WASAPI). Choosing an input changes nothing on the system.
//
// Formats the device does not take natively (another rate, channel count or sample size) are
// converted by WASAPI (AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM). A device that goes away while a
// stream runs (unplugged, disabled, the audio service stopped) fails that stream with the cause
// in words; the next stream opens on whatever device is there then.
//
// Threads: every public function may be called from any control thread (calls are serialised;
// COM is initialised for the call where the thread has none), never from a PullFn or PushFn.
// Each stream runs on a device thread of its own (internal/WasapiStream.h).

#include "engines/audio/AudioBackend.h"

#include <atomic>

struct IMMDeviceEnumerator;
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace quaverly::audio {

namespace wasapi {
struct Input;
}

class WasapiBackend final : public AudioBackend {
public:
    WasapiBackend();
    ~WasapiBackend() override;
    WasapiBackend(const WasapiBackend&) = delete;
    WasapiBackend& operator=(const WasapiBackend&) = delete;

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
    // The level applied to the samples of input `name`, shared with its running captures (100
    // until it is ours and set).
    std::shared_ptr<std::atomic<int>> gainOf(const QString& name);
    // The inputs as sources() gives them, with their endpoints.
    Result<std::vector<wasapi::Input>> listed(IMMDeviceEnumerator& devices);
    // Whether the system can record what an output plays: asked once.
    bool loopbackWorks(IMMDeviceEnumerator& devices);
    // The level of an input whose level is ours, none for the others.
    std::optional<int> ourLevel(const QString& name) const;

    std::mutex mutex_; // serialises the calls; guards the two below
    std::map<QString, std::shared_ptr<std::atomic<int>>> gains_;
    // The inputs whose level we apply ourselves: loopbacks, and capture endpoints whose volume
    // the system cannot set.
    std::set<QString> ownLevels_;
    std::optional<bool> loopbackWorks_;
};

} // namespace quaverly::audio
