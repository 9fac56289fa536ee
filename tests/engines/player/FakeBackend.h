#pragma once
// A sound device for player tests. Each playback stream has a device thread that pulls PCM
// through the PullFn and keeps `bufferFrames` ahead of a clock; the clock is what has been
// "heard". The clock either runs by itself (`framesPerMs` frames every millisecond) or stands
// still until the test moves it with advance(), which makes positions exact. The device thread
// tells the stream's end once finished() turns true.

#include "engines/audio/AudioBackend.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fake {

using namespace quaverly::audio;

// What one stream did; outlives the stream so tests can inspect it afterwards.
struct Device {
    PcmFormat format;
    std::atomic<std::uint64_t> clock{0};   // frames heard
    std::atomic<std::uint64_t> written{0}; // frames pulled
    std::atomic<bool> ended{false};        // the PullFn returned short
    std::atomic<bool> alive{true};         // the stream object exists
    std::atomic<bool> broken{false}; // set by a test: the device fails, as a server going away
    std::atomic<int> shortPulls{0};
    mutable std::mutex m;
    QByteArray delivered;

    QByteArray bytes() const {
        std::lock_guard lock(m);
        return delivered;
    }
};

struct Pace {
    std::atomic<std::uint64_t> framesPerMs{0}; // 0: the clock moves only by advance()
    std::atomic<std::uint64_t> bufferFrames{2048};
    std::atomic<std::uint64_t> chunkFrames{512};
};

class FakeStream : public PlaybackStream {
public:
    FakeStream(std::shared_ptr<Device> d, std::shared_ptr<Pace> pace, PullFn pull, EndFn ended)
        : d_(std::move(d)), pace_(std::move(pace)), pull_(std::move(pull)),
          tellEnd_(std::move(ended)), thread_([this] { run(); }) {}
    ~FakeStream() override {
        {
            std::lock_guard lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
        d_->alive = false;
    }
    void pause() override { paused_ = true; }
    void resume() override { paused_ = false; }
    std::uint64_t framesPlayed() const override {
        return std::min(d_->clock.load(), d_->written.load());
    }
    bool finished() const override {
        return d_->broken || (d_->ended && d_->clock.load() >= d_->written.load());
    }
    quaverly::Status failure() const override {
        if (d_->broken)
            return quaverly::Error({}, QStringLiteral("fake device failed"));
        return {};
    }

private:
    void run() {
        const std::size_t fb = d_->format.bytesPerFrame();
        std::vector<char> buf;
        std::unique_lock lock(m_);
        while (!stop_) {
            lock.unlock();
            if (!paused_ && !d_->broken) {
                if (const auto step = pace_->framesPerMs.load())
                    d_->clock += step;
                while (!stop_ && !d_->ended &&
                       d_->written < d_->clock + pace_->bufferFrames.load()) {
                    const std::uint64_t want = std::min<std::uint64_t>(
                        pace_->chunkFrames.load(), d_->clock + pace_->bufferFrames - d_->written);
                    buf.resize(want * fb);
                    const std::size_t got = pull_(buf.data(), buf.size());
                    {
                        std::lock_guard dl(d_->m);
                        d_->delivered.append(buf.data(), qsizetype(got));
                    }
                    d_->written += got / fb;
                    if (got < buf.size()) {
                        ++d_->shortPulls;
                        d_->ended = true;
                    }
                }
            }
            if (finished())
                tellEnd_();
            lock.lock();
            cv_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stop_.load(); });
        }
    }

    std::shared_ptr<Device> d_;
    std::shared_ptr<Pace> pace_;
    PullFn pull_;
    EndNotice tellEnd_;
    std::atomic<bool> paused_{false};
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> stop_{false};
    std::thread thread_; // last: starts after everything above exists
};

class FakeBackend : public AudioBackend {
public:
    std::shared_ptr<Pace> pace = std::make_shared<Pace>();
    std::atomic<bool> refuse{false}; // openPlayback fails like a missing device

    QString name() const override { return QStringLiteral("fake"); }
    quaverly::Status available() override { return {}; }

    quaverly::Result<std::unique_ptr<PlaybackStream>>
    openPlayback(const PcmFormat& format, PullFn pull, EndFn ended = {}) override {
        if (refuse)
            return quaverly::Error({}, QStringLiteral("fake device unplugged"));
        auto d = std::make_shared<Device>();
        d->format = format;
        {
            std::lock_guard lock(m_);
            devices_.push_back(d);
        }
        return std::unique_ptr<PlaybackStream>(
            std::make_unique<FakeStream>(d, pace, std::move(pull), std::move(ended)));
    }
    quaverly::Result<std::unique_ptr<CaptureStream>> openCapture(int, const PcmFormat&,
                                                                 PushFn) override {
        return quaverly::Error({}, QStringLiteral("no capture on the fake device"));
    }
    quaverly::Result<std::vector<SourceInfo>> sources() override {
        return std::vector<SourceInfo>{};
    }
    quaverly::Result<int> defaultSource() override { return -1; }
    quaverly::Status setSourceVolume(int, int) override {
        return quaverly::Error({}, QStringLiteral("no inputs on the fake device"));
    }

    // Streams opened so far, oldest first.
    std::vector<std::shared_ptr<Device>> devices() const {
        std::lock_guard lock(m_);
        return devices_;
    }
    std::shared_ptr<Device> last() const {
        std::lock_guard lock(m_);
        return devices_.empty() ? nullptr : devices_.back();
    }
    int liveStreams() const {
        int n = 0;
        for (const auto& d : devices())
            n += d->alive ? 1 : 0;
        return n;
    }
    // Moves the clock of the newest stream (manual pace).
    void advance(std::uint64_t frames) { last()->clock += frames; }

private:
    mutable std::mutex m_;
    std::vector<std::shared_ptr<Device>> devices_;
};

} // namespace fake
