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

Error deviceError(const QString& cause) {
    return Error(QString(), cause);
}

// A failure the device thread recorded, read under the device's lock.
Status failureOf(const VirtualDevice& device, const QString& reason) {
    std::lock_guard lock(device.mutex());
    if (reason.isEmpty()) {
        return {};
    }
    return deviceError(reason);
}

class VirtualPlayback final : public PlaybackStream {
public:
    VirtualPlayback(std::shared_ptr<VirtualDevice> device, const PcmFormat& format, PullFn pull,
                    EndFn ended)
        : device_(std::move(device)), state_(format, std::move(pull), std::move(ended)) {
        device_->add(&state_);
    }
    ~VirtualPlayback() override { device_->remove(&state_); }

    void pause() override { device_->setPaused(&state_, true); }
    void resume() override { device_->setPaused(&state_, false); }
    std::uint64_t framesPlayed() const override { return state_.frames; }
    bool finished() const override { return state_.ended; }
    Status failure() const override { return failureOf(*device_, state_.error); }

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
    Status failure() const override { return failureOf(*device_, state_.error); }

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

Status VirtualBackend::available() {
    std::lock_guard lock(device_->mutex());
    if (!device_->failure.isEmpty()) {
        return deviceError(device_->failure);
    }
    return {};
}

Status VirtualBackend::readyToOpen(const PcmFormat& format, bool fed, const QString& unfed) {
    if (!fed) {
        return deviceError(unfed);
    }
    if (Status ready = checkFormat(format); !ready) {
        return ready;
    }
    return available();
}

Result<std::unique_ptr<PlaybackStream>> VirtualBackend::openPlayback(const PcmFormat& format,
                                                                     PullFn pull, EndFn ended) {
    if (Status ready = readyToOpen(format, bool(pull), QStringLiteral("No sound to play"));
        !ready) {
        return ready.error();
    }
    return std::unique_ptr<PlaybackStream>(
        std::make_unique<VirtualPlayback>(device_, format, std::move(pull), std::move(ended)));
}

Result<std::unique_ptr<CaptureStream>>
VirtualBackend::openCapture(int sourceIndex, const PcmFormat& format, PushFn push) {
    if (Status ready =
            readyToOpen(format, bool(push), QStringLiteral("Nowhere to deliver the recording"));
        !ready) {
        return ready.error();
    }
    if (sourceIndex < 0 || sourceIndex >= kVirtualSourceCount) {
        return deviceError(QStringLiteral("There is no input %1").arg(sourceIndex));
    }
    return std::unique_ptr<CaptureStream>(
        std::make_unique<VirtualCapture>(device_, sourceIndex, format, std::move(push)));
}

Result<std::vector<SourceInfo>> VirtualBackend::sources() {
    if (Status ready = available(); !ready) {
        return ready.error();
    }
    std::vector<SourceInfo> result;
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

Result<int> VirtualBackend::defaultSource() {
    if (Status ready = available(); !ready) {
        return ready.error();
    }
    std::lock_guard lock(device_->mutex());
    return device_->defaultSource;
}

Status VirtualBackend::setSourceVolume(int sourceIndex, int percent) {
    if (Status ready = available(); !ready) {
        return ready;
    }
    if (sourceIndex < 0 || sourceIndex >= kVirtualSourceCount) {
        return deviceError(QStringLiteral("There is no input %1").arg(sourceIndex));
    }
    if (percent < 0 || percent > kMaxVolumePercent) {
        return deviceError(QStringLiteral("Input level %1 is outside 0 to %2")
                               .arg(percent)
                               .arg(kMaxVolumePercent));
    }
    std::lock_guard lock(device_->mutex());
    device_->volumes[sourceIndex] = percent;
    return {};
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
