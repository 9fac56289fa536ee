#pragma once
// Plays a WAV image in the caller's memory (the recorder's take) on the sound device.
//
// The image is read where it lies, never copied and never past its length: the caller keeps it
// valid and unchanged while the player lives. Playing hands the device thread plain copies out of
// the image (no allocation, no lock).
//
// Should the device fail while the take plays (the sound server went away), the play ends and
// consumeFailure() says why, once; the next play() opens a new device stream, connecting to the
// server again once it is back, and goes on from the position heard.
//
// Threads: one control thread at a time; only the device's pull runs on the device thread. The
// fields it uses (next_) are set before a device stream opens and read by the control thread
// only after that stream is gone, so they need no lock.

#include "engines/audio/AudioBackend.h"
#include "engines/audio/WavImage.h"
#include "engines/util/Error.h"

#include <cstdint>
#include <memory>

namespace quaverly::audio {

class TakePlayer {
public:
    // Fails as parseWavImage does when the image is refused. Nothing is opened on the device
    // until play().
    static Result<std::unique_ptr<TakePlayer>> open(const void* image, std::uint64_t length,
                                                    std::shared_ptr<AudioBackend> device);
    // Stops: the image is not read once this returns.
    ~TakePlayer();
    TakePlayer(const TakePlayer&) = delete;
    TakePlayer& operator=(const TakePlayer&) = delete;

    // Plays from the position heard, or from the start when `restart` is true or the take has
    // been heard to its end; a play in progress goes on unchanged unless `restart` is true.
    // sound::kStart, with the device's reason, when it cannot play.
    Status play(bool restart = false);
    // Halts at once, keeping the position heard.
    void stop();
    // True from play() until the last byte has been heard, stop(), or a failure of the device.
    bool playing() const;
    // Bytes of the PCM heard so far; length(): all of them.
    std::uint64_t position() const;
    std::uint64_t length() const { return image_.bytes; }
    // The failure of the device that broke the last play off (sound::kDriver), given once: after
    // it has been given, and after play(), success until another play fails.
    Status consumeFailure();

private:
    TakePlayer(const WavImage& image, std::shared_ptr<AudioBackend> device);
    Status startAt(std::uint64_t byte);
    std::size_t pull(void* dst, std::size_t bytes); // device thread

    const WavImage image_;
    const std::uint32_t frameBytes_;
    std::shared_ptr<AudioBackend> device_;
    std::unique_ptr<PlaybackStream> playback_;
    std::uint64_t start_ = 0; // where the running playback started
    std::uint64_t heard_ = 0; // the position while there is no playback
    std::uint64_t next_ = 0;  // device thread while playing: next byte to hand out
    bool failureGiven_ = false;
};

} // namespace quaverly::audio
