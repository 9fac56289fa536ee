#pragma once
// TagLib's view of a file through a descriptor someone else owns: the file AtomicFile is still
// writing, so a clip's tags go in before it is renamed into place (AtomicFile::flushedDescriptor).
//
// Every read and write names its offset (pread and pwrite; on Windows ReadFile and WriteFile at
// an offset) and the descriptor's own offset is as it was once the stream is gone, which the
// descriptor's owner (Qt) relies on. TagLib's stream calls cannot fail, so the
// first failure of the system is kept, and every call after it does nothing: a half-moved file
// is not made worse, and the caller drops it.
//
// Not thread-safe; use from one thread.

#include <QByteArray>
#include <QString>

#include <tiostream.h>

#include <cstddef>
#include <cstdint>

namespace quaverly::tags {

using Offset = std::int64_t; // a place in the file, 64-bit on every system

class DescriptorStream final : public TagLib::IOStream {
public:
    // `name` only names the stream in TagLib's own messages.
    DescriptorStream(int fd, QByteArray name);
    ~DescriptorStream() override;
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    // The system's words for the first call that failed; empty while none has.
    const QString& failure() const { return failure_; }

    TagLib::FileName name() const override { return name_.constData(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    // Both move the rest of the file (after the change) in blocks: one pass over it.
    void insert(const TagLib::ByteVector& data, unsigned long start = 0,
                unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return false; }
    bool isOpen() const override { return fd_ >= 0; }
    void seek(long offset, Position p = Beginning) override;
    void clear() override {}
    long tell() const override { return long(position_); }
    long length() override;
    void truncate(long length) override;

private:
    // False once a call has failed (before, or now with the system's error).
    bool failNow();
    bool failWith(const char* why);
    bool ok() const { return failure_.isEmpty(); }
    // Bytes read at `offset`: all of `size` unless the file ends before; -1 on failure.
    Offset readAt(char* to, std::size_t size, Offset offset);
    bool writeAt(const char* from, std::size_t size, Offset offset);
    bool resize(Offset size);
    // Moves the bytes from `from` to the end of the file so that they start at `to`.
    bool moveTail(Offset from, Offset to, Offset end);

    int fd_;
    QByteArray name_;
    Offset position_ = 0;
#ifdef _WIN32
    Offset ownerPosition_ = 0; // the descriptor's offset when the stream was made
#endif
    QString failure_;
};

} // namespace quaverly::tags
