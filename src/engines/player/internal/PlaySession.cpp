#include "engines/player/internal/PlaySession.h"

#include "engines/player/MciErrors.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quaverly::internal {
namespace {

constexpr std::size_t kRingBytes = 1 << 20;    // about 6 s of CD sound read ahead
constexpr std::size_t kPrefillBytes = 1 << 18; // read before the device starts pulling
constexpr std::size_t kReadChunk = 1 << 16;    // one read of the reader thread
constexpr auto kReaderNap = std::chrono::milliseconds(10);

} // namespace

PlaySession::PlaySession(SampleReader& reader, std::uint64_t startFrame, std::uint64_t endFrame)
    : reader_(reader), ring_(kRingBytes), frameBytes_(reader.layout().blockAlign),
      silence_(reader.layout().bitsPerSample == 8 ? 0x80 : 0x00), startFrame_(startFrame),
      nextFrame_(startFrame), endFrame_(endFrame),
      chunk_(std::max<std::size_t>(frameBytes_, kReadChunk - kReadChunk % frameBytes_)) {}

PlaySession::~PlaySession() {
    // The stream goes first: once it is destroyed the device thread never calls pull() again, so
    // the ring and the reader can go safely after it.
    stream_.reset();
    stopReader();
}

Status PlaySession::start(audio::AudioBackend& backend, const audio::PcmFormat& format,
                          audio::EndFn ended) {
    Status read = reader_.seek(std::int64_t(startFrame_));
    if (read)
        read = fill(kPrefillBytes);
    if (!read)
        return Error(read.error().file(), read.error().cause(), mcierr::kFileRead);
    readerThread_ = std::thread([this] { readerLoop(); });
    auto opened = backend.openPlayback(
        format, [this](void* dst, std::size_t bytes) { return pull(dst, bytes); },
        std::move(ended));
    if (!opened) {
        stopReader();
        return Error({}, opened.error().cause(), mcierr::kHardware);
    }
    stream_ = std::move(*opened);
    return {};
}

std::uint64_t PlaySession::heardFrames() const {
    const std::uint64_t played = stream_->framesPlayed();
    const std::uint64_t gaps = silenceFrames_.load(std::memory_order_relaxed);
    return played > gaps ? played - gaps : 0;
}

// Device thread: copies ready sound out of the ring. Never blocks, never allocates.
std::size_t PlaySession::pull(void* dst, std::size_t bytes) {
    auto* out = static_cast<std::uint8_t*>(dst);
    bytes -= bytes % frameBytes_;
    std::size_t n = ring_.read(out, bytes);
    if (n < bytes) {
        if (eof_.load(std::memory_order_acquire)) {
            n += ring_.read(out + n, bytes - n); // whatever the reader added last
        } else {
            std::memset(out + n, silence_, bytes - n);
            silenceFrames_.fetch_add((bytes - n) / frameBytes_, std::memory_order_relaxed);
            n = bytes;
        }
    }
    if (!wakePending_.exchange(true, std::memory_order_acq_rel))
        wake_.release();
    return n;
}

// Reader thread (and start(), before the reader thread exists): moves up to `limit` bytes of the
// file into the ring, in whole frames. A read that fails ends the sound there: what the ring
// holds is still played, then the session finishes with readFailed().
Status PlaySession::fill(std::size_t limit) {
    while (nextFrame_ < endFrame_ && !stop_.load(std::memory_order_relaxed)) {
        const std::size_t room = std::min({ring_.freeSpace(), chunk_.size(), limit}) / frameBytes_;
        const auto frames = std::size_t(std::min<std::uint64_t>(room, endFrame_ - nextFrame_));
        if (frames == 0)
            return {}; // the ring is full, or the limit is reached
        // Exactly `frames` frames or a failure: the end frame is within the sound.
        const Result<std::size_t> got = reader_.readRaw(chunk_.data(), frames);
        if (!got) {
            failed_.store(true, std::memory_order_release);
            eof_.store(true, std::memory_order_release);
            return got.error();
        }
        const std::size_t bytes = *got * frameBytes_;
        ring_.write(chunk_.data(), bytes);
        nextFrame_ += *got;
        limit -= bytes;
    }
    if (nextFrame_ >= endFrame_)
        eof_.store(true, std::memory_order_release);
    return {};
}

void PlaySession::readerLoop() {
    while (!stop_.load(std::memory_order_acquire) && !eof_.load(std::memory_order_acquire)) {
        while (wake_.try_acquire()) {
        }
        wakePending_.store(false, std::memory_order_release);
        if (!fill(SIZE_MAX))
            break;
        if (eof_.load(std::memory_order_acquire))
            break;
        (void)wake_.try_acquire_for(kReaderNap);
    }
}

void PlaySession::stopReader() {
    if (!readerThread_.joinable())
        return;
    stop_.store(true, std::memory_order_release);
    wake_.release();
    readerThread_.join();
}

} // namespace quaverly::internal
