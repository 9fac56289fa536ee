#include "engines/tags/internal/DescriptorStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "engines/util/internal/WindowsError.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quaverly::tags {
namespace {

// What moveTail() carries at a time: big enough for few calls on a long file, small enough not
// to matter beside the sound in memory.
constexpr Offset kMoveBlock = 1 << 20;

#ifdef _WIN32
HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

OVERLAPPED at(Offset offset) {
    OVERLAPPED where{};
    where.Offset = DWORD(std::uint64_t(offset) & 0xFFFFFFFFu);
    where.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
    return where;
}

// One call of the system, which may move fewer bytes than asked.
constexpr DWORD kMostPerCall = 1u << 30;
#endif

} // namespace

// The system's calls, each in one place. On Windows a read or write at an offset moves the
// handle's own position: it is taken at the start and put back in the destructor.

DescriptorStream::DescriptorStream(int fd, QByteArray name) : fd_(fd), name_(std::move(name)) {
#ifdef _WIN32
    LARGE_INTEGER here{};
    if (SetFilePointerEx(handleOf(fd_), LARGE_INTEGER{}, &here, FILE_CURRENT))
        ownerPosition_ = here.QuadPart;
#endif
}

DescriptorStream::~DescriptorStream() {
#ifdef _WIN32
    LARGE_INTEGER there{};
    there.QuadPart = ownerPosition_;
    SetFilePointerEx(handleOf(fd_), there, nullptr, FILE_BEGIN);
#endif
}

bool DescriptorStream::failNow() {
#ifdef _WIN32
    if (ok())
        failure_ = windowsErrorText(GetLastError());
#else
    if (ok())
        failure_ = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
#endif
    return false;
}

bool DescriptorStream::failWith(const char* why) {
    if (ok())
        failure_ = QString::fromLatin1(why);
    return false;
}

Offset DescriptorStream::readAt(char* to, std::size_t size, Offset offset) {
    std::size_t done = 0;
    while (ok() && done < size) {
#ifdef _WIN32
        OVERLAPPED where = at(offset + Offset(done));
        DWORD n = 0;
        const DWORD asked = DWORD(std::min<std::size_t>(size - done, kMostPerCall));
        if (!ReadFile(handleOf(fd_), to + done, asked, &n, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            failNow();
            return -1;
        }
#else
        const ssize_t n = ::pread(fd_, to + done, size - done, off_t(offset + Offset(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failNow();
            return -1;
        }
#endif
        if (n == 0)
            break; // the end of the file
        done += std::size_t(n);
    }
    return ok() ? Offset(done) : -1;
}

bool DescriptorStream::writeAt(const char* from, std::size_t size, Offset offset) {
    std::size_t done = 0;
    while (ok() && done < size) {
#ifdef _WIN32
        OVERLAPPED where = at(offset + Offset(done));
        DWORD n = 0;
        const DWORD asked = DWORD(std::min<std::size_t>(size - done, kMostPerCall));
        if (!WriteFile(handleOf(fd_), from + done, asked, &n, &where))
            return failNow();
#else
        const ssize_t n = ::pwrite(fd_, from + done, size - done, off_t(offset + Offset(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failNow();
#endif
        if (n == 0) // a write that takes nothing, as a full disk does
            return failWith(std::strerror(ENOSPC));
        done += std::size_t(n);
    }
    return ok();
}

bool DescriptorStream::resize(Offset size) {
    if (!ok())
        return false;
#ifdef _WIN32
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(handleOf(fd_), FileEndOfFileInfo, &end, sizeof end))
        return failNow();
#else
    if (::ftruncate(fd_, off_t(size)) != 0)
        return failNow();
#endif
    return true;
}

long DescriptorStream::length() {
    if (!ok())
        return 0;
#ifdef _WIN32
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(fd_), &size)) {
        failNow();
        return 0;
    }
    return long(size.QuadPart);
#else
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        failNow();
        return 0;
    }
    return long(st.st_size);
#endif
}

bool DescriptorStream::moveTail(Offset from, Offset to, Offset end) {
    if (from == to || from >= end)
        return ok();
    std::vector<char> block(std::size_t(std::min(kMoveBlock, end - from)));
    const Offset shift = to - from;
    // Growing, the tail moves from its end backwards, shrinking from its start forwards, so a
    // block is never written over bytes still to be moved.
    for (Offset done = 0; ok() && done < end - from;) {
        const Offset n = std::min(Offset(block.size()), end - from - done);
        const Offset where = shift > 0 ? end - done - n : from + done;
        if (const Offset got = readAt(block.data(), std::size_t(n), where); got != n) {
            // the file ended early; the cause of a failed read is kept
            return failWith(std::strerror(EIO));
        }
        writeAt(block.data(), std::size_t(n), where + shift);
        done += n;
    }
    return ok();
}

TagLib::ByteVector DescriptorStream::readBlock(unsigned long length) {
    const Offset end = Offset(this->length());
    if (!ok() || position_ >= end || length == 0)
        return {};
    // Never more than the file holds (a damaged size field may ask for gigabytes), nor than a
    // ByteVector's size can say.
    const auto size = std::size_t(std::min(
        {Offset(length), end - position_, Offset(std::numeric_limits<unsigned int>::max())}));
    TagLib::ByteVector data(static_cast<unsigned int>(size), '\0');
    const Offset got = readAt(data.data(), size, position_);
    if (got <= 0)
        return {};
    data.resize(static_cast<unsigned int>(got));
    position_ += got;
    return data;
}

void DescriptorStream::writeBlock(const TagLib::ByteVector& data) {
    if (writeAt(data.data(), data.size(), position_))
        position_ += Offset(data.size());
}

void DescriptorStream::insert(const TagLib::ByteVector& data, unsigned long start,
                              unsigned long replace) {
    const Offset end = Offset(length());
    const Offset from = std::min(Offset(start), end);
    const Offset replaced = std::min(Offset(replace), end - from);
    const Offset size = Offset(data.size());
    if (!moveTail(from + replaced, from + size, end))
        return;
    if (size < replaced && !resize(end - (replaced - size)))
        return;
    if (writeAt(data.data(), std::size_t(size), from))
        position_ = from + size;
}

void DescriptorStream::removeBlock(unsigned long start, unsigned long length) {
    const Offset end = Offset(this->length());
    const Offset from = std::min(Offset(start), end);
    const Offset removed = std::min(Offset(length), end - from);
    if (moveTail(from + removed, from, end))
        resize(end - removed);
}

void DescriptorStream::seek(long offset, Position p) {
    Offset base = 0;
    if (p == Current)
        base = position_;
    else if (p == End)
        base = Offset(length());
    // Like fseek(), a place before the start is refused, one past the end taken.
    if (base + offset >= 0)
        position_ = base + offset;
}

void DescriptorStream::truncate(long length) {
    if (length >= 0)
        resize(Offset(length));
}

} // namespace quaverly::tags
