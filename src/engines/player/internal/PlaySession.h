#pragma once
// One run of WavPlayer::play(): the ring, the reader thread that fills it from the player's file,
// and the device stream that empties it.
//
// Threads: created, started and destroyed on the player's thread, which alone calls its public
// members. The sample reader belongs to the player; start() reads the first stretch with it on
// the player's thread, then only the reader thread uses it until the session is destroyed (the
// player leaves it alone meanwhile). pull() runs on the device thread and never blocks, allocates
// or reads the file: it only copies out of the ring and wakes the reader thread through a
// semaphore.

#include "engines/audio/AudioBackend.h"
#include "engines/util/Error.h"
#include "engines/util/SpscRing.h"
#include "engines/wav/SampleReader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

namespace quaverly::internal {

class PlaySession {
public:
    // Plays frames [startFrame, endFrame) of the plain PCM file `reader` reads.
    PlaySession(SampleReader& reader, std::uint64_t startFrame, std::uint64_t endFrame);
    ~PlaySession();
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    // Reads the first stretch, starts the reader and the device stream, which tells `ended` on
    // its device thread once it has finished. Fails with mcierr::kFileRead (the file named) when
    // the file cannot be read, mcierr::kHardware when no stream can be had; nothing keeps
    // running then.
    Status start(audio::AudioBackend& backend, const audio::PcmFormat& format, audio::EndFn ended);
    // Holds the device stream where it is heard; resume() goes on from there.
    void pause() { stream_->pause(); }
    void resume() { stream_->resume(); }

    // Frames of the file heard since the start (silence played for a starved reader excluded).
    std::uint64_t heardFrames() const;
    bool finished() const { return stream_->finished(); }
    bool readFailed() const { return failed_.load(std::memory_order_acquire); }
    // Why the device broke the playback off (the sound server went away, ...); success while it
    // plays and once it has played everything.
    Status deviceFailure() const { return stream_->failure(); }

private:
    std::size_t pull(void* dst, std::size_t bytes);
    Status fill(std::size_t limit);
    void readerLoop();
    void stopReader();

    SampleReader& reader_;
    SpscRing ring_;
    const std::uint32_t frameBytes_;
    const std::uint8_t silence_;
    const std::uint64_t startFrame_;
    std::uint64_t nextFrame_; // the reader's next frame
    const std::uint64_t endFrame_;
    std::vector<char> chunk_; // the reader's scratch block, whole frames

    std::atomic<bool> eof_{false};    // the reader has put the last byte in the ring
    std::atomic<bool> failed_{false}; // ... because the file could not be read further
    std::atomic<bool> stop_{false};
    std::atomic<bool> wakePending_{false};
    std::atomic<std::uint64_t> silenceFrames_{0};
    std::counting_semaphore<> wake_{0};
    std::thread readerThread_;
    std::unique_ptr<audio::PlaybackStream> stream_;
};

} // namespace quaverly::internal
