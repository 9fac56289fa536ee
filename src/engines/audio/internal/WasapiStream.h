#pragma once
// Inside of the Windows back end (included only by engines/audio): the playback and capture
// streams. Each runs on a device thread of its own, which makes, uses and releases every COM
// object of its stream (so none crosses an apartment), driven by WASAPI's event in shared mode.
//
// The control thread and the device thread share a Control through a shared_ptr: it holds the
// stream's events and flags, and outlives the stream object should a device thread be stuck in
// the system (the stream then lets it go instead of hanging, and that thread never calls back).

#include "engines/audio/AudioBackend.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace quaverly::audio::wasapi {

// A Windows event handle, owned.
class Event {
public:
    explicit Event(bool manualReset = false)
        : h_(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~Event() {
        if (h_)
            CloseHandle(h_);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void set() const { SetEvent(h_); }

private:
    HANDLE h_;
};

// What the control thread and a device thread share.
struct Control {
    enum class Stage { Starting, Running, Abandoned };
    enum Command : int { kNone, kPause, kResume };

    Event wake;        // the control thread asks: a command, or stopping
    Event answered;    // the device thread has set up (or failed to), or done the command
    Event ended{true}; // the device thread has ended
    std::atomic<Stage> stage{Stage::Starting};
    std::atomic<bool> stopping{false};
    std::atomic<int> command{kNone};
    // Written once by the device thread, before `failed` is set; read once `failed` is seen.
    std::optional<Error> failure;
    std::atomic<bool> failed{false};

    // Device thread.
    void fail(Error why) {
        if (failed.load(std::memory_order_relaxed))
            return;
        failure = std::move(why);
        failed.store(true, std::memory_order_release);
    }
    // Either thread.
    Status status() const {
        if (failed.load(std::memory_order_acquire))
            return *failure;
        return {};
    }
    // Device thread: set up, or failed to; false when the control thread has given up waiting.
    bool setUp() {
        Stage expected = Stage::Starting;
        const bool running = stage.compare_exchange_strong(expected, Stage::Running);
        answered.set();
        return running;
    }
};

// The device thread of one stream, started by start() and ended by finish().
class StreamThread {
public:
    StreamThread() : control_(std::make_shared<Control>()) {}
    ~StreamThread() { finish(); }
    StreamThread(const StreamThread&) = delete;
    StreamThread& operator=(const StreamThread&) = delete;

    // Runs `body` on a new thread and waits until it has set up its stream (Control::setUp) or
    // failed; fails when it does not answer in time.
    template <class Body> Status start(Body body) {
        thread_ = std::thread([control = control_, body = std::move(body)]() mutable {
            body(*control);
            if (control->stage.load() == Control::Stage::Starting)
                control->setUp(); // ended before setting up: the failure is recorded
            control->ended.set();
        });
        return awaitSetUp();
    }
    // Asks the device thread for a command and waits until it is done (or the thread is gone).
    void ask(Control::Command command);
    // Stops the device thread and waits until it has ended; no call back follows.
    void finish();

    const std::shared_ptr<Control>& control() const { return control_; }

private:
    Status awaitSetUp();

    std::shared_ptr<Control> control_;
    std::thread thread_;
};

// Plays to the system's default output.
class WasapiPlayback final : public PlaybackStream {
public:
    WasapiPlayback(const PcmFormat& format, PullFn pull, EndFn ended);
    ~WasapiPlayback() override { thread_.finish(); }

    Status start();
    void pause() override { thread_.ask(Control::kPause); }
    void resume() override { thread_.ask(Control::kResume); }
    std::uint64_t framesPlayed() const override { return state_->heard.load(); }
    bool finished() const override {
        return state_->drained.load() || thread_.control()->failed.load();
    }
    Status failure() const override { return thread_.control()->status(); }

    // What the device thread keeps up to date for the control thread.
    struct State {
        std::atomic<std::uint64_t> heard{0}; // never goes back
        std::atomic<bool> drained{false};    // the data ended and all of it has been heard
    };

private:
    const PcmFormat format_;
    PullFn pull_;
    EndFn ended_;
    std::shared_ptr<State> state_;
    StreamThread thread_;
};

// Records from a capture endpoint, or from what a render endpoint plays (loopback).
class WasapiCapture final : public CaptureStream {
public:
    // gain: the input's level in percent, applied to the samples (loopback inputs, whose level is
    // ours: setting the output's own would change what the user hears); null for none.
    WasapiCapture(QString endpointId, bool loopback, const PcmFormat& format, PushFn push,
                  std::shared_ptr<std::atomic<int>> gain);
    ~WasapiCapture() override { thread_.finish(); }

    Status start();
    void stop() override { thread_.finish(); }
    Status failure() const override { return thread_.control()->status(); }

private:
    const QString endpointId_;
    const bool loopback_;
    const PcmFormat format_;
    PushFn push_;
    std::shared_ptr<std::atomic<int>> gain_;
    StreamThread thread_;
};

} // namespace quaverly::audio::wasapi
