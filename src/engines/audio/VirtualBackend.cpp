#include "engines/audio/VirtualBackend.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <thread>
#include <utility>

namespace quaverly::audio {

namespace {

void setError(QString* error, const QString& text) {
    if (error) {
        *error = text;
    }
}

struct SourceSpec {
    const char* name;
    const char* description;
    SourceKind kind;
};
constexpr SourceSpec kSources[] = {
    {"virtual.microphone", "Virtual microphone", SourceKind::Microphone},
    {"virtual.line-in", "Virtual line-in", SourceKind::LineIn},
    {"virtual.monitor", "Monitor of the virtual output", SourceKind::Monitor},
};
constexpr int kSourceCount = static_cast<int>(std::size(kSources));

// Samples are handled at 16-bit scale; 8-bit ones are unsigned around 128.
int readSample(const std::uint8_t* p, std::uint16_t bits) {
    if (bits == 8) {
        return (static_cast<int>(p[0]) - 128) * 256;
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void writeSample(std::uint8_t* p, int value, std::uint16_t bits) {
    const int v = std::clamp(value, -32768, 32767);
    if (bits == 8) {
        p[0] = static_cast<std::uint8_t>((v >> 8) + 128);
    } else {
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        p[0] = static_cast<std::uint8_t>(u & 0xFF);
        p[1] = static_cast<std::uint8_t>(u >> 8);
    }
}

int scaled(int value, int percent) {
    return value * percent / 100;
}

std::size_t maxPeriodFrames(std::uint32_t rate) {
    return rate / VirtualBackend::kPeriodsPerSecond + 1;
}

} // namespace

// What the device thread knows of one playback stream.
struct VirtualPlaybackState {
    PcmFormat format;
    std::size_t frameBytes = 0;
    PullFn pull;
    std::vector<std::uint8_t> buffer; // one period, filled by the PullFn
    // Guarded by the device lock.
    bool paused = false;
    QString error;
    // Device thread: the last period's nominal frames and what the PullFn gave of them.
    std::uint32_t periodFrames = 0;
    std::uint32_t periodGot = 0;
    std::atomic<std::uint64_t> frames{0};
    std::atomic<bool> ended{false};
};

// What the device thread knows of one capture stream.
struct VirtualCaptureState {
    int source = 0;
    PcmFormat format;
    std::size_t frameBytes = 0;
    PushFn push;
    std::vector<std::uint8_t> buffer; // one period
    std::vector<int> mix;             // one period of the monitor, before clipping
    std::uint64_t signalFrame = 0;    // device thread
    bool delivering = true;           // guarded by the device lock
    QString error;                    // guarded by the device lock
    std::atomic<std::uint64_t> bytes{0};
};

class VirtualDevice {
public:
    explicit VirtualDevice(double speed) : speed_(speed) {}
    ~VirtualDevice() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void add(VirtualPlaybackState* p) {
        std::lock_guard lock(mutex_);
        playbacks_.push_back(p);
        startLocked();
    }
    void add(VirtualCaptureState* c) {
        std::lock_guard lock(mutex_);
        captures_.push_back(c);
        startLocked();
    }
    void remove(VirtualPlaybackState* p) {
        std::lock_guard lock(mutex_);
        std::erase(playbacks_, p);
    }
    void remove(VirtualCaptureState* c) {
        std::lock_guard lock(mutex_);
        std::erase(captures_, c);
    }
    void setPaused(VirtualPlaybackState* p, bool paused) {
        {
            std::lock_guard lock(mutex_);
            p->paused = paused;
        }
        wake_.notify_all();
    }

    std::mutex& mutex() const { return mutex_; }

    // Guarded by mutex().
    int volumes[kSourceCount] = {100, 100, 100};
    int defaultSource = VirtualBackend::kMicrophone;
    QString failure;
    std::vector<std::uint8_t> played;
    std::uint64_t playedCount = 0;

    std::atomic<std::uint64_t> periods{0};
    const double speed_;

    int openStreamsLocked() const { return static_cast<int>(playbacks_.size() + captures_.size()); }

    // Makes every open stream fail with `reason`.
    void failAllLocked(const QString& reason) {
        for (VirtualPlaybackState* p : playbacks_) {
            if (!p->ended) {
                p->error = reason;
                p->ended = true;
            }
        }
        for (VirtualCaptureState* c : captures_) {
            if (c->delivering) {
                c->error = reason;
                c->delivering = false;
            }
        }
    }

private:
    void startLocked() {
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

    bool busyLocked() const {
        for (const VirtualPlaybackState* p : playbacks_) {
            if (!p->paused && !p->ended) {
                return true;
            }
        }
        for (const VirtualCaptureState* c : captures_) {
            if (c->delivering) {
                return true;
            }
        }
        return false;
    }

    void run() {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / (VirtualBackend::kPeriodsPerSecond * speed_)));
        // After a stall (a loaded machine) the clock catches up by at most this much at once.
        const auto maxLag = period * 10;
        std::unique_lock lock(mutex_);
        auto next = Clock::now();
        while (!quit_) {
            if (!busyLocked()) {
                wake_.wait(lock, [&] { return quit_ || busyLocked(); });
                next = Clock::now();
                continue;
            }
            tickLocked(periods.load());
            ++periods;
            next += period;
            const auto now = Clock::now();
            if (next + maxLag < now) {
                next = now;
            }
            wake_.wait_until(lock, next, [&] { return quit_; });
        }
    }

    void tickLocked(std::uint64_t period) {
        for (VirtualPlaybackState* p : playbacks_) {
            p->periodGot = 0;
            if (p->paused || p->ended) {
                continue;
            }
            const std::uint32_t frames =
                VirtualBackend::framesInPeriod(period, p->format.sampleRate);
            const std::size_t want = frames * p->frameBytes;
            std::size_t got = std::min(p->pull(p->buffer.data(), want), want);
            got -= got % p->frameBytes;
            p->periodFrames = frames;
            p->periodGot = static_cast<std::uint32_t>(got / p->frameBytes);
            logPlayedLocked(p->buffer.data(), got);
            p->frames += p->periodGot;
            if (got < want) {
                p->ended = true;
            }
        }
        for (VirtualCaptureState* c : captures_) {
            if (!c->delivering) {
                continue;
            }
            const std::uint32_t frames =
                VirtualBackend::framesInPeriod(period, c->format.sampleRate);
            fillCaptureLocked(*c, frames);
            const std::size_t bytes = frames * c->frameBytes;
            c->bytes += bytes;
            if (!c->push(c->buffer.data(), bytes)) {
                c->delivering = false;
            }
        }
    }

    void logPlayedLocked(const std::uint8_t* data, std::size_t bytes) {
        playedCount += bytes;
        const std::size_t room = VirtualBackend::kPlayedLogLimit - played.size();
        played.insert(played.end(), data, data + std::min(bytes, room));
    }

    void fillCaptureLocked(VirtualCaptureState& c, std::uint32_t frames) {
        const std::uint16_t channels = c.format.channels;
        const std::uint16_t bits = c.format.bitsPerSample;
        const std::size_t sampleBytes = bits / 8u;
        const int level = volumes[c.source];
        std::uint8_t* out = c.buffer.data();
        if (c.source != VirtualBackend::kMonitor) {
            for (std::uint32_t j = 0; j < frames; ++j) {
                const std::uint64_t n = c.signalFrame + j;
                const int v = c.source == VirtualBackend::kMicrophone
                                  ? VirtualBackend::microphoneSample(n, c.format.sampleRate)
                                  : VirtualBackend::lineInSample(n);
                for (std::uint16_t ch = 0; ch < channels; ++ch, out += sampleBytes) {
                    writeSample(out, scaled(v, level), bits);
                }
            }
            c.signalFrame += frames;
            return;
        }
        // The monitor: this period of every stream that played in it.
        std::fill(c.mix.begin(), c.mix.begin() + frames * channels, 0);
        for (const VirtualPlaybackState* p : playbacks_) {
            if (p->periodGot == 0) {
                continue;
            }
            const std::uint16_t pc = p->format.channels;
            const std::uint16_t pbits = p->format.bitsPerSample;
            const std::size_t psample = pbits / 8u;
            for (std::uint32_t j = 0; j < frames; ++j) {
                const std::uint64_t src = std::uint64_t{j} * p->periodFrames / frames;
                if (src >= p->periodGot) {
                    break;
                }
                const std::uint8_t* frame = p->buffer.data() + src * p->frameBytes;
                int* dst = c.mix.data() + std::size_t{j} * channels;
                if (channels == 1 && pc > 1) {
                    int sum = 0;
                    for (std::uint16_t k = 0; k < pc; ++k) {
                        sum += readSample(frame + k * psample, pbits);
                    }
                    dst[0] += sum / pc;
                    continue;
                }
                for (std::uint16_t ch = 0; ch < channels; ++ch) {
                    const std::uint16_t from = std::min<std::uint16_t>(ch, pc - 1);
                    dst[ch] += readSample(frame + from * psample, pbits);
                }
            }
        }
        for (std::size_t i = 0; i < std::size_t{frames} * channels; ++i, out += sampleBytes) {
            writeSample(out, scaled(c.mix[i], level), bits);
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool quit_ = false;
    std::vector<VirtualPlaybackState*> playbacks_;
    std::vector<VirtualCaptureState*> captures_;
};

namespace {

class VirtualPlayback final : public PlaybackStream {
public:
    VirtualPlayback(std::shared_ptr<VirtualDevice> device, const PcmFormat& format, PullFn pull)
        : device_(std::move(device)) {
        state_.format = format;
        state_.frameBytes = format.bytesPerFrame();
        state_.pull = std::move(pull);
        state_.buffer.resize(maxPeriodFrames(format.sampleRate) * state_.frameBytes);
        device_->add(&state_);
    }
    ~VirtualPlayback() override { device_->remove(&state_); }

    void pause() override { device_->setPaused(&state_, true); }
    void resume() override { device_->setPaused(&state_, false); }
    std::uint64_t framesPlayed() const override { return state_.frames; }
    bool finished() const override { return state_.ended; }
    QString error() const override {
        std::lock_guard lock(device_->mutex());
        return state_.error;
    }

private:
    std::shared_ptr<VirtualDevice> device_;
    VirtualPlaybackState state_;
};

class VirtualCapture final : public CaptureStream {
public:
    VirtualCapture(std::shared_ptr<VirtualDevice> device, int source, const PcmFormat& format,
                   PushFn push)
        : device_(std::move(device)) {
        state_.source = source;
        state_.format = format;
        state_.frameBytes = format.bytesPerFrame();
        state_.push = std::move(push);
        state_.buffer.resize(maxPeriodFrames(format.sampleRate) * state_.frameBytes);
        state_.mix.resize(maxPeriodFrames(format.sampleRate) * format.channels);
        device_->add(&state_);
    }
    ~VirtualCapture() override { stop(); }

    void stop() override { device_->remove(&state_); }
    std::uint64_t bytesCaptured() const override { return state_.bytes; }
    QString error() const override {
        std::lock_guard lock(device_->mutex());
        return state_.error;
    }

private:
    std::shared_ptr<VirtualDevice> device_;
    VirtualCaptureState state_;
};

} // namespace

double VirtualBackend::speedFromEnvironment() {
    bool ok = false;
    const double speed = qEnvironmentVariable("QUAVERLY_VIRTUAL_SPEED").toDouble(&ok);
    return ok && speed >= 0.01 && speed <= 1000.0 ? speed : kDefaultSpeed;
}

VirtualBackend::VirtualBackend(double speed)
    : device_(std::make_shared<VirtualDevice>(std::clamp(speed, 0.01, 1000.0))) {}

VirtualBackend::~VirtualBackend() = default;

QString VirtualBackend::name() const {
    return QStringLiteral("virtual");
}

bool VirtualBackend::available(QString* error) {
    std::lock_guard lock(device_->mutex());
    if (!device_->failure.isEmpty()) {
        setError(error, device_->failure);
        return false;
    }
    return true;
}

std::unique_ptr<PlaybackStream> VirtualBackend::openPlayback(const PcmFormat& format, PullFn pull,
                                                             QString* error) {
    if (!pull) {
        setError(error, QStringLiteral("No sound to play"));
        return nullptr;
    }
    if (!isSupportedFormat(format, error) || !available(error)) {
        return nullptr;
    }
    return std::make_unique<VirtualPlayback>(device_, format, std::move(pull));
}

std::unique_ptr<CaptureStream> VirtualBackend::openCapture(int sourceIndex, const PcmFormat& format,
                                                           PushFn push, QString* error) {
    if (!push) {
        setError(error, QStringLiteral("Nowhere to deliver the recording"));
        return nullptr;
    }
    if (!isSupportedFormat(format, error) || !available(error)) {
        return nullptr;
    }
    if (sourceIndex < 0 || sourceIndex >= kSourceCount) {
        setError(error, QStringLiteral("There is no input %1").arg(sourceIndex));
        return nullptr;
    }
    return std::make_unique<VirtualCapture>(device_, sourceIndex, format, std::move(push));
}

std::vector<SourceInfo> VirtualBackend::sources(QString* error) {
    std::vector<SourceInfo> result;
    if (!available(error)) {
        return result;
    }
    std::lock_guard lock(device_->mutex());
    for (int i = 0; i < kSourceCount; ++i) {
        SourceInfo info;
        info.name = QString::fromLatin1(kSources[i].name);
        info.description = QString::fromLatin1(kSources[i].description);
        info.kind = kSources[i].kind;
        info.volumePercent = device_->volumes[i];
        result.push_back(info);
    }
    return result;
}

int VirtualBackend::defaultSource(QString* error) {
    if (!available(error)) {
        return -1;
    }
    std::lock_guard lock(device_->mutex());
    return device_->defaultSource;
}

bool VirtualBackend::setSourceVolume(int sourceIndex, int percent, QString* error) {
    if (!available(error)) {
        return false;
    }
    if (sourceIndex < 0 || sourceIndex >= kSourceCount) {
        setError(error, QStringLiteral("There is no input %1").arg(sourceIndex));
        return false;
    }
    if (percent < 0 || percent > kMaxVolumePercent) {
        setError(error, QStringLiteral("Input level %1 is outside 0 to %2")
                            .arg(percent)
                            .arg(kMaxVolumePercent));
        return false;
    }
    std::lock_guard lock(device_->mutex());
    device_->volumes[sourceIndex] = percent;
    return true;
}

std::int16_t VirtualBackend::microphoneSample(std::uint64_t frame, std::uint32_t sampleRate) {
    // Whole seconds hold whole cycles, so the phase is taken within the second for precision.
    const double t = static_cast<double>(frame % sampleRate) / sampleRate;
    return static_cast<std::int16_t>(
        std::lround(kMicAmplitude * std::sin(2.0 * std::numbers::pi * kMicFrequency * t)));
}

std::int16_t VirtualBackend::lineInSample(std::uint64_t frame) {
    const auto step = static_cast<int>((frame / kStairFrames) % kStairSteps);
    return static_cast<std::int16_t>((step - kStairSteps / 2) * kStairHeight);
}

std::uint32_t VirtualBackend::framesInPeriod(std::uint64_t period, std::uint32_t sampleRate) {
    return static_cast<std::uint32_t>((period + 1) * sampleRate / kPeriodsPerSecond -
                                      period * sampleRate / kPeriodsPerSecond);
}

double VirtualBackend::speed() const {
    return device_->speed_;
}

std::vector<std::uint8_t> VirtualBackend::playedBytes() const {
    std::lock_guard lock(device_->mutex());
    return device_->played;
}

std::uint64_t VirtualBackend::playedByteCount() const {
    std::lock_guard lock(device_->mutex());
    return device_->playedCount;
}

void VirtualBackend::clearPlayed() {
    std::lock_guard lock(device_->mutex());
    device_->played.clear();
    device_->playedCount = 0;
}

std::uint64_t VirtualBackend::periods() const {
    return device_->periods;
}

int VirtualBackend::openStreams() const {
    std::lock_guard lock(device_->mutex());
    return device_->openStreamsLocked();
}

void VirtualBackend::setDefaultSource(int sourceIndex) {
    std::lock_guard lock(device_->mutex());
    device_->defaultSource = std::clamp(sourceIndex, -1, kSourceCount - 1);
}

void VirtualBackend::setFailure(const QString& reason) {
    std::lock_guard lock(device_->mutex());
    device_->failure = reason;
    if (!reason.isEmpty()) {
        device_->failAllLocked(reason);
    }
}

} // namespace quaverly::audio
