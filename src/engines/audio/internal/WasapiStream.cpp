#include "engines/audio/internal/WasapiStream.h"

#include "engines/audio/internal/WasapiCom.h"
#include "engines/util/internal/WindowsError.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quaverly::audio::wasapi {

namespace {

// A running stream whose device gives no sign for this long has stopped (a device gone without
// a word, the audio service hung): the stream fails instead of waiting for ever.
constexpr DWORD kStallMs = 2000;
// How long a clock may stand still at the end of the data before the stream counts as played.
constexpr ULONGLONG kClockStillMs = 200;
// The least time the end of the data is given once the clock has passed it.
constexpr ULONGLONG kEndGraceMs = 30;
// How long a control thread waits for its device thread to set up, or to do a command.
constexpr DWORD kSetUpMs = 10000;
constexpr DWORD kCommandMs = 2000;
// How long finish() waits for a device thread to end before letting it go.
constexpr DWORD kEndMs = 5000;
// A loopback capture is polled: older systems give no event for it.
constexpr DWORD kLoopbackPollMs = 10;

// What the device is asked for: 16-bit samples, whatever the stream's are. Windows converts rates
// and channel counts (AUTOCONVERTPCM), but its engine is not promised to take 8-bit samples:
// those are widened and narrowed here.
PcmFormat deviceFormat(PcmFormat f) {
    f.bitsPerSample = 16;
    return f;
}

template <class T> Result<ComPtr<T>> service(IAudioClient& client, const QString& doing) {
    ComPtr<T> s;
    if (const HRESULT hr = client.GetService(__uuidof(T), s.putVoid()); FAILED(hr))
        return failed(doing, hr);
    return s;
}

// The device thread of a playback stream.
void runPlayback(Control& c, const PcmFormat& f, PullFn& pull, WasapiPlayback::State& s,
                 EndNotice& tellEnd) {
    const QString doing = QStringLiteral("cannot start playback");
    ComScope com;
    if (!com.usable())
        return c.fail(failed(doing, com.result()));
    Event audio;
    auto open = openClient({}, eRender, 0, deviceFormat(f), audio.get(), doing);
    if (!open)
        return c.fail(open.error());
    IAudioClient& client = *open->client.get();
    auto render = service<IAudioRenderClient>(client, doing);
    if (!render)
        return c.fail(render.error());
    auto clock = service<IAudioClock>(client, doing);
    if (!clock)
        return c.fail(clock.error());
    UINT64 frequency = 0;
    if (const HRESULT hr = (*clock)->GetFrequency(&frequency); FAILED(hr) || frequency == 0)
        return c.fail(failed(doing, FAILED(hr) ? hr : E_UNEXPECTED));
    if (!c.setUp())
        return;

    const UINT32 frameBytes = f.bytesPerFrame();
    const bool eightBit = f.bitsPerSample == 8;
    // 8-bit sound is pulled here first, then widened into the device's buffer.
    std::vector<BYTE> narrow(eightBit ? std::size_t(open->bufferFrames) * frameBytes : 0);
    std::uint64_t written = 0;
    bool ended = false;
    UINT32 padding = 0;
    // Hands the device as much as it has room for; the data has ended once the PullFn gives
    // less than asked.
    const auto feed = [&]() -> HRESULT {
        HRESULT hr = client.GetCurrentPadding(&padding);
        if (FAILED(hr) || ended || c.stopping)
            return hr;
        const UINT32 room = open->bufferFrames - padding;
        if (room == 0)
            return S_OK;
        BYTE* data = nullptr;
        if (FAILED(hr = (*render)->GetBuffer(room, &data)))
            return hr;
        const std::size_t asked = std::size_t(room) * frameBytes;
        void* into = eightBit ? static_cast<void*>(narrow.data()) : data;
        const auto frames = static_cast<UINT32>(std::min(pull(into, asked), asked) / frameBytes);
        if (eightBit) {
            for (std::size_t i = 0; i < std::size_t(frames) * frameBytes; ++i) {
                const auto v = std::int16_t((int(narrow[i]) - 128) * 256);
                std::memcpy(data + 2 * i, &v, 2);
            }
        }
        ended = frames < room;
        if (FAILED(hr = (*render)->ReleaseBuffer(frames, 0)))
            return hr;
        written += frames;
        padding += frames;
        return S_OK;
    };
    // The device's clock says what has reached the speaker.
    std::uint64_t clockFrames = 0;
    const auto noteHeard = [&] {
        UINT64 position = 0;
        if (FAILED((*clock)->GetPosition(&position, nullptr)))
            return;
        clockFrames = static_cast<std::uint64_t>(double(position) * f.sampleRate / frequency);
        const std::uint64_t frames = std::min(written, clockFrames);
        if (frames > s.heard.load(std::memory_order_relaxed))
            s.heard.store(frames);
    };
    // Once the data has ended, the stream stops when the clock has passed the last frame, or has
    // stood still for a while with nothing left to play: stopped earlier, some systems drop
    // what they still hold.
    std::uint64_t lastClock = 0;
    ULONGLONG clockStoodSince = 0;
    // The clock may run ahead of what the speaker plays by the stream's latency (wine's does):
    // that long again after it passed the end.
    REFERENCE_TIME latency = 0;
    client.GetStreamLatency(&latency);
    const ULONGLONG latencyMs = std::max<ULONGLONG>(ULONGLONG(latency / 10000), kEndGraceMs);
    ULONGLONG passedEndAt = 0;
    const auto allHeard = [&] {
        if (padding != 0)
            return false;
        const ULONGLONG now = GetTickCount64();
        if (clockFrames >= written) {
            passedEndAt = passedEndAt ? passedEndAt : now;
            return now - passedEndAt >= latencyMs;
        }
        if (clockFrames != lastClock || clockStoodSince == 0) {
            lastClock = clockFrames;
            clockStoodSince = now;
        }
        return now - clockStoodSince > kClockStillMs;
    };
    const auto stopWith = [&](HRESULT hr, const char* what) {
        c.fail(failed(QString::fromLatin1(what), hr));
    };

    HRESULT hr = feed();
    if (FAILED(hr))
        return stopWith(hr, "cannot start playback");
    if (FAILED(hr = client.Start()))
        return stopWith(hr, "cannot start playback");
    bool running = true;
    const HANDLE waits[2] = {c.wake.get(), audio.get()};
    while (!c.stopping) {
        const bool drained = s.drained.load();
        const DWORD woke =
            WaitForMultipleObjects(2, waits, FALSE, running && !drained ? kStallMs : INFINITE);
        if (c.stopping)
            break;
        if (woke == WAIT_OBJECT_0) {
            const int command = c.command.exchange(Control::kNone);
            hr = S_OK;
            if (command == Control::kPause && running && !drained) {
                hr = client.Stop();
                running = false;
                noteHeard();
            } else if (command == Control::kResume && !running && !drained) {
                hr = client.Start();
                running = true;
            }
            c.answered.set();
            if (FAILED(hr))
                return stopWith(hr, command == Control::kPause ? "cannot pause" : "cannot resume");
            continue;
        }
        if (woke == WAIT_TIMEOUT)
            return c.fail(Error({}, QStringLiteral("the sound device stopped playing")));
        if (woke != WAIT_OBJECT_0 + 1)
            return c.fail(Error({}, windowsErrorText(GetLastError())));
        if (FAILED(hr = feed()))
            return c.fail(Error({}, resultText(hr))); // the player says what stopped
        noteHeard();
        if (ended && allHeard()) {
            s.heard.store(written);
            s.drained.store(true);
            client.Stop();
            running = false;
            tellEnd();
        }
    }
    client.Stop();
}

// Blocks of a capture, handed to the PushFn: silence where the device says so or where a
// loopback had nothing to record, the input's level applied where it is ours, narrowed to 8 bits
// where the stream's samples are. The device's samples are 16-bit (deviceFormat).
class Delivery {
public:
    Delivery(const PcmFormat& f, UINT32 bufferFrames, PushFn& push, std::atomic<int>* gain)
        : channels_(f.channels), eightBit_(f.bitsPerSample == 8), push_(push), gain_(gain),
          scratch_(std::size_t(bufferFrames) * f.bytesPerFrame()),
          silence_(scratch_.size(), eightBit_ ? BYTE(0x80) : BYTE(0)) {}

    std::uint64_t delivered() const { return delivered_; }

    void silence(std::uint64_t frames) {
        delivered_ += frames;
        for (std::uint64_t left = frames * outFrameBytes(); left > 0 && delivering_;) {
            const std::size_t n = std::min<std::uint64_t>(left, silence_.size());
            hand(silence_.data(), n);
            left -= n;
        }
    }

    // `frames` frames of the device's 16-bit samples.
    void sound(const BYTE* data, UINT32 frames) {
        const int gain = gain_ ? gain_->load(std::memory_order_relaxed) : 100;
        if (gain == 100 && !eightBit_) {
            delivered_ += frames;
            hand(data, std::size_t(frames) * outFrameBytes());
            return;
        }
        // The scratch holds a whole device buffer, the most a packet can be.
        frames = UINT32(std::min<std::size_t>(frames, scratch_.size() / outFrameBytes()));
        delivered_ += frames;
        const std::size_t samples = std::size_t(frames) * channels_;
        for (std::size_t i = 0; i < samples; ++i) {
            std::int16_t v;
            std::memcpy(&v, data + 2 * i, 2);
            v = std::int16_t(std::clamp(int(v) * gain / 100, -32768, 32767));
            if (eightBit_)
                scratch_[i] = BYTE((v >> 8) + 128);
            else
                std::memcpy(scratch_.data() + 2 * i, &v, 2);
        }
        hand(scratch_.data(), std::size_t(frames) * outFrameBytes());
    }

private:
    std::size_t outFrameBytes() const { return std::size_t(channels_) * (eightBit_ ? 1 : 2); }
    void hand(const void* data, std::size_t bytes) {
        if (delivering_ && bytes > 0 && !push_(data, bytes))
            delivering_ = false;
    }

    const std::uint16_t channels_;
    const bool eightBit_;
    PushFn& push_;
    std::atomic<int>* gain_;
    std::vector<BYTE> scratch_;
    const std::vector<BYTE> silence_;
    std::uint64_t delivered_ = 0;
    bool delivering_ = true;
};

// The system's performance counter in 100-ns units, as WASAPI stamps captured packets.
std::uint64_t now100ns() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return std::uint64_t(double(count.QuadPart) * 1e7 / double(frequency.QuadPart));
}

// The device thread of a capture stream.
void runCapture(Control& c, const QString& id, bool loopback, const PcmFormat& f, PushFn& push,
                std::atomic<int>* gain) {
    const QString doing = QStringLiteral("cannot record");
    ComScope com;
    if (!com.usable())
        return c.fail(failed(doing, com.result()));
    Event audio;
    auto open =
        openClient(id, loopback ? eRender : eCapture, loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0,
                   deviceFormat(f), loopback ? nullptr : audio.get(), doing);
    if (!open)
        return c.fail(open.error());
    IAudioClient& client = *open->client.get();
    auto capture = service<IAudioCaptureClient>(client, doing);
    if (!capture)
        return c.fail(capture.error());
    Delivery delivery(f, open->bufferFrames, push, gain);
    if (!c.setUp())
        return;

    if (const HRESULT hr = client.Start(); FAILED(hr))
        return c.fail(failed(doing, hr));
    const std::uint64_t started = now100ns();
    ULONGLONG lastPacket = GetTickCount64();
    // Takes every packet the device holds.
    const auto drain = [&]() -> HRESULT {
        for (;;) {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            UINT64 stamp = 0;
            HRESULT hr = (*capture)->GetBuffer(&data, &frames, &flags, nullptr, &stamp);
            if (FAILED(hr) || hr == AUDCLNT_S_BUFFER_EMPTY)
                return hr;
            lastPacket = GetTickCount64();
            // A loopback records nothing while nothing plays: the time it skipped becomes
            // silence, so that the take keeps the length of the clock.
            if (loopback && stamp > started) {
                const auto due = std::uint64_t(double(stamp - started) * f.sampleRate / 1e7);
                if (due > delivery.delivered() + f.sampleRate / 20)
                    delivery.silence(due - delivery.delivered());
            }
            if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
                delivery.silence(frames);
            else
                delivery.sound(data, frames);
            if (FAILED(hr = (*capture)->ReleaseBuffer(frames)))
                return hr;
        }
    };
    const HANDLE waits[2] = {c.wake.get(), audio.get()};
    while (!c.stopping) {
        const DWORD woke = WaitForMultipleObjects(loopback ? 1 : 2, waits, FALSE,
                                                  loopback ? kLoopbackPollMs : kStallMs);
        if (c.stopping)
            break;
        if (woke == WAIT_OBJECT_0) {
            c.command.exchange(Control::kNone); // a capture takes no commands
            c.answered.set();
            continue;
        }
        if (woke == WAIT_FAILED)
            return c.fail(Error({}, windowsErrorText(GetLastError())));
        if (const HRESULT hr = drain(); FAILED(hr))
            return c.fail(Error({}, resultText(hr))); // the recorder says what stopped
        if (!loopback && GetTickCount64() - lastPacket > kStallMs)
            return c.fail(
                Error({}, QStringLiteral("the recording device stopped delivering sound")));
    }
    client.Stop();
}

} // namespace

Status StreamThread::awaitSetUp() {
    if (WaitForSingleObject(control_->answered.get(), kSetUpMs) != WAIT_OBJECT_0) {
        auto expected = Control::Stage::Starting;
        if (control_->stage.compare_exchange_strong(expected, Control::Stage::Abandoned)) {
            // Stuck in the system: let it go; it will not call back (Control::setUp).
            thread_.detach();
            return Error({}, QStringLiteral("the sound device did not answer"));
        }
    }
    Status status = control_->status();
    if (!status)
        finish();
    return status;
}

void StreamThread::ask(Control::Command command) {
    if (!thread_.joinable() || control_->failed.load())
        return;
    control_->command.store(command);
    control_->wake.set();
    const HANDLE done[2] = {control_->answered.get(), control_->ended.get()};
    WaitForMultipleObjects(2, done, FALSE, kCommandMs);
}

void StreamThread::finish() {
    if (!thread_.joinable())
        return;
    control_->stopping.store(true);
    control_->wake.set();
    if (WaitForSingleObject(control_->ended.get(), kEndMs) == WAIT_OBJECT_0)
        thread_.join();
    else
        thread_.detach(); // stuck in the system; it never calls back once `stopping` is set
}

WasapiPlayback::WasapiPlayback(const PcmFormat& format, PullFn pull, EndFn ended)
    : format_(format), pull_(std::move(pull)), ended_(std::move(ended)),
      state_(std::make_shared<State>()) {}

Status WasapiPlayback::start() {
    return thread_.start([format = format_, pull = std::move(pull_), ended = std::move(ended_),
                          state = state_](Control& c) mutable {
        EndNotice tellEnd(std::move(ended));
        runPlayback(c, format, pull, *state, tellEnd);
        // A failure has ended the thread: told unless the stream is being let go.
        if (c.failed.load() && !c.stopping.load())
            tellEnd();
    });
}

WasapiCapture::WasapiCapture(QString endpointId, bool loopback, const PcmFormat& format,
                             PushFn push, std::shared_ptr<std::atomic<int>> gain)
    : endpointId_(std::move(endpointId)), loopback_(loopback), format_(format),
      push_(std::move(push)), gain_(std::move(gain)) {}

Status WasapiCapture::start() {
    return thread_.start([id = endpointId_, loopback = loopback_, format = format_,
                          push = std::move(push_), gain = gain_](Control& c) mutable {
        runCapture(c, id, loopback, format, push, gain.get());
    });
}

} // namespace quaverly::audio::wasapi
