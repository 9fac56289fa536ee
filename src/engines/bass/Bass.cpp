// The layer core: the per-thread error, the channel table, device start and release, and the
// public functions that look a handle up and hand the call to its channel.

#include "engines/bass/Bass.h"

#include "engines/bass/BassInternal.h"
#include "engines/bass/FileStream.h"

#include <QFileInfo>
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

DWORD Channel::getData(void*, DWORD) {
    setError(BASS_ERROR_NOTAVAIL, "this channel delivers no data to the caller");
    return 0xFFFFFFFFu;
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

DWORD BASS_GetVersion() {
    clearError();
    return kVersion;
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
    clearError();
    if (option != BASS_CONFIG_UPDATEPERIOD) {
        setError(BASS_ERROR_ILLTYPE, "unknown configuration option " + std::to_string(option));
        return 0;
    }
    if (value != 0 && (value < 5 || value > 100)) {
        setError(BASS_ERROR_ILLPARAM, "update period must be 0 or 5 to 100 ms");
        return 0;
    }
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    l.updatePeriod = value;
    return 1;
}

BOOL BASS_Init(int device, DWORD, DWORD, void*, void*) {
    clearError();
    if (outputInitialised()) {
        setError(BASS_ERROR_ALREADY, "the sound layer is already started; call BASS_Free first");
        return 0;
    }
    if (device != 0) {
        setError(BASS_ERROR_DEVICE,
                 "device " + std::to_string(device) + " is not available; only 0 (decoding) is");
        return 0;
    }
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    if (l.outputInitialised) {
        setError(BASS_ERROR_ALREADY, "the sound layer is already started; call BASS_Free first");
        return 0;
    }
    l.outputDevice = device;
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
    }
    // Outside the device lock: a stream's release may wait.
    releaseChannels(freed);
    return 1;
}

int BASS_ErrorGetCode() {
    return tlsErrorCode;
}

std::string lastErrorText() {
    return tlsErrorText;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    clearError();
    if (!outputInitialised()) {
        setError(BASS_ERROR_INIT, "the sound layer is not started (BASS_Init)");
        return 0;
    }
    if (mem) {
        setError(BASS_ERROR_ILLPARAM, "memory streams are not supported");
        return 0;
    }
    if (!file) {
        setError(BASS_ERROR_ILLPARAM, "no file name");
        return 0;
    }
    if (!(flags & BASS_STREAM_DECODE)) {
        setError(BASS_ERROR_ILLPARAM, "file streams must be decode-only (BASS_STREAM_DECODE)");
        return 0;
    }
    if (offset != 0 || length != 0) {
        setError(BASS_ERROR_ILLPARAM, "file streams always cover the whole file");
        return 0;
    }
    auto stream = FileStream::open(static_cast<const char*>(file));
    if (!stream)
        return 0;
    // Opening takes a while (the whole file is scanned); BASS_Free may have run meanwhile.
    Layer& l = layer();
    std::lock_guard lock(l.deviceMutex);
    if (!l.outputInitialised) {
        setError(BASS_ERROR_INIT, "the sound layer was released meanwhile");
        return 0;
    }
    return l.table.add(std::move(stream), Owner::Output);
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD, DWORD, void*, void*) {
    clearError();
    if (!outputInitialised()) {
        setError(BASS_ERROR_INIT, "the sound layer is not started (BASS_Init)");
        return 0;
    }
    setError(BASS_ERROR_NONET,
             std::string("network streams are not supported: ") + (url ? url : "(null)"));
    return 0;
}

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD, DWORD, DWORD, DWORD) {
    clearError();
    if (!outputInitialised()) {
        setError(BASS_ERROR_INIT, "the sound layer is not started (BASS_Init)");
        return 0;
    }
    // Say why the file cannot be read when that is the reason: the caller reports the last
    // error after this, its last fallback.
    if (!mem && file) {
        const QString path = QString::fromUtf8(static_cast<const char*>(file));
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable()) {
            setError(BASS_ERROR_FILEOPEN,
                     "cannot open " + path.toStdString() + ": no such readable file");
            return 0;
        }
    }
    setError(BASS_ERROR_FILEFORM, "tracker modules are not supported");
    return 0;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    clearError();
    auto channel = layer().table.find(handle);
    if (!channel || !channel->isStream()) {
        setError(BASS_ERROR_HANDLE, "unknown stream handle " + std::to_string(handle));
        return 0;
    }
    // Released before returning: nothing of it runs afterwards.
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

bool channelsChangeInSource(DWORD handle) {
    return withChannel(handle, false, [](Channel& c) { return c.channelsChange(); });
}

BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan) {
    return withChannel(handle, BOOL{0}, [&](Channel& c) {
        if (freq)
            *freq = c.info().freq;
        // No channel has a volume or pan of its own: always full volume, centred.
        if (volume)
            *volume = 100;
        if (pan)
            *pan = 0;
        return BOOL{1};
    });
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    if (!buffer) {
        clearError();
        setError(BASS_ERROR_ILLPARAM, "no buffer");
        return 0xFFFFFFFFu;
    }
    return withChannel(handle, DWORD{0xFFFFFFFFu},
                       [&](Channel& c) { return c.getData(buffer, length); });
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
