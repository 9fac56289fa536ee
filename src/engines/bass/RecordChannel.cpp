#include "engines/bass/RecordChannel.h"

namespace quaverly::bass::detail {

RecordChannel::RecordChannel(const audio::PcmFormat& format, RECORDPROC* proc, void* user)
    : format_(format), proc_(proc), user_(user) {}

RecordChannel::~RecordChannel() {
    stop();
}

bool RecordChannel::start(audio::AudioBackend& backend, int sourceIndex, DWORD handle) {
    handle_ = handle;
    QString why;
    capture_ = backend.openCapture(
        sourceIndex, format_,
        [this](const void* data, std::size_t bytes) { return deliver(data, bytes); }, &why);
    if (!capture_) {
        delivering_ = false;
        setError(BASS_ERROR_START,
                 "cannot start recording: " +
                     (why.isEmpty() ? std::string("the device refused it") : why.toStdString()));
        return false;
    }
    return true;
}

BASS_CHANNELINFO RecordChannel::info() const {
    BASS_CHANNELINFO i;
    i.freq = format_.sampleRate;
    i.chans = format_.channels;
    i.flags = 0;
    i.ctype = BASS_CTYPE_RECORD;
    i.origres = format_.bitsPerSample;
    return i;
}

DWORD RecordChannel::isActive() const {
    if (!capture_ || !delivering_.load(std::memory_order_acquire))
        return BASS_ACTIVE_STOPPED;
    const QString failure = capture_->error();
    if (!failure.isEmpty()) {
        setError(BASS_ERROR_DRIVER, failure.toStdString());
        return BASS_ACTIVE_STOPPED;
    }
    return BASS_ACTIVE_PLAYING;
}

bool RecordChannel::stop() {
    // Destroying the capture stops it: the back end calls deliver() no more once it returns.
    capture_.reset();
    delivering_ = false;
    return true;
}

bool RecordChannel::deliver(const void* data, std::size_t bytes) {
    if (!delivering_.load(std::memory_order_acquire))
        return false;
    const bool more = proc_(handle_, data, static_cast<DWORD>(bytes), user_) != 0;
    // Counted once the proc has it, so the position never runs ahead of what the caller holds.
    bytes_.fetch_add(bytes, std::memory_order_acq_rel);
    if (!more)
        delivering_.store(false, std::memory_order_release);
    return more;
}

} // namespace quaverly::bass::detail
