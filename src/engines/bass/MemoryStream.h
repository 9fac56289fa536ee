#pragma once
// A stream over a WAV image in the caller's memory (the recorder's take), played on the sound
// device of BASS_Init(-1).
//
// The image is read where it lies, never copied and never past its length: the caller keeps it
// valid and unchanged until the stream is freed. Playing hands the device thread a plain copy out
// of the image (no allocation, no lock); position() counts what has been heard.

#include "engines/audio/AudioBackend.h"
#include "engines/bass/BassInternal.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace quaverly::bass::detail {

// The samples of a WAV image: 8-bit (unsigned) or 16-bit PCM, mono or stereo.
struct WavImage {
    const std::uint8_t* pcm = nullptr;
    QWORD bytes = 0; // whole frames, within the image
    audio::PcmFormat format;
};

// Walks the image's chunks as probeWav walks a file: the header's sizes are believed only as far
// as the image goes. Null with the error set (BASS_ERROR_FILEFORM: not a WAV image, no format or
// data chunk; BASS_ERROR_FORMAT: not 8/16-bit PCM, more than two channels, a rate the device
// cannot play; BASS_ERROR_ILLPARAM: larger than this machine can address).
std::optional<WavImage> parseWavImage(const void* image, QWORD length);

// Threads: the Channel overrides run on the calling thread with mutex() held; only pull() runs on
// the device thread. The fields pull() uses (next_) are set before the playback stream opens and
// read by the control thread only after it is destroyed, so they need no lock.
class MemoryStream final : public Channel {
public:
    // Null with the error set when the image is refused.
    static std::unique_ptr<MemoryStream> open(const void* image, QWORD length,
                                              std::shared_ptr<audio::AudioBackend> device);
    MemoryStream(const WavImage& image, std::shared_ptr<audio::AudioBackend> device);
    ~MemoryStream() override;

    BASS_CHANNELINFO info() const override;
    // BASS_ACTIVE_PLAYING from play() until the last byte has been heard or stop();
    // BASS_ACTIVE_STOPPED otherwise. Stopped because the device failed: also the error
    // BASS_ERROR_DRIVER with the device's reason.
    DWORD isActive() const override;
    // Bytes of PCM heard so far.
    QWORD position() const override;
    QWORD length() const override { return image_.bytes; }
    // Any byte position up to length(), rounded down to a whole frame; a playing stream goes on
    // playing from there.
    bool setPosition(QWORD position) override;
    // Plays from the position heard (from the start when restart is true, or when the stream has
    // been heard to its end). Playing already and not restarting: goes on unchanged.
    bool play(bool restart) override;
    // Halts at once, keeping the position heard.
    bool stop() override;
    void release() override;

private:
    bool startAt(QWORD byte);
    bool ended() const; // a playback stream exists and has played everything it will
    std::size_t pull(void* dst, std::size_t bytes); // device thread

    const WavImage image_;
    const DWORD frameBytes_;
    std::shared_ptr<audio::AudioBackend> device_;
    std::unique_ptr<audio::PlaybackStream> playback_;
    QWORD start_ = 0; // where the running playback started
    QWORD heard_ = 0; // the position while there is no playback
    QWORD next_ = 0;  // device thread while playing: next byte to hand out
    bool released_ = false;
};

} // namespace quaverly::bass::detail
