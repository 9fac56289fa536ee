#pragma once
// Inside of the sound layer: the per-thread error, the Channel interface that every kind of
// channel implements, and the table of channels that the layer owns.
//
// How a new kind of channel plugs in (a memory stream played on the device, a recording):
//  1. Derive from Channel and override what the kind supports. info(), isActive() and
//     position() are required; the other calls have defaults that fail with a fitting error
//     code (a recording cannot be played, nor has it a length, ...).
//  2. Create it in the public function that makes it (BASS_StreamCreateFile with mem=TRUE,
//     BASS_RecordStart) and hand it to layer().table.add(channel, owner). The owner says which
//     release call frees it: Owner::Output channels go with BASS_Free, Owner::Recording ones
//     with BASS_RecordFree. add() returns the handle for the caller.
//  3. The public BASS_Channel* functions look the handle up and call the channel with its
//     mutex() held, so a channel's overrides never run concurrently with each other. A channel
//     with a thread of its own (the sound server's playback or capture callback) protects the
//     state it shares with that thread itself, and stops that thread in release(), in stop()
//     where the kind says so, and in its destructor: the table destroys channels outside its
//     lock. The release calls (BASS_StreamFree, BASS_Free, BASS_RecordFree) call release() with
//     the mutex held before they return, so nothing of a freed channel runs afterwards even
//     while a call on another thread still holds the channel; later calls on it then fail.
//  4. Report failures with setError(code, text) and return the call's failure value; the
//     public function has cleared the error before calling, so success needs nothing.
// Device state (BASS_Init / BASS_RecordInit) lives in Layer: the output device beside
// outputDevice, the capture device and its inputs in record.

#include "engines/audio/AudioBackend.h"
#include "engines/bass/Bass.h"

#include <QString>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quaverly::bass::detail {

// The calling thread's error: the code BASS_ErrorGetCode() returns and a readable text.
void setError(int code, std::string text = {});
void clearError();

class Channel {
public:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    virtual ~Channel() = default;

    virtual BASS_CHANNELINFO info() const = 0;
    virtual DWORD isActive() const = 0;
    // Bytes of PCM heard (playing) or recorded so far.
    virtual QWORD position() const = 0;

    // Defaults: the kind does not support the call.
    virtual QWORD length() const;             // BASS_ERROR_NOTAVAIL, 0xFFFFFFFF...
    virtual bool setPosition(QWORD position); // BASS_ERROR_NOTAVAIL
    virtual bool play(bool restart);          // BASS_ERROR_NOTAVAIL
    virtual bool stop();                      // BASS_ERROR_NOTAVAIL
    // True for streams (BASS_StreamFree accepts them), false for recordings.
    virtual bool isStream() const { return true; }
    // Stops for good whatever of the channel runs on another thread (its device callback): no
    // callback follows once this returns. Called with mutex() held by the release calls.
    virtual void release() {}

    std::mutex& mutex() { return mutex_; }

private:
    std::mutex mutex_;
};

enum class Owner { Output, Recording };

// Handles of live channels. Handles are never 0 and are not reused until the 32-bit counter
// wraps. Channels are shared so that a call in progress keeps its channel alive while another
// thread frees the handle.
class ChannelTable {
public:
    // 0 (BASS_ERROR_NOCHAN) only if all 2^32-1 handles are in use.
    DWORD add(std::shared_ptr<Channel> channel, Owner owner);
    std::shared_ptr<Channel> find(DWORD handle) const;
    // Removes and returns the channel; null when the handle is unknown.
    std::shared_ptr<Channel> take(DWORD handle);
    // Removes and returns every channel of that owner.
    std::vector<std::shared_ptr<Channel>> takeAll(Owner owner);
    std::size_t size() const;

private:
    struct Entry {
        std::shared_ptr<Channel> channel;
        Owner owner;
    };
    mutable std::mutex mutex_;
    std::unordered_map<DWORD, Entry> entries_;
    DWORD next_ = 1;
};

// Locks each channel and releases it (Channel::release()), then drops them; for the release
// calls, outside every lock of the layer.
void releaseChannels(std::vector<std::shared_ptr<Channel>>& channels);

// One recording input: a source of the sound server, known by its name. The layer's input
// numbers index a list of these that only grows between BASS_RecordInit and BASS_RecordFree, so
// an input keeps its number while the server's own order shifts.
struct InputEntry {
    QString name;            // the server's name of the source
    std::string description; // UTF-8, what BASS_RecordGetInputName returns
    audio::SourceKind kind = audio::SourceKind::Unknown;
    int volumePercent = 100;
    int backendIndex = -1; // its index in the back end's last listing; -1 while it is gone
};

// The capture side, between BASS_RecordInit and BASS_RecordFree.
struct RecordDevice {
    bool initialised = false;
    std::shared_ptr<audio::AudioBackend> backend;
    std::vector<InputEntry> inputs;
    int selected = -1; // the input recorded from; -1 when none is on
};

// The layer's process-wide state.
struct Layer {
    ChannelTable table;

    std::mutex deviceMutex; // guards the output fields below
    bool outputInitialised = false;
    // The sound device of BASS_Init(-1), where memory streams play.
    std::shared_ptr<audio::AudioBackend> outputBackend;
    std::shared_ptr<audio::AudioBackend> backendForTesting; // see setDeviceBackendForTesting

    // Guards record. Taken before any channel's mutex, never while deviceMutex is held; held
    // across the back end's requests, which only the recording calls wait for.
    std::mutex recordMutex;
    RecordDevice record;
};

Layer& layer();

// True while BASS_Init has succeeded and BASS_Free has not been called since.
bool outputInitialised();
// The device memory streams play on: null unless BASS_Init(-1) is in force.
std::shared_ptr<audio::AudioBackend> outputBackend();

// The sound device back end that BASS_Init(-1) and BASS_RecordInit take: audio::defaultBackend(),
// unless a test has put another in its place.
std::shared_ptr<audio::AudioBackend> deviceBackend();
// For tests of what the back ends cannot show (sources that come and go): the next BASS_Init(-1)
// and BASS_RecordInit take `backend`; null restores audio::defaultBackend().
void setDeviceBackendForTesting(std::shared_ptr<audio::AudioBackend> backend);

} // namespace quaverly::bass::detail
