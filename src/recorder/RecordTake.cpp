#include "recorder/RecordTake.h"

#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"

#include <algorithm>
#include <cstring>

namespace quaverly {

static_assert(WavHeader::kSize == 44);

bool RecordTake::start() {
    clear();
    auto* block = static_cast<std::uint8_t*>(reallocate_(nullptr, kGrowStep));
    if (!block)
        return false;
    block_.reset(block);
    const auto header = WavHeader::pcm(kChannels, kSampleRate, kBitsPerSample, 0);
    std::memcpy(block, header.toBytes().data(), kHeaderBytes);
    // Both size fields read 0 while recording; finish() fills them in.
    std::memset(block + 4, 0, 4);
    std::memset(block + 40, 0, 4);
    length_ = kHeaderBytes;
    return true;
}

std::uint8_t* RecordTake::reserve(std::size_t bytes) {
    if (!block_)
        return nullptr;
    if ((length_ % kGrowStep) + bytes >= kGrowStep) {
        const std::uint64_t size = length_ + bytes + kGrowStep;
        if (size > SIZE_MAX)
            return nullptr;
        auto* grown = static_cast<std::uint8_t*>(reallocate_(block_.get(), std::size_t(size)));
        if (!grown)
            return nullptr;
        (void)block_.release(); // realloc has freed or kept it as `grown`
        block_.reset(grown);
    }
    return block_.get() + length_;
}

bool RecordTake::append(const void* data, std::size_t bytes) {
    std::uint8_t* at = reserve(bytes);
    if (!at)
        return false;
    std::memcpy(at, data, bytes);
    commit(bytes);
    return true;
}

void RecordTake::finish() {
    if (!block_)
        return;
    auto put = [this](std::size_t at, std::uint64_t value) {
        const auto v = static_cast<std::uint32_t>(value);
        const std::uint8_t le[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                                    std::uint8_t(v >> 24)};
        std::memcpy(block_.get() + at, le, 4);
    };
    put(4, length_ - 8);
    put(40, length_ - kHeaderBytes);
}

void RecordTake::clear() {
    block_.reset();
    length_ = 0;
}

Status RecordTake::writeTo(const QString& path, const WorkProgress& work) const {
    AtomicFile file(path);
    if (Status s = file.open(); !s)
        return s;
    const auto* bytes = reinterpret_cast<const char*>(data());
    for (std::uint64_t at = 0; at < length();) {
        if (work.stopped())
            return Error(path, QStringLiteral("cancelled"));
        const std::uint64_t block = std::min(kWriteBlock, length() - at);
        if (Status s = file.write(bytes + at, qint64(block)); !s)
            return s;
        at += block;
        work.report(at, length());
    }
    if (work.stopped())
        return Error(path, QStringLiteral("cancelled"));
    return file.commit();
}

} // namespace quaverly
