#pragma once
// Recording from the sound device: its inputs (the sound server's sources, monitors of outputs
// included), the one recorded from, their levels, and captures of 16-bit PCM.
//
// Inputs are numbered from 0 in the server's order when the device opens. A number stays with its
// source while the device lives: a source is known by the server's stable name, sources that
// appear later are appended, and one that goes away keeps its number (and its description) and
// cannot be chosen, set or recorded from until it is back. Every operation lists the sources
// again, so it never addresses a source by a position the server has since changed.
//
// Choosing an input only decides what the next capture records from; the server's default source
// and every other input stay as they are. At open the chosen input is the server's default source
// (none when the server has none).
//
// Levels are lent, not kept: the first setLevel() of an input reads its level on the server, and
// that level is set back once the input is left (another one is chosen) and, for every input
// still set, when the device goes. So only the input recorded from carries a level of ours, and
// coming back to one shows its own level again until it is set anew. Setting back is quiet and
// best effort: an input that is gone is skipped (and set back should it return while the device
// lives), one whose level something else has changed since keeps that level, and a server that
// refuses or does not answer is given up on (after its time-outs), never waited on for longer.
//
// Threads: a CaptureDevice is used from one control thread at a time. A Capture's BlockFn runs on
// the sound device's thread (see AudioBackend.h: no blocking, no allocation in steady state, no
// widgets, no call back into the device); a Capture is stopped and destroyed on a control thread.

#include "engines/audio/AudioBackend.h"
#include "engines/util/Error.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace quaverly::audio {

// What the recorder shows as an input's kind: "Microphone", "Line-in", "Wave/PCM" (a monitor of
// an output), "Digital", "Analog", "Aux", or "Unknown" when the kind is not known.
QString inputKindText(SourceKind kind);

struct RecordingInput {
    QString description;
    SourceKind kind = SourceKind::Unknown;
    int level = 100;     // 0-100: the source's volume (100 = normal; louder ones read 100)
    bool chosen = false; // the input recorded from
    bool present = true; // false: it has left the server (kind and level are as last seen)
};

// A running capture: 16-bit blocks handed to its BlockFn on the device thread, until stop(), its
// destruction, the BlockFn returning false, or a failure of the device.
class Capture {
public:
    // Receives each block; returns false to stop delivering.
    using BlockFn = PushFn;

    ~Capture() { stream_->stop(); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // No BlockFn call follows once this returns.
    void stop() { stream_->stop(); }
    // The failure of the device that stopped the deliveries (the source or the server went
    // away; code sound::kDriver); success while it works.
    Status failure() const;

private:
    friend class CaptureDevice;
    explicit Capture(std::unique_ptr<CaptureStream> stream) : stream_(std::move(stream)) {}

    std::unique_ptr<CaptureStream> stream_;
};

class CaptureDevice {
public:
    // Opens the recording side of `backend` and numbers its inputs. Fails (sound::kDriver, with
    // the back end's reason) when there is no device or its inputs cannot be listed.
    static Result<CaptureDevice> open(std::shared_ptr<AudioBackend> backend = defaultBackend());

    // Sets back the levels this device set. One moved from sets back nothing.
    ~CaptureDevice();
    CaptureDevice(CaptureDevice&& other) noexcept;
    CaptureDevice& operator=(CaptureDevice&& other) noexcept;
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    const std::shared_ptr<AudioBackend>& backend() const { return backend_; }

    // Every input by its number, gone ones included (sound::kDriver when the server cannot list
    // them).
    Result<std::vector<RecordingInput>> inputs();
    // One input; sound::kIllParam when there is no such number.
    Result<RecordingInput> input(int number);
    // The input recorded from; -1 when none is chosen.
    int chosen() const { return chosen_; }

    // Makes `number` the input the next capture records from and sets every other input this
    // device set back to its own level. Fails for a number that is not an input
    // (sound::kIllParam) or an input that is gone (sound::kNotAvail); then nothing changes.
    Status choose(int number);
    // Sets the input's level, 0-100 (sound::kIllParam otherwise), until it is set back (see
    // above); sound::kDriver when the server refuses it.
    Status setLevel(int number, int percent);
    // Records 16-bit PCM at `sampleRate` and `channels` (1-8) from the chosen input; `onBlock`
    // may be called before this returns. Fails with sound::kIllParam (no BlockFn),
    // sound::kFormat (a rate or channel count that cannot be recorded), sound::kNotAvail (no
    // input chosen, or it is gone) or sound::kStart (the device refused, with its reason).
    Result<std::unique_ptr<Capture>> start(std::uint32_t sampleRate, std::uint16_t channels,
                                           Capture::BlockFn onBlock);

private:
    // One input: a source known by its server name.
    struct Entry {
        QString name;
        RecordingInput info;
        int backendIndex = -1; // in the back end's last listing; -1 while it is gone
        int volume = 100;      // the server's level as last listed (may be above 100)
        int original = -1;     // its level before this device set one; -1: not set by us
        int ours = -1;         // the level this device set last
    };

    explicit CaptureDevice(std::shared_ptr<AudioBackend> backend) : backend_(std::move(backend)) {}
    // Brings the entries up to date with the back end's sources.
    Status refresh();
    // The entry of `number` after a refresh; with `present`, only one that is there now.
    Result<Entry*> entry(int number, bool present);
    // Sets every input but `keep` that carries a level of ours back to its own, as the last
    // refresh found them.
    void restoreLevels(int keep);
    // Sets back every level of ours; what the device does as it goes.
    void restoreAll();

    std::shared_ptr<AudioBackend> backend_;
    std::vector<Entry> entries_;
    int chosen_ = -1;
};

} // namespace quaverly::audio
