#include "engines/audio/TakePlayer.h"

#include <algorithm>
#include <cstring>

namespace quaverly::audio {

Result<std::unique_ptr<TakePlayer>> TakePlayer::open(const void* image, std::uint64_t length,
                                                     std::shared_ptr<AudioBackend> device) {
    const Result<WavImage> parsed = parseWavImage(image, length);
    if (!parsed)
        return parsed.error();
    return std::unique_ptr<TakePlayer>(new TakePlayer(*parsed, std::move(device)));
}

TakePlayer::TakePlayer(const WavImage& image, std::shared_ptr<AudioBackend> device)
    : image_(image), frameBytes_(image.format.bytesPerFrame()), device_(std::move(device)) {}

TakePlayer::~TakePlayer() {
    // The device stream goes first: after that no pull() reads the image.
    playback_.reset();
}

bool TakePlayer::playing() const {
    return playback_ && !playback_->finished();
}

std::uint64_t TakePlayer::position() const {
    if (!playback_)
        return heard_;
    return std::min(start_ + playback_->framesPlayed() * frameBytes_, image_.bytes);
}

Status TakePlayer::play(bool restart) {
    if (playing() && !restart)
        return {};
    std::uint64_t from = restart ? 0 : position();
    if (from >= image_.bytes)
        from = 0; // heard to the end: play it again
    return startAt(from);
}

Status TakePlayer::startAt(std::uint64_t byte) {
    // The old stream goes first, so that only one pull() ever reads next_.
    playback_.reset();
    failureGiven_ = false;
    heard_ = byte;
    start_ = byte;
    next_ = byte;
    auto opened = device_->openPlayback(
        image_.format, [this](void* dst, std::size_t bytes) { return pull(dst, bytes); });
    if (!opened)
        return Error(QString(), QStringLiteral("cannot play the take: ") + opened.error().cause(),
                     sound::kStart);
    playback_ = std::move(*opened);
    return {};
}

void TakePlayer::stop() {
    if (!playback_)
        return;
    heard_ = position();
    playback_.reset();
}

Status TakePlayer::consumeFailure() {
    if (!playback_ || failureGiven_)
        return {};
    const Status failed = playback_->failure();
    if (failed)
        return {};
    failureGiven_ = true;
    return Error(QString(), failed.error().cause(), sound::kDriver);
}

std::size_t TakePlayer::pull(void* dst, std::size_t bytes) {
    const std::uint64_t left = image_.bytes - std::min(next_, image_.bytes);
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, left));
    n -= n % frameBytes_;
    std::memcpy(dst, image_.pcm + next_, n);
    next_ += n;
    return n;
}

} // namespace quaverly::audio
