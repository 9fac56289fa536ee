#include "engines/audio/WasapiBackend.h"

#include "engines/audio/internal/WasapiCom.h"
#include "engines/audio/internal/WasapiStream.h"

#include <endpointvolume.h>

#include <cmath>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace quaverly::audio {

namespace wasapi {
// One input as sources() lists it, with the endpoint it records from.
struct Input {
    QString endpointId;
    bool loopback = false;
    SourceInfo info;
};
} // namespace wasapi

using wasapi::ComPtr;
using wasapi::ComScope;
using wasapi::failed;
using wasapi::Input;

namespace {

// PKEY_Device_FriendlyName and PKEY_AudioEndpoint_FormFactor, spelt out: the headers define them
// only in the one file of a program that asks for every GUID.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
constexpr PROPERTYKEY kFormFactor = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 0};

const QString kLoopback = QStringLiteral("loopback:");

// A property's value, cleared when it goes.
struct Property {
    Property() { PropVariantInit(&value); }
    ~Property() { PropVariantClear(&value); }
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    PROPVARIANT value;
};

SourceKind kindOf(UINT formFactor) {
    switch (formFactor) {
    case Microphone:
    case Headset:
    case Handset:
        return SourceKind::Microphone;
    case LineLevel:
        return SourceKind::LineIn;
    case SPDIF:
    case DigitalAudioDisplayDevice:
        return SourceKind::Digital;
    default:
        return SourceKind::Unknown;
    }
}

// The endpoint's friendly name and form factor; its id when it has no name.
void describe(IMMDevice& device, const QString& id, SourceInfo& info, UINT& formFactor) {
    info.description = id;
    formFactor = UnknownFormFactor;
    ComPtr<IPropertyStore> store;
    if (FAILED(device.OpenPropertyStore(STGM_READ, store.put())))
        return;
    Property name;
    if (SUCCEEDED(store->GetValue(kFriendlyName, &name.value)) && name.value.vt == VT_LPWSTR &&
        name.value.pwszVal)
        info.description = QString::fromWCharArray(name.value.pwszVal);
    Property form;
    if (SUCCEEDED(store->GetValue(kFormFactor, &form.value)) && form.value.vt == VT_UI4)
        formFactor = form.value.ulVal;
}

Result<ComPtr<IAudioEndpointVolume>> volumeOf(IMMDevice& device) {
    ComPtr<IAudioEndpointVolume> volume;
    const HRESULT hr =
        device.Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume.putVoid());
    if (FAILED(hr))
        return failed(QStringLiteral("cannot reach the input's level"), hr);
    return volume;
}

// Every active endpoint of `flow`, in the system's order.
Result<std::vector<std::pair<QString, ComPtr<IMMDevice>>>> activeEndpoints(IMMDeviceEnumerator& d,
                                                                           EDataFlow flow) {
    ComPtr<IMMDeviceCollection> all;
    HRESULT hr = d.EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, all.put());
    UINT count = 0;
    if (SUCCEEDED(hr))
        hr = all->GetCount(&count);
    if (FAILED(hr))
        return failed(QStringLiteral("cannot list the sound devices"), hr);
    std::vector<std::pair<QString, ComPtr<IMMDevice>>> list;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        wasapi::CoString id;
        if (FAILED(hr = all->Item(i, device.put())) || FAILED(hr = device->GetId(id.put())))
            return failed(QStringLiteral("cannot list the sound devices"), hr);
        list.emplace_back(id.text(), std::move(device));
    }
    return list;
}

// Whether the system records what an output plays, tried on the default output (wine's WASAPI
// does not); none when there is no output to try.
std::optional<bool> probeLoopback(IMMDeviceEnumerator& devices) {
    if (!wasapi::endpoint(devices, {}, eRender))
        return std::nullopt;
    const auto open = wasapi::openClient({}, eRender, AUDCLNT_STREAMFLAGS_LOOPBACK, PcmFormat{},
                                         nullptr, QString());
    if (!open)
        return false;
    ComPtr<IAudioCaptureClient> capture;
    return SUCCEEDED(open->client->GetService(__uuidof(IAudioCaptureClient), capture.putVoid()));
}

// The inputs as sources() lists them: capture endpoints, then the loopbacks of render endpoints
// where `loopbacks`. `ours` gives the level of an input whose level we apply ourselves, none for
// the others.
Result<std::vector<Input>>
listInputs(IMMDeviceEnumerator& devices, bool loopbacks,
           const std::function<std::optional<int>(const QString&)>& ours) {
    std::vector<Input> inputs;
    auto captures = activeEndpoints(devices, eCapture);
    if (!captures)
        return captures.error();
    for (auto& [id, device] : *captures) {
        Input in{id, false, {}};
        in.info.name = id;
        UINT formFactor = UnknownFormFactor;
        describe(*device.get(), id, in.info, formFactor);
        in.info.kind = kindOf(formFactor);
        float level = 1.0f;
        if (const std::optional<int> own = ours(id))
            level = float(*own) / 100.0f;
        else if (auto volume = volumeOf(*device.get()); volume)
            (*volume)->GetMasterVolumeLevelScalar(&level);
        in.info.volumePercent = static_cast<int>(std::lround(level * 100.0f));
        inputs.push_back(std::move(in));
    }
    if (!loopbacks)
        return inputs;
    auto renders = activeEndpoints(devices, eRender);
    if (!renders)
        return renders.error();
    for (auto& [id, device] : *renders) {
        Input in{id, true, {}};
        in.info.name = kLoopback + id;
        UINT formFactor = UnknownFormFactor;
        describe(*device.get(), id, in.info, formFactor);
        in.info.description = QStringLiteral("What is playing on %1").arg(in.info.description);
        in.info.kind = SourceKind::Monitor;
        in.info.volumePercent = ours(in.info.name).value_or(100);
        inputs.push_back(std::move(in));
    }
    return inputs;
}

Result<Input> inputAt(Result<std::vector<Input>> listed, int index) {
    if (!listed)
        return listed.error();
    if (index < 0 || index >= static_cast<int>(listed->size()))
        return Error({}, QStringLiteral("There is no input %1").arg(index));
    return std::move((*listed)[static_cast<std::size_t>(index)]);
}

} // namespace

WasapiBackend::WasapiBackend() = default;
WasapiBackend::~WasapiBackend() = default;

QString WasapiBackend::name() const {
    return QStringLiteral("wasapi");
}

std::shared_ptr<std::atomic<int>> WasapiBackend::gainOf(const QString& name) {
    auto& gain = gains_[name];
    if (!gain)
        gain = std::make_shared<std::atomic<int>>(100);
    return gain;
}

Result<std::vector<Input>> WasapiBackend::listed(IMMDeviceEnumerator& devices) {
    return listInputs(devices, loopbackWorks(devices),
                      [this](const QString& name) { return ourLevel(name); });
}

bool WasapiBackend::loopbackWorks(IMMDeviceEnumerator& devices) {
    if (!loopbackWorks_)
        loopbackWorks_ = probeLoopback(devices);
    return loopbackWorks_.value_or(false);
}

std::optional<int> WasapiBackend::ourLevel(const QString& name) const {
    if (!ownLevels_.contains(name))
        return std::nullopt;
    return gains_.at(name)->load();
}

// Runs `body` with COM for the calling thread and the system's list of endpoints, one call at a
// time.
template <class R, class Body> R withDevices(std::mutex& mutex, Body body) {
    std::lock_guard guard(mutex);
    ComScope com;
    if (!com.usable())
        return failed(QStringLiteral("Windows audio is not available"), com.result());
    auto devices = wasapi::makeEnumerator();
    if (!devices)
        return devices.error();
    return body(**devices);
}

Status WasapiBackend::available() {
    return withDevices<Status>(mutex_, [&](IMMDeviceEnumerator& devices) -> Status {
        auto renders = activeEndpoints(devices, eRender);
        if (!renders)
            return renders.error();
        auto captures = activeEndpoints(devices, eCapture);
        if (!captures)
            return captures.error();
        if (renders->empty() && captures->empty())
            return Error({}, QStringLiteral("there is no sound device"));
        // Listed is not yet usable (the audio service may be gone): a stream is set up and let go.
        const bool out = !renders->empty();
        const auto tried = wasapi::openClient({}, out ? eRender : eCapture, 0, PcmFormat{}, nullptr,
                                              QStringLiteral("the sound device cannot be used"));
        if (!tried)
            return tried.error();
        return {};
    });
}

Result<std::unique_ptr<PlaybackStream>> WasapiBackend::openPlayback(const PcmFormat& format,
                                                                    PullFn pull, EndFn ended) {
    if (!pull)
        return Error({}, QStringLiteral("No sound to play"));
    if (Status supported = checkFormat(format); !supported)
        return supported.error();
    std::lock_guard guard(mutex_);
    auto stream =
        std::make_unique<wasapi::WasapiPlayback>(format, std::move(pull), std::move(ended));
    if (Status started = stream->start(); !started)
        return started.error();
    return std::unique_ptr<PlaybackStream>(std::move(stream));
}

Result<std::unique_ptr<CaptureStream>>
WasapiBackend::openCapture(int sourceIndex, const PcmFormat& format, PushFn push) {
    if (!push)
        return Error({}, QStringLiteral("Nowhere to deliver the recording"));
    if (Status supported = checkFormat(format); !supported)
        return supported.error();
    return withDevices<Result<std::unique_ptr<CaptureStream>>>(
        mutex_, [&](IMMDeviceEnumerator& devices) -> Result<std::unique_ptr<CaptureStream>> {
            auto input = inputAt(listed(devices), sourceIndex);
            if (!input)
                return input.error();
            // Every capture takes its input's own level: one set later reaches it too.
            auto stream =
                std::make_unique<wasapi::WasapiCapture>(input->endpointId, input->loopback, format,
                                                        std::move(push), gainOf(input->info.name));
            if (Status started = stream->start(); !started)
                return started.error();
            return std::unique_ptr<CaptureStream>(std::move(stream));
        });
}

Result<std::vector<SourceInfo>> WasapiBackend::sources() {
    return withDevices<Result<std::vector<SourceInfo>>>(
        mutex_, [&](IMMDeviceEnumerator& devices) -> Result<std::vector<SourceInfo>> {
            auto list = listed(devices);
            if (!list)
                return list.error();
            std::vector<SourceInfo> result;
            result.reserve(list->size());
            for (Input& in : *list)
                result.push_back(std::move(in.info));
            return result;
        });
}

Result<int> WasapiBackend::defaultSource() {
    return withDevices<Result<int>>(mutex_, [&](IMMDeviceEnumerator& devices) -> Result<int> {
        ComPtr<IMMDevice> device;
        HRESULT hr = devices.GetDefaultAudioEndpoint(eCapture, eConsole, device.put());
        if (hr == wasapi::kNotFound)
            return -1;
        wasapi::CoString id;
        if (SUCCEEDED(hr))
            hr = device->GetId(id.put());
        if (FAILED(hr))
            return failed(QStringLiteral("cannot find the default input"), hr);
        auto list = listed(devices);
        if (!list)
            return list.error();
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (!(*list)[i].loopback && (*list)[i].endpointId == id.text())
                return static_cast<int>(i);
        }
        return -1;
    });
}

Status WasapiBackend::setSourceVolume(int sourceIndex, int percent) {
    if (percent < 0 || percent > kMaxVolumePercent)
        return Error({}, QStringLiteral("Input level %1 is outside 0 to %2")
                             .arg(percent)
                             .arg(kMaxVolumePercent));
    return withDevices<Status>(mutex_, [&](IMMDeviceEnumerator& devices) -> Status {
        auto input = inputAt(listed(devices), sourceIndex);
        if (!input)
            return input.error();
        const auto setOurs = [&] {
            ownLevels_.insert(input->info.name);
            gainOf(input->info.name)->store(percent);
            return Status{};
        };
        if (input->loopback)
            return setOurs();
        auto device = wasapi::endpoint(devices, input->endpointId, eCapture);
        if (!device)
            return device.error();
        auto volume = volumeOf(*device->get());
        if (!volume)
            return volume.error();
        const float level = static_cast<float>(std::min(percent, 100)) / 100.0f;
        const HRESULT hr = (*volume)->SetMasterVolumeLevelScalar(level, nullptr);
        // A system that cannot set an endpoint's volume (wine's WASAPI) gets the level on the
        // samples instead.
        if (hr == E_NOTIMPL)
            return setOurs();
        if (FAILED(hr))
            return failed(QStringLiteral("cannot set the level of %1").arg(input->info.description),
                          hr);
        return {};
    });
}

} // namespace quaverly::audio
