#pragma once
// Inside of the virtual sound device (included only by engines/audio): the device thread with its
// clock, and what it knows of each open stream. VirtualBackend.h describes what it does.
//
// Threads: the device thread runs tickLocked() with the device's lock held; every other member
// is called on a control thread, and those that touch the stream lists or the fields marked
// "guarded" take the lock (or are called with it held: the *Locked ones).

#include "engines/audio/AudioBackend.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace quaverly::audio {

struct VirtualSourceSpec {
    const char* name;
    const char* description;
    SourceKind kind;
};
// In the order of VirtualBackend::kMicrophone, kLineIn, kMonitor.
inline constexpr VirtualSourceSpec kVirtualSources[] = {
    {"virtual.microphone", "Virtual microphone", SourceKind::Microphone},
    {"virtual.line-in", "Virtual line-in", SourceKind::LineIn},
    {"virtual.monitor", "Monitor of the virtual output", SourceKind::Monitor},
};
inline constexpr int kVirtualSourceCount = static_cast<int>(std::size(kVirtualSources));

// What the device thread knows of one playback stream.
struct VirtualPlaybackState {
    VirtualPlaybackState(const PcmFormat& format, PullFn pull, EndFn ended);

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
    EndNotice tellEnd; // once `ended` is set
};

// What the device thread knows of one capture stream.
struct VirtualCaptureState {
    VirtualCaptureState(int source, const PcmFormat& format, PushFn push);

    int source = 0;
    PcmFormat format;
    std::size_t frameBytes = 0;
    PushFn push;
    std::vector<std::uint8_t> buffer; // one period
    std::vector<int> mix;             // one period of the monitor, before clipping
    std::uint64_t signalFrame = 0;    // device thread
    bool delivering = true;           // guarded by the device lock
    QString error;                    // guarded by the device lock
};

class VirtualDevice {
public:
    explicit VirtualDevice(double speed) : speed_(speed) {}
    // Stops the device thread.
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // A stream takes part in the periods from add() until remove() returns.
    void add(VirtualPlaybackState* p);
    void add(VirtualCaptureState* c);
    void remove(VirtualPlaybackState* p);
    void remove(VirtualCaptureState* c);
    void setPaused(VirtualPlaybackState* p, bool paused);

    std::mutex& mutex() const { return mutex_; }
    double speed() const { return speed_; }
    int openStreamsLocked() const { return static_cast<int>(playbacks_.size() + captures_.size()); }
    // Makes every open stream fail with `reason`.
    void failAllLocked(const QString& reason);

    // Guarded by mutex().
    int volumes[kVirtualSourceCount] = {100, 100, 100};
    int defaultSource = 0; // VirtualBackend::kMicrophone
    QString failure;
    std::vector<std::uint8_t> played;
    std::uint64_t playedCount = 0;

    std::atomic<std::uint64_t> periods{0};

private:
    void startLocked();
    bool busyLocked() const;
    void run(); // the device thread
    void tickLocked(std::uint64_t period);
    void logPlayedLocked(const std::uint8_t* data, std::size_t bytes);
    void fillCaptureLocked(VirtualCaptureState& c, std::uint32_t frames);
    void mixMonitorLocked(VirtualCaptureState& c, std::uint32_t frames);

    const double speed_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool quit_ = false;
    std::vector<VirtualPlaybackState*> playbacks_;
    std::vector<VirtualCaptureState*> captures_;
};

} // namespace quaverly::audio
