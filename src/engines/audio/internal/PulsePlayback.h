#pragma once
// Inside of the sound server back end (included only by engines/audio): a playback stream to the
// server's default output, fed by a PullFn from the stream's write callback.

#include "engines/audio/AudioBackend.h"
#include "engines/audio/internal/PulseStream.h"

namespace quaverly::audio::pulse {

class PulsePlayback final : public PlaybackStream, private PulseStream {
public:
    PulsePlayback(std::shared_ptr<PulseConnection> conn, const pa_sample_spec& spec, PullFn pull,
                  EndFn ended)
        : PulseStream(std::move(conn)), spec_(spec), frameBytes_(pa_frame_size(&spec)),
          pull_(std::move(pull)), tellEnd_(std::move(ended)) {}
    ~PulsePlayback() override;

    Status start();
    void pause() override { cork(true); }
    void resume() override { cork(false); }
    std::uint64_t framesPlayed() const override;
    bool finished() const override { return (drained_ && ended_) || failed_; }
    Status failure() const override { return failureWhile(QStringLiteral("playback")); }

private:
    // Event-loop thread.
    void onWrite(std::size_t bytes);
    void onFailed() override { tellEnd_(); }
    // Event-loop thread, or the loop locked: framesHeard_ moves on to the server's clock.
    void noteHeard() const;
    // Control thread.
    void cork(bool on);

    const pa_sample_spec spec_;
    const std::size_t frameBytes_;
    PullFn pull_;
    EndNotice tellEnd_;
    OperationPtr drain_;
    std::atomic<std::uint64_t> bytesWritten_{0};
    mutable std::atomic<std::uint64_t> framesHeard_{0}; // never goes back
    std::atomic<bool> ended_{false};                    // the PullFn has ended the data
    std::atomic<bool> drained_{false};                  // and the server has played all of it
};

} // namespace quaverly::audio::pulse
