#include "engines/wav/WavWriter.h"

namespace quaverly {

bool WavWriter::open(const WavHeader& format, QString* error) {
    header_ = format;
    header_.setDataSize(0);
    bytes_ = 0;
    const auto head = header_.toBytes();
    Status s = file_.open();
    if (s)
        s = file_.write(reinterpret_cast<const char*>(head.data()), WavHeader::kSize);
    if (!s)
        *error = s.error().text();
    return s.ok();
}

bool WavWriter::write(const char* data, qint64 bytes, QString* error) {
    if (bytes_ + std::uint64_t(bytes) > WavHeader::kMaxDataSize) {
        *error = QStringLiteral("%1: the sound would pass the 4 GiB limit of a WAV file")
                     .arg(file_.target());
        return false;
    }
    if (Status s = file_.write(data, bytes); !s) {
        *error = s.error().text();
        return false;
    }
    bytes_ += std::uint64_t(bytes);
    return true;
}

bool WavWriter::finish(QString* error) {
    header_.setDataSize(static_cast<std::uint32_t>(bytes_));
    const auto head = header_.toBytes();
    if (!file_.file().seek(0)) {
        *error = QStringLiteral("%1: %2").arg(file_.target(), file_.file().errorString());
        return false;
    }
    Status s = file_.write(reinterpret_cast<const char*>(head.data()), WavHeader::kSize);
    if (s)
        s = file_.commit();
    if (!s)
        *error = s.error().text();
    return s.ok();
}

} // namespace quaverly
