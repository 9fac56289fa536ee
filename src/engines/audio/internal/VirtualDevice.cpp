#include "engines/audio/internal/VirtualDevice.h"

#include "engines/audio/VirtualBackend.h"
#include "engines/wav/SampleReader.h"

#include <algorithm>
#include <chrono>

namespace quaverly::audio {

namespace {

// Samples are handled at 16-bit scale, converted as the sample reader converts them.
int readSample(const std::uint8_t* p, std::uint16_t bits) {
    std::int16_t s = 0;
    pcm::toShorts(reinterpret_cast<const char*>(p), 1, bits, &s);
    return s;
}

void writeSample(std::uint8_t* p, int value, std::uint16_t bits) {
    const auto s = static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
    pcm::fromShorts(&s, 1, bits, reinterpret_cast<char*>(p));
}

int scaled(int value, int percent) {
    return value * percent / 100;
}

// The most frames of `rate` in one period, for the buffers made when a stream opens.
std::size_t maxPeriodFrames(std::uint32_t rate) {
    return rate / VirtualBackend::kPeriodsPerSecond + 1;
}

} // namespace

VirtualPlaybackState::VirtualPlaybackState(const PcmFormat& f, PullFn p, EndFn e)
    : format(f), frameBytes(f.bytesPerFrame()), pull(std::move(p)),
      buffer(maxPeriodFrames(f.sampleRate) * frameBytes), tellEnd(std::move(e)) {}

VirtualCaptureState::VirtualCaptureState(int s, const PcmFormat& f, PushFn p)
    : source(s), format(f), frameBytes(f.bytesPerFrame()), push(std::move(p)),
      buffer(maxPeriodFrames(f.sampleRate) * frameBytes),
      mix(maxPeriodFrames(f.sampleRate) * f.channels) {}

VirtualDevice::~VirtualDevice() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void VirtualDevice::add(VirtualPlaybackState* p) {
    std::lock_guard lock(mutex_);
    playbacks_.push_back(p);
    startLocked();
}

void VirtualDevice::add(VirtualCaptureState* c) {
    std::lock_guard lock(mutex_);
    captures_.push_back(c);
    startLocked();
}

void VirtualDevice::remove(VirtualPlaybackState* p) {
    std::lock_guard lock(mutex_);
    std::erase(playbacks_, p);
}

void VirtualDevice::remove(VirtualCaptureState* c) {
    std::lock_guard lock(mutex_);
    std::erase(captures_, c);
}

void VirtualDevice::setPaused(VirtualPlaybackState* p, bool paused) {
    {
        std::lock_guard lock(mutex_);
        p->paused = paused;
    }
    wake_.notify_all();
}

void VirtualDevice::failAllLocked(const QString& reason) {
    for (VirtualPlaybackState* p : playbacks_) {
        if (!p->ended) {
            p->error = reason;
            p->ended = true;
            p->tellEnd();
        }
    }
    for (VirtualCaptureState* c : captures_) {
        if (c->delivering) {
            c->error = reason;
            c->delivering = false;
        }
    }
}

void VirtualDevice::startLocked() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
}

bool VirtualDevice::busyLocked() const {
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

void VirtualDevice::run() {
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

void VirtualDevice::tickLocked(std::uint64_t period) {
    for (VirtualPlaybackState* p : playbacks_) {
        p->periodGot = 0;
        if (p->paused || p->ended) {
            continue;
        }
        const std::uint32_t frames = VirtualBackend::framesInPeriod(period, p->format.sampleRate);
        const std::size_t want = frames * p->frameBytes;
        std::size_t got = std::min(p->pull(p->buffer.data(), want), want);
        got -= got % p->frameBytes;
        p->periodFrames = frames;
        p->periodGot = static_cast<std::uint32_t>(got / p->frameBytes);
        logPlayedLocked(p->buffer.data(), got);
        p->frames += p->periodGot;
        if (got < want) {
            p->ended = true;
            p->tellEnd();
        }
    }
    for (VirtualCaptureState* c : captures_) {
        if (!c->delivering) {
            continue;
        }
        const std::uint32_t frames = VirtualBackend::framesInPeriod(period, c->format.sampleRate);
        fillCaptureLocked(*c, frames);
        const std::size_t bytes = frames * c->frameBytes;
        if (!c->push(c->buffer.data(), bytes)) {
            c->delivering = false;
        }
    }
}

void VirtualDevice::logPlayedLocked(const std::uint8_t* data, std::size_t bytes) {
    playedCount += bytes;
    const std::size_t room = VirtualBackend::kPlayedLogLimit - played.size();
    played.insert(played.end(), data, data + std::min(bytes, room));
}

void VirtualDevice::fillCaptureLocked(VirtualCaptureState& c, std::uint32_t frames) {
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
    mixMonitorLocked(c, frames);
    for (std::size_t i = 0; i < std::size_t{frames} * channels; ++i, out += sampleBytes) {
        writeSample(out, scaled(c.mix[i], level), bits);
    }
}

void VirtualDevice::mixMonitorLocked(VirtualCaptureState& c, std::uint32_t frames) {
    // This period of every stream that played in it.
    const std::uint16_t channels = c.format.channels;
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
}

} // namespace quaverly::audio
