#pragma once
// A virtual sound device for fast, exact tests (QUAVERLY_AUDIO=virtual).
//
// Its clock runs in periods of 20 ms of sound (kPeriodsPerSecond), `speed` times faster than real
// time: QUAVERLY_VIRTUAL_SPEED sets the factor (default 10, accepted 0.01 to 1000), so one second
// of sound takes 0.1 s. In each period, on the device thread:
//   - every playing stream is asked for the period's frames (framesInPeriod()); what it gives is
//     heard at once and exactly: framesPlayed() counts it, playedBytes() keeps its bytes;
//   - every capture stream gets one block of the period's frames, so all blocks of a format have
//     the same size (rate / 50 frames when the rate is a multiple of 50).
// The device only ticks while some stream plays or records.
//
// Inputs (sources()):
//   0 kMicrophone "virtual.microphone": a 1 kHz sine, peak kMicAmplitude, microphoneSample();
//   1 kLineIn     "virtual.line-in": a staircase, lineInSample();
//   2 kMonitor    "virtual.monitor": what the virtual output plays in the same period (loopback):
//     every playing stream mixed, converted to the capture's format (nearest frame, channels
//     copied or averaged). With one stream of the capture's format it is exactly the bytes
//     played; with nothing playing, silence.
// All channels of the microphone and line-in carry the same sample; a capture's signal starts at
// frame 0 when it opens. An input's level scales its samples by percent / 100 (truncated towards
// zero; 100 leaves them exact). The default input is the microphone.
//
// Threads: public functions may be called from any control thread (they take the device's
// lock), never from a PullFn or PushFn. Those run on the device thread with the lock held, so
// after pause(), stop() or a stream's destructor returns no callback of that stream follows.

#include "engines/audio/AudioBackend.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quaverly::audio {

class VirtualDevice;

class VirtualBackend final : public AudioBackend {
public:
    static constexpr int kMicrophone = 0;
    static constexpr int kLineIn = 1;
    static constexpr int kMonitor = 2;

    static constexpr std::uint32_t kPeriodsPerSecond = 50;
    static constexpr double kDefaultSpeed = 10.0;
    static constexpr double kMicFrequency = 1000.0;
    static constexpr int kMicAmplitude = 8192;        // -12 dB of full scale
    static constexpr std::uint32_t kStairFrames = 64; // frames per step of the line-in staircase
    static constexpr int kStairSteps = 32;            // steps before it starts again
    static constexpr int kStairHeight = 1024;         // from -16384 up to 15360
    // playedBytes() keeps at most this much; playedByteCount() goes on counting.
    static constexpr std::size_t kPlayedLogLimit = 64u << 20;

    // QUAVERLY_VIRTUAL_SPEED, or kDefaultSpeed when unset or not a number in 0.01 to 1000.
    static double speedFromEnvironment();
    explicit VirtualBackend(double speed = speedFromEnvironment());
    ~VirtualBackend() override;
    VirtualBackend(const VirtualBackend&) = delete;
    VirtualBackend& operator=(const VirtualBackend&) = delete;

    QString name() const override;
    Status available() override;
    Result<std::unique_ptr<PlaybackStream>> openPlayback(const PcmFormat& format, PullFn pull,
                                                         EndFn ended = {}) override;
    Result<std::unique_ptr<CaptureStream>> openCapture(int sourceIndex, const PcmFormat& format,
                                                       PushFn push) override;
    Result<std::vector<SourceInfo>> sources() override;
    Result<int> defaultSource() override;
    Status setSourceVolume(int sourceIndex, int percent) override;

    // The signals, at level 100, as 16-bit samples; 8-bit captures get (sample >> 8) + 128.
    static std::int16_t microphoneSample(std::uint64_t frame, std::uint32_t sampleRate);
    static std::int16_t lineInSample(std::uint64_t frame);
    // Frames a stream of `sampleRate` plays or records in device period `period`.
    static std::uint32_t framesInPeriod(std::uint64_t period, std::uint32_t sampleRate);

    double speed() const;
    // Every byte played so far by all playback streams, in the order played, each in its stream's
    // own format (up to kPlayedLogLimit bytes).
    std::vector<std::uint8_t> playedBytes() const;
    std::uint64_t playedByteCount() const;
    void clearPlayed();
    // Device periods elapsed since the backend was made.
    std::uint64_t periods() const;
    // Streams open now (playback and capture); for tests that check that streams are released.
    int openStreams() const;
    void setDefaultSource(int sourceIndex);
    // Simulates a device that cannot be had: with a non-empty reason available() fails with it
    // as the cause, nothing opens, and open streams fail (playback finishes, capture stops
    // delivering, both give the reason in failure()). An empty reason makes the device work
    // again.
    void setFailure(const QString& reason);

private:
    // Whether a stream can be opened: `fed` says the caller gave its callback (else the stream
    // fails with `unfed`), then the format and the device.
    Status readyToOpen(const PcmFormat& format, bool fed, const QString& unfed);

    std::shared_ptr<VirtualDevice> device_;
};

} // namespace quaverly::audio
