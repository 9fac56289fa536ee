#pragma once
// Inside of the sound server back end (included only by engines/audio): a recording stream from
// one source of the server, handed block by block to a PushFn from the stream's read callback.

#include "engines/audio/AudioBackend.h"
#include "engines/audio/internal/PulseStream.h"

#include <vector>

namespace quaverly::audio::pulse {

class PulseCapture final : public CaptureStream, private PulseStream {
public:
    PulseCapture(std::shared_ptr<PulseConnection> conn, const pa_sample_spec& spec, PushFn push)
        : PulseStream(std::move(conn)), spec_(spec), push_(std::move(push)) {}
    ~PulseCapture() override { stop(); }

    Status start(const QString& sourceName);
    void stop() override;
    Status failure() const override { return failureWhile(QStringLiteral("recording")); }

private:
    // Event-loop thread.
    void onRead();
    void deliver(const void* data, std::size_t bytes);

    const pa_sample_spec spec_;
    PushFn push_;
    std::vector<std::uint8_t> silence_; // stands in for sound the server lost (a hole)
    bool delivering_ = true;            // event-loop thread only
};

} // namespace quaverly::audio::pulse
