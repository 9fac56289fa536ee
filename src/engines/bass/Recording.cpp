// The capture side of the layer: starting and releasing the recording device, its inputs (the
// sound server's sources, known by name so that their numbers stay put), and recordings.

#include "engines/bass/Bass.h"

#include "engines/audio/AudioBackend.h"
#include "engines/bass/BassInternal.h"
#include "engines/bass/RecordChannel.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace quaverly::bass {
namespace detail {
namespace {

// The text BASS_RecordGetInputName hands out on this thread.
thread_local std::string tlsInputName;

DWORD typeOf(audio::SourceKind kind) {
    switch (kind) {
    case audio::SourceKind::Microphone:
        return BASS_INPUT_TYPE_MIC;
    case audio::SourceKind::LineIn:
        return BASS_INPUT_TYPE_LINE;
    case audio::SourceKind::Monitor:
        return BASS_INPUT_TYPE_WAVE;
    case audio::SourceKind::Digital:
        return BASS_INPUT_TYPE_DIGITAL;
    case audio::SourceKind::Analog:
        return BASS_INPUT_TYPE_ANALOG;
    case audio::SourceKind::Aux:
        return BASS_INPUT_TYPE_AUX;
    case audio::SourceKind::Unknown:
        break;
    }
    return BASS_INPUT_TYPE_UNDEF;
}

// Brings the inputs up to date with the back end's sources: a known name takes its new index,
// a new one is appended, one no longer listed is marked gone (it keeps its number and comes back
// to it should it reappear). False with BASS_ERROR_DRIVER when the sources cannot be listed.
bool refreshInputs(RecordDevice& rec) {
    QString why;
    const std::vector<audio::SourceInfo> sources = rec.backend->sources(&why);
    if (sources.empty() && !why.isEmpty()) {
        setError(BASS_ERROR_DRIVER, "cannot list the recording inputs: " + why.toStdString());
        return false;
    }
    for (InputEntry& e : rec.inputs)
        e.backendIndex = -1;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const audio::SourceInfo& s = sources[i];
        auto it = std::find_if(rec.inputs.begin(), rec.inputs.end(),
                               [&](const InputEntry& e) { return e.name == s.name; });
        if (it == rec.inputs.end()) {
            rec.inputs.push_back(InputEntry{s.name, {}, {}, 100, -1});
            it = rec.inputs.end() - 1;
        }
        it->description = s.description.toStdString();
        it->kind = s.kind;
        it->volumePercent = s.volumePercent;
        it->backendIndex = static_cast<int>(i);
    }
    return true;
}

// Input `input` after a refresh; null with the error set when there is no such input.
InputEntry* inputAt(RecordDevice& rec, int input) {
    if (!rec.initialised) {
        setError(BASS_ERROR_INIT, "the recording device is not started (BASS_RecordInit)");
        return nullptr;
    }
    if (input < 0) {
        setError(BASS_ERROR_ILLPARAM,
                 "input " + std::to_string(input) + ": inputs are numbered from 0");
        return nullptr;
    }
    if (!refreshInputs(rec))
        return nullptr;
    if (static_cast<std::size_t>(input) >= rec.inputs.size()) {
        setError(BASS_ERROR_ILLPARAM, "there is no input " + std::to_string(input) + " (" +
                                          std::to_string(rec.inputs.size()) + " inputs)");
        return nullptr;
    }
    return &rec.inputs[static_cast<std::size_t>(input)];
}

// inputAt() for an input that must be there now.
InputEntry* presentInputAt(RecordDevice& rec, int input) {
    InputEntry* e = inputAt(rec, input);
    if (e && e->backendIndex < 0) {
        setError(BASS_ERROR_NOTAVAIL, "input " + std::to_string(input) + " (" + e->description +
                                          ") is no longer on the sound server");
        return nullptr;
    }
    return e;
}

} // namespace
} // namespace detail

using namespace detail;

BOOL BASS_RecordInit(int device) {
    clearError();
    if (device != -1) {
        setError(BASS_ERROR_DEVICE, "recording device " + std::to_string(device) +
                                        " is not available; only -1 (the sound server) is");
        return 0;
    }
    Layer& l = layer();
    std::lock_guard lock(l.recordMutex);
    if (l.record.initialised) {
        setError(BASS_ERROR_ALREADY, "the recording device is already started");
        return 0;
    }
    RecordDevice rec;
    rec.backend = deviceBackend();
    QString why;
    if (!rec.backend->available(&why)) {
        setError(BASS_ERROR_DRIVER, why.toStdString());
        return 0;
    }
    if (!refreshInputs(rec))
        return 0;
    // The inputs are still in the server's order here, so its default source's index is our
    // input number.
    const int defaultSource = rec.backend->defaultSource(&why);
    if (defaultSource < 0 && !why.isEmpty()) {
        setError(BASS_ERROR_DRIVER, "cannot find the default input: " + why.toStdString());
        return 0;
    }
    rec.selected = defaultSource < static_cast<int>(rec.inputs.size()) ? defaultSource : -1;
    rec.initialised = true;
    l.record = std::move(rec);
    return 1;
}

BOOL BASS_RecordFree() {
    clearError();
    Layer& l = layer();
    std::lock_guard lock(l.recordMutex);
    if (!l.record.initialised) {
        setError(BASS_ERROR_INIT, "the recording device is not started");
        return 0;
    }
    auto recordings = l.table.takeAll(Owner::Recording);
    releaseChannels(recordings);
    l.record = RecordDevice{};
    return 1;
}

const char* BASS_RecordGetInputName(int input) {
    clearError();
    Layer& l = layer();
    std::lock_guard lock(l.recordMutex);
    const InputEntry* e = inputAt(l.record, input);
    if (!e)
        return nullptr;
    tlsInputName = e->description;
    return tlsInputName.c_str();
}

DWORD BASS_RecordGetInput(int input) {
    clearError();
    Layer& l = layer();
    std::lock_guard lock(l.recordMutex);
    const InputEntry* e = presentInputAt(l.record, input);
    if (!e)
        return 0xFFFFFFFFu;
    DWORD value = static_cast<DWORD>(std::clamp(e->volumePercent, 0, 100)) | typeOf(e->kind);
    if (input != l.record.selected)
        value |= BASS_INPUT_OFF;
    return value;
}

BOOL BASS_RecordSetInput(int input, DWORD setting) {
    clearError();
    Layer& l = layer();
    std::lock_guard lock(l.recordMutex);
    InputEntry* e = presentInputAt(l.record, input);
    if (!e)
        return 0;
    const DWORD flags = setting & 0xFFFF0000u;
    const DWORD level = setting & 0xFFFFu;
    if ((flags & ~(BASS_INPUT_OFF | BASS_INPUT_ON | BASS_INPUT_LEVEL)) != 0 || flags == 0 ||
        ((flags & BASS_INPUT_OFF) && (flags & BASS_INPUT_ON)) ||
        (!(flags & BASS_INPUT_LEVEL) && level != 0)) {
        setError(BASS_ERROR_ILLPARAM, "setting " + std::to_string(setting) +
                                          ": give BASS_INPUT_ON, BASS_INPUT_OFF and/or "
                                          "BASS_INPUT_LEVEL with a level");
        return 0;
    }
    if (flags & BASS_INPUT_LEVEL) {
        if (level > 100) {
            setError(BASS_ERROR_ILLPARAM,
                     "level " + std::to_string(level) + " is outside 0 to 100");
            return 0;
        }
        QString why;
        if (!l.record.backend->setSourceVolume(e->backendIndex, static_cast<int>(level), &why)) {
            setError(BASS_ERROR_DRIVER, why.toStdString());
            return 0;
        }
        e->volumePercent = static_cast<int>(level);
    }
    // Choosing an input only decides what the next recording records from; the server's
    // default source and every other input stay as they are.
    if (flags & BASS_INPUT_ON)
        l.record.selected = input;
    return 1;
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user) {
    clearError();
    Layer& l = layer();
    // Held throughout, so that BASS_RecordFree cannot run between the start and the handle's
    // entry in the table.
    std::lock_guard lock(l.recordMutex);
    RecordDevice& rec = l.record;
    if (!rec.initialised) {
        setError(BASS_ERROR_INIT, "the recording device is not started (BASS_RecordInit)");
        return 0;
    }
    if (!proc) {
        setError(BASS_ERROR_ILLPARAM, "no RECORDPROC to hand the recording to");
        return 0;
    }
    if (flags != 0) {
        setError(BASS_ERROR_ILLPARAM,
                 "recording flags " + std::to_string(flags) + " are not supported (16-bit PCM)");
        return 0;
    }
    audio::PcmFormat format;
    format.sampleRate = freq;
    format.channels = static_cast<std::uint16_t>(std::min<DWORD>(chans, 0xFFFFu));
    format.bitsPerSample = 16;
    QString why;
    if (!audio::isSupportedFormat(format, &why)) {
        setError(BASS_ERROR_FORMAT, why.toStdString());
        return 0;
    }
    if (rec.selected < 0) {
        setError(BASS_ERROR_NOTAVAIL, "no input is on: choose one with BASS_RecordSetInput(input, "
                                      "BASS_INPUT_ON)");
        return 0;
    }
    const InputEntry* e = presentInputAt(rec, rec.selected);
    if (!e)
        return 0;
    auto channel = std::make_shared<RecordChannel>(format, proc, user);
    std::lock_guard channelLock(channel->mutex());
    const DWORD handle = l.table.add(channel, Owner::Recording);
    if (handle == 0)
        return 0;
    if (!channel->start(*rec.backend, e->backendIndex, handle)) {
        l.table.take(handle);
        return 0;
    }
    return handle;
}

} // namespace quaverly::bass
