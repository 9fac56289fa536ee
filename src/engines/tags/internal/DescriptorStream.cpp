#include "engines/tags/internal/DescriptorStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace quaverly::tags {
namespace {

// What moveTail() carries at a time: big enough for few calls on a long file, small enough not
// to matter beside the sound in memory.
constexpr off_t kMoveBlock = 1 << 20;

} // namespace

DescriptorStream::DescriptorStream(int fd, QByteArray name) : fd_(fd), name_(std::move(name)) {}

bool DescriptorStream::failNow() {
    if (ok())
        failure_ = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    return false;
}

ssize_t DescriptorStream::readAt(char* to, size_t size, off_t at) {
    size_t done = 0;
    while (ok() && done < size) {
        const ssize_t n = ::pread(fd_, to + done, size - done, at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failNow();
            return -1;
        }
        if (n == 0)
            break; // the end of the file
        done += size_t(n);
    }
    return ok() ? ssize_t(done) : -1;
}

bool DescriptorStream::writeAt(const char* from, size_t size, off_t at) {
    size_t done = 0;
    while (ok() && done < size) {
        const ssize_t n = ::pwrite(fd_, from + done, size - done, at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC; // a write that takes nothing, as a full disk does
            return failNow();
        }
        done += size_t(n);
    }
    return ok();
}

bool DescriptorStream::resize(off_t size) {
    if (ok() && ::ftruncate(fd_, size) != 0)
        return failNow();
    return ok();
}

bool DescriptorStream::moveTail(off_t from, off_t to, off_t end) {
    if (from == to || from >= end)
        return ok();
    std::vector<char> block(size_t(std::min(kMoveBlock, end - from)));
    const off_t shift = to - from;
    // Growing, the tail moves from its end backwards, shrinking from its start forwards, so a
    // block is never written over bytes still to be moved.
    for (off_t done = 0; ok() && done < end - from;) {
        const off_t n = std::min(off_t(block.size()), end - from - done);
        const off_t at = shift > 0 ? end - done - n : from + done;
        if (const ssize_t got = readAt(block.data(), size_t(n), at); got != n) {
            errno = EIO; // the file ended early; kept if a read failed before
            return failNow();
        }
        writeAt(block.data(), size_t(n), at + shift);
        done += n;
    }
    return ok();
}

TagLib::ByteVector DescriptorStream::readBlock(unsigned long length) {
    const off_t end = off_t(this->length());
    if (!ok() || position_ >= end || length == 0)
        return {};
    // Never more than the file holds (a damaged size field may ask for gigabytes), nor than a
    // ByteVector's size can say.
    const auto size = size_t(std::min(
        {off_t(length), end - position_, off_t(std::numeric_limits<unsigned int>::max())}));
    TagLib::ByteVector data(static_cast<unsigned int>(size), '\0');
    const ssize_t got = readAt(data.data(), size, position_);
    if (got <= 0)
        return {};
    data.resize(static_cast<unsigned int>(got));
    position_ += got;
    return data;
}

void DescriptorStream::writeBlock(const TagLib::ByteVector& data) {
    if (writeAt(data.data(), data.size(), position_))
        position_ += off_t(data.size());
}

void DescriptorStream::insert(const TagLib::ByteVector& data, unsigned long start,
                              unsigned long replace) {
    const off_t end = off_t(length());
    const off_t from = std::min(off_t(start), end);
    const off_t replaced = std::min(off_t(replace), end - from);
    const off_t size = off_t(data.size());
    if (!moveTail(from + replaced, from + size, end))
        return;
    if (size < replaced && !resize(end - (replaced - size)))
        return;
    if (writeAt(data.data(), size_t(size), from))
        position_ = from + size;
}

void DescriptorStream::removeBlock(unsigned long start, unsigned long length) {
    const off_t end = off_t(this->length());
    const off_t from = std::min(off_t(start), end);
    const off_t removed = std::min(off_t(length), end - from);
    if (moveTail(from + removed, from, end))
        resize(end - removed);
}

void DescriptorStream::seek(long offset, Position p) {
    off_t base = 0;
    if (p == Current)
        base = position_;
    else if (p == End)
        base = off_t(length());
    // Like fseek(), a place before the start is refused, one past the end taken.
    if (base + offset >= 0)
        position_ = base + offset;
}

long DescriptorStream::length() {
    struct stat st {};
    if (!ok())
        return 0;
    if (::fstat(fd_, &st) != 0) {
        failNow();
        return 0;
    }
    return long(st.st_size);
}

void DescriptorStream::truncate(long length) {
    if (length >= 0)
        resize(off_t(length));
}

} // namespace quaverly::tags
