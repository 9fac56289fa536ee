// The layer core: the per-thread error, the channel table, device start and release, and the
// public functions that look a handle up and hand the call to its channel.

#include "engines/bass/Bass.h"

#include "engines/audio/AudioBackend.h"
#include "engines/bass/BassInternal.h"
#include "engines/bass/MemoryStream.h"

#include <QString>

#include <utility>

namespace quaverly::bass {
namespace detail {
namespace {

thread_local int tlsErrorCode = BASS_OK;
thread_local std::string tlsErrorText;

} // namespace

void setError(int code, std::string text) {
    tlsErrorCode = code;
    tlsErrorText = std::move(text);
}

void clearError() {
    tlsErrorCode = BASS_OK;
    tlsErrorText.clear();
}

QWORD Channel::length() const {
    setError(BASS_ERROR_NOTAVAIL, "this channel has no length");
    return ~QWORD{0};
}

bool Channel::setPosition(QWORD) {
    setError(BASS_ERROR_NOTAVAIL, "this channel cannot change its position");
    return false;
}

bool Channel::play(bool) {
    setError(BASS_ERROR_NOTAVAIL, "this channel cannot be played");
    return false;
}

bool Channel::stop() {
    setError(BASS_ERROR_NOTAVAIL, "this channel cannot be stopped");
    return false;
}

DWORD ChannelTable::add(std::shared_ptr<Channel> channel, Owner owner) {
    std::lock_guard lock(mutex_);
    if (entries_.size() >= 0xFFFFFFFEu) {
        setError(BASS_ERROR_NOCHAN, "no free channel handle");
        return 0;
    }
    while (next_ == 0 || entries_.count(next_))
        ++next_;
    const DWORD handle = next_++;
    entries_.emplace(handle, Entry{std::move(channel), owner});
    return handle;
}

std::shared_ptr<Channel> ChannelTable::find(DWORD handle) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(handle);
    return it == entries_.end() ? nullptr : it->second.channel;
}

std::shared_ptr<Channel> ChannelTable::take(DWORD handle) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(handle);
    if (it == entries_.end())
        return nullptr;
    auto channel = std::move(it->second.channel);
    entries_.erase(it);
    return channel;
}

std::vector<std::shared_ptr<Channel>> ChannelTable::takeAll(Owner owner) {
    std::vector<std::shared_ptr<Channel>> taken;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.owner == owner) {
            taken.push_back(std::move(it->second.channel));
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

std::size_t ChannelTable::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

Layer& layer() {
    static Layer instance;
    return instance;
}

bool outputInitialised() {
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    return l.outputInitialised;
}

std::shared_ptr<audio::AudioBackend> outputBackend() {
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    return l.outputInitialised ? l.outputBackend : nullptr;
}

std::shared_ptr<audio::AudioBackend> deviceBackend() {
    {
        Layer& l = layer();
        std::lock_guard lock(l.deviceMutex);
        if (l.backendForTesting)
            return l.backendForTesting;
    }
    return audio::defaultBackend();
}

void setDeviceBackendForTesting(std::shared_ptr<audio::AudioBackend> backend) {
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    l.backendForTesting = std::move(backend);
}

void releaseChannels(std::vector<std::shared_ptr<Channel>>& channels) {
    for (const auto& channel : channels) {
        std::lock_guard lock(channel->mutex());
        channel->release();
    }
    // The channels die here unless a call on another thread still holds one; then it dies when
    // that call returns, and has nothing left running.
    channels.clear();
}

namespace {

// Runs fn(channel) with the channel's mutex held, or fails with BASS_ERROR_HANDLE.
template <typename Fn, typename R> R withChannel(DWORD handle, R failure, Fn&& fn) {
    clearError();
    const auto channel = layer().table.find(handle);
    if (!channel) {
        setError(BASS_ERROR_HANDLE, "unknown handle " + std::to_string(handle));
        return failure;
    }
    std::lock_guard lock(channel->mutex());
    return fn(*channel);
}

} // namespace
} // namespace detail

using namespace detail;

BOOL BASS_Init(int device, DWORD, DWORD, void*, void*) {
    clearError();
    if (outputInitialised()) {
        setError(BASS_ERROR_ALREADY, "the sound layer is already started; call BASS_Free first");
        return 0;
    }
    if (device != -1) {
        setError(BASS_ERROR_DEVICE, "device " + std::to_string(device) +
                                        " is not available; only -1 (the sound server) is");
        return 0;
    }
    // Connecting may take a moment (a few seconds at most, for a server that never answers; none
    // when there is no server): done outside the layer's lock.
    std::shared_ptr<audio::AudioBackend> backend = deviceBackend();
    if (QString why; !backend->available(&why)) {
        setError(BASS_ERROR_DRIVER, why.toStdString());
        return 0;
    }
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    if (l.outputInitialised) {
        setError(BASS_ERROR_ALREADY, "the sound layer is already started; call BASS_Free first");
        return 0;
    }
    l.outputBackend = std::move(backend);
    l.outputInitialised = true;
    return 1;
}

BOOL BASS_Free() {
    clearError();
    Layer& l = layer();
    std::vector<std::shared_ptr<Channel>> freed;
    {
        std::lock_guard lock(l.deviceMutex);
        if (!l.outputInitialised) {
            setError(BASS_ERROR_INIT, "the sound layer is not started");
            return 0;
        }
        freed = l.table.takeAll(Owner::Output);
        l.outputInitialised = false;
        l.outputBackend.reset();
    }
    // Outside the device lock: a stream's release may wait for its device.
    releaseChannels(freed);
    return 1;
}

int BASS_ErrorGetCode() {
    return tlsErrorCode;
}

std::string lastErrorText() {
    return tlsErrorText;
}

namespace {

HSTREAM createMemoryStream(const void* image, QWORD offset, QWORD length, DWORD flags) {
    if (!image) {
        setError(BASS_ERROR_ILLPARAM, "no memory image");
        return 0;
    }
    if (offset != 0) {
        setError(BASS_ERROR_ILLPARAM, "memory streams start at the image's first byte (offset 0)");
        return 0;
    }
    if (flags != 0) {
        setError(BASS_ERROR_ILLPARAM, "memory streams take no flags (they play on the device)");
        return 0;
    }
    auto device = outputBackend();
    if (!device) {
        setError(BASS_ERROR_NOTAVAIL,
                 "memory streams play on the sound device: start the layer with BASS_Init(-1)");
        return 0;
    }
    auto stream = MemoryStream::open(image, length, device);
    if (!stream)
        return 0;
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    if (!l.outputInitialised || l.outputBackend != device) {
        setError(BASS_ERROR_INIT, "the sound layer was released meanwhile");
        return 0;
    }
    return l.table.add(std::move(stream), Owner::Output);
}

} // namespace

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    clearError();
    if (!outputInitialised()) {
        setError(BASS_ERROR_INIT, "the sound layer is not started (BASS_Init)");
        return 0;
    }
    if (!mem) {
        setError(BASS_ERROR_ILLPARAM, "only memory streams are made here; files are read by the "
                                      "song reader");
        return 0;
    }
    return createMemoryStream(file, offset, length, flags);
}

BOOL BASS_StreamFree(HSTREAM handle) {
    clearError();
    auto channel = layer().table.find(handle);
    if (!channel || !channel->isStream()) {
        setError(BASS_ERROR_HANDLE, "unknown stream handle " + std::to_string(handle));
        return 0;
    }
    // Released before returning: the caller may free a memory stream's image right after.
    std::vector<std::shared_ptr<Channel>> freed;
    if (auto taken = layer().table.take(handle))
        freed.push_back(std::move(taken));
    releaseChannels(freed);
    return 1;
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    if (!info) {
        clearError();
        setError(BASS_ERROR_ILLPARAM, "no info record");
        return 0;
    }
    return withChannel(handle, BOOL{0}, [&](Channel& c) {
        *info = c.info();
        return BOOL{1};
    });
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    return withChannel(handle, BASS_ACTIVE_STOPPED, [](Channel& c) { return c.isActive(); });
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    return withChannel(handle, ~QWORD{0}, [](Channel& c) { return c.position(); });
}

QWORD BASS_ChannelGetLength(DWORD handle) {
    return withChannel(handle, ~QWORD{0}, [](Channel& c) { return c.length(); });
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD position) {
    return withChannel(handle, BOOL{0},
                       [&](Channel& c) { return BOOL{c.setPosition(position) ? 1 : 0}; });
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    return withChannel(handle, BOOL{0},
                       [&](Channel& c) { return BOOL{c.play(restart != 0) ? 1 : 0}; });
}

BOOL BASS_ChannelStop(DWORD handle) {
    return withChannel(handle, BOOL{0}, [](Channel& c) { return BOOL{c.stop() ? 1 : 0}; });
}

} // namespace quaverly::bass
