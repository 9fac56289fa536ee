#pragma once
// Inside of the Windows back end (included only by engines/audio): COM's owners and the words
// for WASAPI's failure codes. Windows only.

#include "engines/audio/AudioBackend.h"
#include "engines/util/Error.h"

#include <QString>

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <utility>

namespace quaverly::audio::wasapi {

// HRESULT_FROM_WIN32(ERROR_NOT_FOUND): no such endpoint, or no default one.
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

// The one owner of a COM interface pointer: released when it goes, never copied.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Where a COM call puts a new pointer; whatever was held is released first.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// COM for the calling thread, for as long as this lives. A thread that already has COM in
// another model (the window's thread, which Qt gives a single-threaded apartment) keeps it: the
// device objects work in either, and this one then leaves it alone.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    // Whether COM can be used on this thread (in whichever model).
    bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// A string COM allocated, freed with CoTaskMemFree.
class CoString {
public:
    CoString() = default;
    ~CoString() { CoTaskMemFree(s_); }
    CoString(const CoString&) = delete;
    CoString& operator=(const CoString&) = delete;
    LPWSTR* put() {
        CoTaskMemFree(s_);
        s_ = nullptr;
        return &s_;
    }
    QString text() const { return s_ ? QString::fromWCharArray(s_) : QString(); }

private:
    LPWSTR s_ = nullptr;
};

// The words for a failure code of COM or WASAPI (those the system's message table does not
// know included).
QString resultText(HRESULT hr);

// An Error (no file, no code) for a failed step: "<doing>: <the code's words>".
inline Error failed(const QString& doing, HRESULT hr) {
    return Error({}, doing + QStringLiteral(": ") + resultText(hr));
}

// The system's list of sound endpoints, made on the calling thread (which must have COM).
Result<ComPtr<IMMDeviceEnumerator>> makeEnumerator();

// The endpoint of `id`, or the default one of `flow` when the id is empty.
Result<ComPtr<IMMDevice>> endpoint(IMMDeviceEnumerator& devices, const QString& id, EDataFlow flow);

// An initialised shared-mode client of an endpoint (the default one of `flow` when `id` is
// empty) for PCM of `format`, signalling `event` (when given) each period. `doing` begins the
// words of a failure.
struct OpenClient {
    ComPtr<IAudioClient> client;
    UINT32 bufferFrames = 0;
};
Result<OpenClient> openClient(const QString& id, EDataFlow flow, DWORD flags,
                              const PcmFormat& format, HANDLE event, const QString& doing);

} // namespace quaverly::audio::wasapi
