#include "engines/audio/internal/WasapiCom.h"

#include "engines/util/CodeTable.h"

#include "engines/util/internal/WindowsError.h"

#include <algorithm>

namespace quaverly::audio::wasapi {

namespace {

// How much sound WASAPI buffers between us and the device: long enough not to break up on a busy
// machine (wine's adds its own); the position heard comes from the device's clock, and pausing
// stops the device, so neither waits for it.
constexpr REFERENCE_TIME kBufferDuration = 200 * 10000; // 200 ms in 100-ns units

// KSDATAFORMAT_SUBTYPE_PCM, for the layouts of more than two channels.
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The stream's format as WASAPI takes it: plain PCM up to stereo, else with the usual speaker
// layout of that many channels. Formats the device does not take natively are converted by
// WASAPI itself (AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM).
WAVEFORMATEXTENSIBLE waveFormat(const PcmFormat& f) {
    static constexpr DWORD kLayouts[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3f, 0x13f, 0x63f};
    WAVEFORMATEXTENSIBLE w{};
    w.Format.wFormatTag = f.channels <= 2 ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    w.Format.nChannels = f.channels;
    w.Format.nSamplesPerSec = f.sampleRate;
    w.Format.wBitsPerSample = f.bitsPerSample;
    w.Format.nBlockAlign = static_cast<WORD>(f.bytesPerFrame());
    w.Format.nAvgBytesPerSec = f.sampleRate * f.bytesPerFrame();
    if (f.channels > 2) {
        w.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        w.Samples.wValidBitsPerSample = f.bitsPerSample;
        w.dwChannelMask = kLayouts[std::min<std::uint16_t>(f.channels, 8)];
        w.SubFormat = kSubtypePcm;
    }
    return w;
}

} // namespace

Result<OpenClient> openClient(const QString& id, EDataFlow flow, DWORD flags, const PcmFormat& f,
                              HANDLE event, const QString& doing) {
    auto devices = makeEnumerator();
    if (!devices)
        return devices.error();
    auto device = endpoint(**devices, id, flow);
    if (!device)
        return Error({}, doing + QStringLiteral(": ") + device.error().cause());
    OpenClient open;
    HRESULT hr =
        (*device)->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, open.client.putVoid());
    if (FAILED(hr))
        return failed(doing, hr);
    const WAVEFORMATEXTENSIBLE format = waveFormat(f);
    flags |= AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    if (event)
        flags |= AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
    hr = open.client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferDuration, 0,
                                 &format.Format, nullptr);
    if (FAILED(hr))
        return failed(doing, hr);
    if (event && FAILED(hr = open.client->SetEventHandle(event)))
        return failed(doing, hr);
    if (FAILED(hr = open.client->GetBufferSize(&open.bufferFrames)))
        return failed(doing, hr);
    return open;
}

// WASAPI's own codes, and the few others a stream meets, in words: they are not all in the
// system's message table.
constexpr std::pair<HRESULT, const char*> kResultTexts[] = {
    {AUDCLNT_E_DEVICE_INVALIDATED, "the sound device was removed or disabled"},
    {AUDCLNT_E_SERVICE_NOT_RUNNING, "the Windows audio service is not running"},
    {AUDCLNT_E_UNSUPPORTED_FORMAT, "the sound device does not take this format"},
    {AUDCLNT_E_DEVICE_IN_USE, "the sound device is in use by another program"},
    {AUDCLNT_E_ENDPOINT_CREATE_FAILED, "the sound device could not be opened"},
    {AUDCLNT_E_CPUUSAGE_EXCEEDED, "the audio service has no processor time to spare"},
    {AUDCLNT_E_BUFFER_ERROR, "the sound device refused its buffer"},
    {AUDCLNT_E_BUFFER_SIZE_ERROR, "the sound device refused its buffer"},
    {AUDCLNT_E_BUFFER_TOO_LARGE, "the sound device refused its buffer"},
    {kNotFound, "there is no such sound device"},
    {REGDB_E_CLASSNOTREG, "the system has no audio service"},
    {E_OUTOFMEMORY, "out of memory"},
};

QString resultText(HRESULT hr) {
    if (const auto text = lookUp(kResultTexts, hr))
        return QString::fromUtf8(*text);
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        return windowsErrorText(HRESULT_CODE(hr));
    QString said = windowsErrorText(static_cast<DWORD>(hr));
    if (said.startsWith(QStringLiteral("system error")))
        said =
            QStringLiteral("system error 0x%1").arg(static_cast<quint32>(hr), 8, 16, QChar(u'0'));
    return said;
}

Result<ComPtr<IMMDeviceEnumerator>> makeEnumerator() {
    ComPtr<IMMDeviceEnumerator> devices;
    // In-process only: where the system's own fails (no audio service), COM would otherwise
    // look for a server of it in another process, which takes wine 3 to 10 s to give up on.
    const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IMMDeviceEnumerator), devices.putVoid());
    if (FAILED(hr))
        return failed(QStringLiteral("Windows audio is not available"), hr);
    return devices;
}

Result<ComPtr<IMMDevice>> endpoint(IMMDeviceEnumerator& devices, const QString& id,
                                   EDataFlow flow) {
    ComPtr<IMMDevice> device;
    if (id.isEmpty()) {
        const HRESULT hr = devices.GetDefaultAudioEndpoint(flow, eConsole, device.put());
        if (hr == kNotFound)
            return Error({}, flow == eRender ? QStringLiteral("there is no sound output device")
                                             : QStringLiteral("there is no recording device"));
        if (FAILED(hr))
            return failed(QStringLiteral("cannot find the default sound device"), hr);
        return device;
    }
    const std::wstring wide = id.toStdWString();
    const HRESULT hr = devices.GetDevice(wide.c_str(), device.put());
    if (FAILED(hr))
        return failed(QStringLiteral("cannot open the sound device"), hr);
    DWORD state = 0;
    if (SUCCEEDED(device->GetState(&state)) && state != DEVICE_STATE_ACTIVE)
        return Error({}, QStringLiteral("the sound device is unplugged or disabled"));
    return device;
}

} // namespace quaverly::audio::wasapi
