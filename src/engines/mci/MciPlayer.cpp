#include "engines/mci/MciPlayer.h"

#include "engines/mci/MciErrors.h"
#include "engines/mci/MciTime.h"
#include "engines/mci/MciWav.h"
#include "engines/util/SpscRing.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <semaphore>
#include <thread>
#include <vector>

namespace quaverly {
namespace {

constexpr std::size_t kRingBytes = 1 << 20;    // about 6 s of CD sound read ahead
constexpr std::size_t kPrefillBytes = 1 << 18; // read before the device starts pulling
constexpr std::size_t kReadChunk = 1 << 16;    // one read of the reader thread
constexpr auto kReaderNap = std::chrono::milliseconds(10);
constexpr int kEndPollMs = 20; // how often the UI thread looks for the natural end

} // namespace

// One run of "play": the ring, the reader thread that fills it from the player's file, and the
// device stream that empties it. Created and destroyed on the UI thread; the file belongs to the
// player and only this session's threads touch it while the session lives.
class PlaySession {
public:
    PlaySession(QFile& file, const WavLayout& layout, std::uint64_t startFrame,
                std::uint64_t endFrame)
        : file_(file), ring_(kRingBytes), frameBytes_(layout.blockAlign),
          silence_(layout.bitsPerSample == 8 ? 0x80 : 0x00),
          nextByte_(layout.dataOffset + startFrame * layout.blockAlign),
          endByte_(layout.dataOffset + endFrame * layout.blockAlign),
          chunk_(std::max<std::size_t>(frameBytes_, kReadChunk - kReadChunk % frameBytes_)) {}

    ~PlaySession() {
        // The stream goes first: once it is destroyed the device thread never calls pull() again,
        // so the ring and the reader can go safely after it.
        stream_.reset();
        stopReader();
    }
    PlaySession(const PlaySession&) = delete;
    PlaySession& operator=(const PlaySession&) = delete;

    // Reads the first stretch, starts the reader and the device stream. False with *error when
    // the file cannot be read or no stream can be had; nothing keeps running then.
    bool start(audio::AudioBackend& backend, const audio::PcmFormat& format, QString* error,
               bool* readError) {
        *readError = false;
        if (!file_.seek(static_cast<qint64>(nextByte_)) || !fill(kPrefillBytes)) {
            *readError = true;
            *error = file_.fileName() + QStringLiteral(": ") + file_.errorString();
            return false;
        }
        reader_ = std::thread([this] { readerLoop(); });
        stream_ = backend.openPlayback(
            format, [this](void* dst, std::size_t bytes) { return pull(dst, bytes); }, error);
        if (!stream_) {
            stopReader();
            if (error->isEmpty())
                *error = QStringLiteral("the sound device refused the stream");
            return false;
        }
        return true;
    }

    // Frames of the file heard since the start (silence played for a starved reader excluded).
    std::uint64_t heardFrames() const {
        const std::uint64_t played = stream_->framesPlayed();
        const std::uint64_t gaps = silenceFrames_.load(std::memory_order_relaxed);
        return played > gaps ? played - gaps : 0;
    }
    bool finished() const { return stream_->finished(); }
    bool readFailed() const { return failed_.load(std::memory_order_acquire); }
    // Why the device broke the playback off (the sound server went away, ...); empty while it
    // plays or once it has played everything.
    QString deviceError() const { return stream_->error(); }

private:
    // Device thread: copies ready sound out of the ring. Never blocks, never allocates.
    std::size_t pull(void* dst, std::size_t bytes) {
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

    // Reader thread (and start(), before the reader exists): moves up to `limit` bytes from the
    // file into the ring, in whole frames. False on a read error.
    bool fill(std::size_t limit) {
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

    void readerLoop() {
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

    void stopReader() {
        if (!reader_.joinable())
            return;
        stop_.store(true, std::memory_order_release);
        wake_.release();
        reader_.join();
    }

    QFile& file_;
    SpscRing ring_;
    const std::uint32_t frameBytes_;
    const std::uint8_t silence_;
    std::uint64_t nextByte_; // reader's next file offset
    const std::uint64_t endByte_;
    std::vector<char> chunk_; // reader's scratch block

    std::atomic<bool> eof_{false};    // the reader has put the last byte in the ring
    std::atomic<bool> failed_{false}; // ... because the file could not be read further
    std::atomic<bool> stop_{false};
    std::atomic<bool> wakePending_{false};
    std::atomic<std::uint64_t> silenceFrames_{0};
    std::counting_semaphore<> wake_{0};
    std::thread reader_;
    std::unique_ptr<audio::PlaybackStream> stream_;
};

MciPlayer::MciPlayer(std::shared_ptr<audio::AudioBackend> backend, QObject* parent)
    : QObject(parent), backend_(std::move(backend)) {
    statusTimer_.setInterval(updateInterval_);
    connect(&statusTimer_, &QTimer::timeout, this, &MciPlayer::StatusUpdate);
    endTimer_.setInterval(kEndPollMs);
    connect(&endTimer_, &QTimer::timeout, this, &MciPlayer::checkEnd);
}

MciPlayer::~MciPlayer() {
    release();
}

int MciPlayer::fail(int code, const QString& detail) {
    lastCode_ = code;
    lastError_ =
        detail.isEmpty() ? mcierr::text(code) : mcierr::text(code) + QStringLiteral(": ") + detail;
    return code;
}

int MciPlayer::Command(const QString& command) {
    lastCode_ = 0;
    lastError_.clear();
    const QString c = command.trimmed().toLower();
    if (c.isEmpty())
        return fail(mcierr::kMissingCommandString, {});
    if (c == QLatin1String("open"))
        return open();
    const bool known = c == QLatin1String("play") || c == QLatin1String("stop") ||
                       c == QLatin1String("pause") || c == QLatin1String("close") ||
                       c == QLatin1String("seek");
    if (!known)
        return fail(mcierr::kUnrecognizedCommand, command.trimmed());
    if (!isOpen())
        return fail(mcierr::kInvalidDeviceId, c);
    if (c == QLatin1String("play"))
        return play();
    if (c == QLatin1String("seek"))
        return seek();
    if (c == QLatin1String("close"))
        release();
    else
        halt(); // stop, pause
    return 0;
}

int MciPlayer::open() {
    release();
    if (fileName_.isEmpty())
        return fail(mcierr::kFilenameRequired, {});
    const QFileInfo info(fileName_);
    if (!info.exists())
        return fail(mcierr::kFileNotFound, fileName_);
    if (!info.isFile())
        return fail(mcierr::kInvalidFile, fileName_ + QStringLiteral(" is not a file"));
    auto file = std::make_unique<QFile>(fileName_);
    if (!file->open(QIODevice::ReadOnly))
        return fail(mcierr::kFileRead, fileName_ + QStringLiteral(": ") + file->errorString());
    QString why;
    const auto layout = probeWav(fileName_, &why);
    if (!layout)
        return fail(mcierr::kInvalidFile, fileName_ + QStringLiteral(": ") + why);
    if (!mciwav::isPlainPcm(*layout))
        return fail(mcierr::kInvalidFile, fileName_ + QStringLiteral(": format %1, %2 bits")
                                                          .arg(layout->formatTag)
                                                          .arg(layout->bitsPerSample));
    file_ = std::move(file);
    layout_ = *layout;
    totalFrames_ = layout_.dataSize / layout_.blockAlign;
    positionFrame_ = 0;
    endFrame_ = totalFrames_;
    from_.reset();
    to_.reset();
    if (updateInterval_ > 0)
        statusTimer_.start();
    return 0;
}

std::uint64_t MciPlayer::frameAt(qint64 ms) const {
    const auto at = static_cast<std::uint64_t>(ms);
    if (ms >= Length())
        return totalFrames_;
    return std::min(mcitime::msToFrames(at, layout_.sampleRate).value_or(totalFrames_),
                    totalFrames_);
}

int MciPlayer::play() {
    if (playing_ && !from_ && !to_)
        return 0; // already playing from where it is
    if (from_ && *from_ < 0)
        return fail(mcierr::kOutOfRange, QStringLiteral("from %1 ms").arg(*from_));
    if (to_ && *to_ < 0)
        return fail(mcierr::kOutOfRange, QStringLiteral("to %1 ms").arg(*to_));
    // The running session goes first: the new one reads the same file. If the new one cannot
    // start, the player is left stopped where it was heard, with From and To still pending.
    halt();
    const std::uint64_t start = from_ ? frameAt(*from_) : positionFrame_;
    const std::uint64_t end = std::max(start, to_ ? frameAt(*to_) : totalFrames_);
    if (start < end) {
        if (!backend_)
            return fail(mcierr::kHardware, QStringLiteral("no sound device"));
        auto session = std::make_unique<PlaySession>(*file_, layout_, start, end);
        const audio::PcmFormat format{layout_.sampleRate, layout_.channels, layout_.bitsPerSample};
        QString error;
        bool readError = false;
        if (!session->start(*backend_, format, &error, &readError))
            return fail(readError ? mcierr::kFileRead : mcierr::kHardware, error);
        session_ = std::move(session);
    }
    from_.reset();
    to_.reset();
    positionFrame_ = start;
    endFrame_ = end;
    // With nothing left to play, the next poll finds the end at once and raises Done.
    playing_ = true;
    endTimer_.start();
    return 0;
}

int MciPlayer::seek() {
    if (from_ && *from_ < 0)
        return fail(mcierr::kOutOfRange, QStringLiteral("from %1 ms").arg(*from_));
    halt();
    if (from_)
        positionFrame_ = frameAt(*from_);
    from_.reset();
    return 0;
}

std::uint64_t MciPlayer::currentFrame() const {
    if (!session_)
        return positionFrame_;
    return std::min(endFrame_, positionFrame_ + session_->heardFrames());
}

void MciPlayer::halt() {
    if (!playing_)
        return;
    positionFrame_ = currentFrame();
    session_.reset();
    playing_ = false;
    endTimer_.stop();
}

void MciPlayer::release() {
    halt();
    statusTimer_.stop();
    file_.reset();
    layout_ = {};
    totalFrames_ = 0;
    positionFrame_ = 0;
    endFrame_ = 0;
    from_.reset();
    to_.reset();
}

void MciPlayer::checkEnd() {
    if (!playing_)
        return;
    int code = mcinotify::kSuccessful;
    int why = 0;
    QString detail;
    if (session_) {
        if (!session_->finished())
            return;
        detail = session_->deviceError();
        if (!detail.isEmpty()) {
            // A device that failed has finished too, but not at the end: the position stays
            // where the listener heard it stop, so that "play" goes on from there.
            why = mcierr::kHardware;
        } else if (session_->readFailed()) {
            why = mcierr::kFileRead;
            detail = fileName_;
        }
        positionFrame_ = why ? currentFrame() : endFrame_;
    }
    session_.reset();
    playing_ = false;
    endTimer_.stop();
    if (why) {
        code = mcinotify::kFailure;
        fail(why, detail);
    }
    emit Done(code);
}

qint64 MciPlayer::Length() const {
    return isOpen() ? static_cast<qint64>(mcitime::framesToMs(totalFrames_, layout_.sampleRate))
                    : 0;
}

qint64 MciPlayer::Position() const {
    return isOpen() ? static_cast<qint64>(mcitime::framesToMs(currentFrame(), layout_.sampleRate))
                    : 0;
}

void MciPlayer::setUpdateInterval(int ms) {
    updateInterval_ = std::max(ms, 0);
    if (updateInterval_ == 0) {
        statusTimer_.stop();
        return;
    }
    statusTimer_.setInterval(updateInterval_);
    if (isOpen())
        statusTimer_.start();
}

} // namespace quaverly
