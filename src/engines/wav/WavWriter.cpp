#include "engines/wav/WavWriter.h"

namespace quaverly {

Status WavWriter::open(const WavHeader& format) {
    header_ = format;
    header_.setDataSize(0);
    bytes_ = 0;
    if (Status opened = file_.open(); !opened)
        return opened;
    return writeHeader();
}

Status WavWriter::write(const char* data, qint64 bytes) {
    if (bytes_ + std::uint64_t(bytes) > WavHeader::kMaxDataSize)
        return Error(file_.target(),
                     QStringLiteral("the sound would pass the 4 GiB limit of a WAV file"));
    if (Status written = file_.write(data, bytes); !written)
        return written;
    bytes_ += std::uint64_t(bytes);
    return {};
}

Status WavWriter::finish() {
    header_.setDataSize(static_cast<std::uint32_t>(bytes_));
    if (!file_.file().seek(0))
        return Error(file_.target(), file_.file().errorString());
    if (Status written = writeHeader(); !written)
        return written;
    return file_.commit();
}

Status WavWriter::writeHeader() {
    const auto head = header_.toBytes();
    return file_.write(reinterpret_cast<const char*>(head.data()), WavHeader::kSize);
}

} // namespace quaverly
