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

PlaySession::PlaySession(QFile& file, const WavLayout& layout, std::uint64_t startFrame,
                         std::uint64_t endFrame)
    : file_(file), ring_(kRingBytes), frameBytes_(layout.blockAlign),
      silence_(layout.bitsPerSample == 8 ? 0x80 : 0x00),
      nextByte_(layout.dataOffset + startFrame * layout.blockAlign),
      endByte_(layout.dataOffset + endFrame * layout.blockAlign),
      chunk_(std::max<std::size_t>(frameBytes_, kReadChunk - kReadChunk % frameBytes_)) {}

PlaySession::~PlaySession() {
    // The stream goes first: once it is destroyed the device thread never calls pull() again, so
    // the ring and the reader can go safely after it.
    stream_.reset();
    stopReader();
}

Status PlaySession::start(audio::AudioBackend& backend, const audio::PcmFormat& format) {
    if (!file_.seek(static_cast<qint64>(nextByte_)) || !fill(kPrefillBytes))
        return Error(file_.fileName(), file_.errorString(), mcierr::kFileRead);
    reader_ = std::thread([this] { readerLoop(); });
    auto opened = backend.openPlayback(
        format, [this](void* dst, std::size_t bytes) { return pull(dst, bytes); });
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

// Reader thread (and start(), before the reader exists): moves up to `limit` bytes from the file
// into the ring, in whole frames. False on a read error.
bool PlaySession::fill(std::size_t limit) {
    while (limit > 0 && nextByte_ < endByte_ && !stop_.load(std::memory_order_relaxed)) {
        std::size_t want = std::min({ring_.freeSpace(), chunk_.size(), limit,
                                     static_cast<std::size_t>(endByte_ - nextByte_)});
        want -= want % frameBytes_;
        if (want == 0)
            return true; // ring full
        const auto got = file_.read(chunk_.data(), static_cast<qint64>(want));
        if (got != static_cast<qint64>(want)) {
            failed_.store(true, std::memory_order_release);
            eof_.store(true, std::memory_order_release);
            return false;
        }
        ring_.write(chunk_.data(), want);
        nextByte_ += want;
        limit -= want;
    }
    if (nextByte_ >= endByte_)
        eof_.store(true, std::memory_order_release);
    return true;
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
    if (!reader_.joinable())
        return;
    stop_.store(true, std::memory_order_release);
    wake_.release();
    reader_.join();
}

} // namespace quaverly::internal
