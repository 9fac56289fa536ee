#pragma once
// Inside of the sound layer: the per-thread error, the Channel interface that every kind of
// channel implements, and the table of channels that the layer owns.
//
// How a new kind of channel plugs in:
//  1. Derive from Channel and override what the kind supports. info(), isActive() and
//     position() are required; the other calls have defaults that fail with a fitting error
//     code (a decoding channel cannot be played, ...).
//  2. Create it in the public function that makes it and hand it to
//     layer().table.add(channel, Owner::Output); its channels go with BASS_Free. add() returns
//     the handle for the caller.
//  3. The public BASS_Channel* functions look the handle up and call the channel with its
//     mutex() held, so a channel's overrides never run concurrently with each other. A channel
//     with a thread of its own protects the state it shares with that thread itself, and stops
//     that thread in release(), in stop() where the kind says so, and in its destructor: the
//     table destroys channels outside its lock. The release calls (BASS_StreamFree, BASS_Free)
//     call release() with the mutex held before they return, so nothing of a freed channel runs
//     afterwards even while a call on another thread still holds the channel; later calls on it
//     then fail.
//  4. Report failures with setError(code, text) and return the call's failure value; the
//     public function has cleared the error before calling, so success needs nothing.
// Device state (BASS_Init) lives in Layer.

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
    // True when the source switches between mono and stereo (see channelsChangeInSource).
    virtual bool channelsChange() const { return false; }
    virtual DWORD isActive() const = 0;
    // Bytes of PCM delivered so far.
    virtual QWORD position() const = 0;

    // Defaults: the kind does not support the call.
    virtual DWORD getData(void* buffer, DWORD length); // BASS_ERROR_NOTAVAIL, 0xFFFFFFFF
    virtual QWORD length() const;                      // BASS_ERROR_NOTAVAIL, 0xFFFFFFFF...
    virtual bool setPosition(QWORD position);          // BASS_ERROR_NOTAVAIL
    virtual bool play(bool restart);                   // BASS_ERROR_NOTAVAIL
    virtual bool stop();                               // BASS_ERROR_NOTAVAIL
    // True for streams (BASS_StreamFree accepts them).
    virtual bool isStream() const { return true; }
    // Stops for good whatever of the channel runs on another thread (its device callback): no
    // callback follows once this returns. Called with mutex() held by the release calls.
    virtual void release() {}

    std::mutex& mutex() { return mutex_; }

private:
    std::mutex mutex_;
};

enum class Owner { Output };

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

// The layer's process-wide state.
struct Layer {
    ChannelTable table;

    std::mutex deviceMutex; // guards the output fields below
    bool outputInitialised = false;
    int outputDevice = 0;     // valid while outputInitialised; 0 is the decoding-only device
    DWORD updatePeriod = 100; // BASS_CONFIG_UPDATEPERIOD, ms (0 = no automatic updates)
};

Layer& layer();

// True while BASS_Init has succeeded and BASS_Free has not been called since.
bool outputInitialised();

} // namespace quaverly::bass::detail
