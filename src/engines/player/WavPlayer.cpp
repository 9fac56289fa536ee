#include "engines/player/WavPlayer.h"

#include "engines/player/MciErrors.h"
#include "engines/player/internal/OpenWav.h"
#include "engines/player/internal/PlaySession.h"
#include "engines/util/FrameTime.h"
#include "engines/util/QueuedCall.h"

#include <algorithm>

namespace quaverly {
namespace {

Error outOfRange(const char* point, qint64 ms) {
    return Error({}, QStringLiteral("%1 %2 ms").arg(QLatin1String(point)).arg(ms),
                 mcierr::kOutOfRange);
}

Error notOpen() {
    return Error({}, {}, mcierr::kInvalidDeviceId);
}

} // namespace

WavPlayer::WavPlayer(std::shared_ptr<audio::AudioBackend> backend, QObject* parent)
    : QObject(parent), backend_(std::move(backend)) {
    statusTimer_.setInterval(updateInterval_);
    connect(&statusTimer_, &QTimer::timeout, this, &WavPlayer::StatusUpdate);
}

WavPlayer::~WavPlayer() {
    // Whoever listens may be going too: the player goes without a word.
    blockSignals(true);
    release();
}

Status WavPlayer::open(const QString& path) {
    release();
    fileName_ = path;
    auto reader = internal::openPlainWav(path);
    if (!reader)
        return reader.error();
    layout_ = reader->layout();
    totalFrames_ = std::uint64_t(reader->frames());
    reader_ = std::make_unique<SampleReader>(std::move(*reader));
    endFrame_ = totalFrames_;
    emit Opened();
    return {};
}

std::uint64_t WavPlayer::frameAt(qint64 ms) const {
    if (ms >= Length())
        return totalFrames_;
    return std::min(
        frametime::msToFrames(std::uint64_t(ms), layout_.sampleRate).value_or(totalFrames_),
        totalFrames_);
}

Status WavPlayer::play(std::optional<qint64> fromMs, std::optional<qint64> toMs) {
    if (!isOpen())
        return notOpen();
    if (fromMs && *fromMs < 0)
        return outOfRange("from", *fromMs);
    if (toMs && *toMs < 0)
        return outOfRange("to", *toMs);
    brokenOff_.reset();
    if (fromMs)
        from_ = fromMs;
    if (toMs)
        to_ = toMs;
    if (playing_ && !from_ && !to_)
        return {}; // already playing from where it is
    if (session_ && !playing_ && !from_ && !to_ && !session_->finished()) {
        session_->resume(); // paused: on from the same sample
        playing_ = true;
        tellPlaying(false);
        return {};
    }
    const bool was = playing_;
    Status started = start();
    tellPlaying(was);
    return started;
}

Status WavPlayer::start() {
    // The running session goes first: the new one reads the same file. If the new one cannot
    // start, the player is left stopped where it was heard, with its points still pending.
    halt();
    const std::uint64_t first = from_ ? frameAt(*from_) : positionFrame_;
    const std::uint64_t end = std::max(first, to_ ? frameAt(*to_) : totalFrames_);
    if (first < end) {
        if (!backend_)
            return Error({}, QStringLiteral("no sound device"), mcierr::kHardware);
        auto session = std::make_unique<internal::PlaySession>(*reader_, first, end);
        const audio::PcmFormat format{layout_.sampleRate, layout_.channels, layout_.bitsPerSample};
        // The device thread only queues the call; the end is looked at here.
        const auto ended = [this] { queueCall(this, "checkEnd"); };
        if (Status started = session->start(*backend_, format, ended); !started)
            return started;
        session_ = std::move(session);
    }
    from_.reset();
    to_.reset();
    positionFrame_ = first;
    endFrame_ = end;
    playing_ = true;
    // With nothing left to play, the end is there at once: Done follows from the event loop.
    if (!session_)
        queueCall(this, "checkEnd");
    return {};
}

Status WavPlayer::seek(qint64 ms) {
    if (!isOpen())
        return notOpen();
    if (ms < 0)
        return outOfRange("from", ms);
    const bool was = playing_ || session_; // playing, or paused
    halt();
    positionFrame_ = frameAt(ms);
    from_.reset();
    tellPlaying(was);
    return {};
}

void WavPlayer::stop() {
    const bool was = playing_ || session_; // playing, or paused
    halt();
    tellPlaying(was);
}

void WavPlayer::pause() {
    if (!playing_)
        return;
    playing_ = false;
    if (session_)
        session_->pause();
    statusTimer_.stop();
    emit Paused();
}

void WavPlayer::close() {
    release();
}

std::uint64_t WavPlayer::currentFrame() const {
    if (!session_)
        return positionFrame_;
    return std::min(endFrame_, positionFrame_ + session_->heardFrames());
}

void WavPlayer::halt() {
    if (!playing_ && !session_)
        return;
    positionFrame_ = currentFrame();
    session_.reset();
    playing_ = false;
}

void WavPlayer::tellPlaying(bool was) {
    if (playing_ == was)
        return;
    if (playing_ && updateInterval_ > 0)
        statusTimer_.start();
    else if (!playing_)
        statusTimer_.stop();
    if (playing_)
        emit Started();
    else
        emit Stopped();
}

void WavPlayer::release() {
    const bool was = playing_ || session_;
    const bool wasOpen = isOpen();
    halt();
    reader_.reset();
    layout_ = {};
    totalFrames_ = 0;
    positionFrame_ = 0;
    endFrame_ = 0;
    from_.reset();
    to_.reset();
    brokenOff_.reset();
    tellPlaying(was);
    if (wasOpen)
        emit Closed();
}

void WavPlayer::checkEnd() {
    // A stream of an earlier play, or one paused meanwhile: its end is not this play's.
    if (!playing_)
        return;
    if (session_) {
        if (!session_->finished())
            return;
        // A device that failed has finished too, but not at the end: the position stays where
        // the listener heard it stop, so that play() goes on from there.
        if (const Status device = session_->deviceFailure(); !device)
            brokenOff_ = Error({}, device.error().cause(), mcierr::kHardware);
        else if (session_->readFailed())
            brokenOff_ = Error(fileName_, {}, mcierr::kFileRead);
        positionFrame_ = brokenOff_ ? currentFrame() : endFrame_;
    }
    session_.reset();
    playing_ = false;
    statusTimer_.stop();
    emit Done(brokenOff_ ? mcinotify::kFailure : mcinotify::kSuccessful);
}

qint64 WavPlayer::Length() const {
    return isOpen() ? qint64(frametime::framesToMs(totalFrames_, layout_.sampleRate)) : 0;
}

qint64 WavPlayer::Position() const {
    return isOpen() ? qint64(frametime::framesToMs(currentFrame(), layout_.sampleRate)) : 0;
}

void WavPlayer::setUpdateInterval(int ms) {
    updateInterval_ = std::max(ms, 0);
    if (updateInterval_ == 0) {
        statusTimer_.stop();
        return;
    }
    statusTimer_.setInterval(updateInterval_);
    if (playing_)
        statusTimer_.start();
}

} // namespace quaverly
