#include "engines/audio/VirtualBackend.h"

#include "engines/audio/internal/VirtualDevice.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <utility>

namespace quaverly::audio {

namespace {

void setError(QString* error, const QString& text) {
    if (error) {
        *error = text;
    }
}

class VirtualPlayback final : public PlaybackStream {
public:
    VirtualPlayback(std::shared_ptr<VirtualDevice> device, const PcmFormat& format, PullFn pull)
        : device_(std::move(device)), state_(format, std::move(pull)) {
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
        : device_(std::move(device)), state_(source, format, std::move(push)) {
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
    if (sourceIndex < 0 || sourceIndex >= kVirtualSourceCount) {
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
    for (int i = 0; i < kVirtualSourceCount; ++i) {
        SourceInfo info;
        info.name = QString::fromLatin1(kVirtualSources[i].name);
        info.description = QString::fromLatin1(kVirtualSources[i].description);
        info.kind = kVirtualSources[i].kind;
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
    if (sourceIndex < 0 || sourceIndex >= kVirtualSourceCount) {
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
    return device_->speed();
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
    device_->defaultSource = std::clamp(sourceIndex, -1, kVirtualSourceCount - 1);
}

void VirtualBackend::setFailure(const QString& reason) {
    std::lock_guard lock(device_->mutex());
    device_->failure = reason;
    if (!reason.isEmpty()) {
        device_->failAllLocked(reason);
    }
}

} // namespace quaverly::audio
