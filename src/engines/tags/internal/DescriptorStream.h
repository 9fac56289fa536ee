#pragma once
// TagLib's view of a file through a descriptor someone else owns: the file AtomicFile is still
// writing, so a clip's tags go in before it is renamed into place (AtomicFile::flushedDescriptor).
// Unix only.
//
// Every read and write names its offset (pread, pwrite) and leaves the descriptor's own offset
// alone, which the descriptor's owner (Qt) relies on. TagLib's stream calls cannot fail, so the
// first failure of the system is kept, and every call after it does nothing: a half-moved file
// is not made worse, and the caller drops it.
//
// Not thread-safe; use from one thread.

#include <QByteArray>
#include <QString>

#include <tiostream.h>

#include <sys/types.h>

namespace quaverly::tags {

class DescriptorStream final : public TagLib::IOStream {
public:
    // `name` only names the stream in TagLib's own messages.
    DescriptorStream(int fd, QByteArray name);

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
    // False once a call has failed (before, or now with errno).
    bool failNow();
    bool ok() const { return failure_.isEmpty(); }
    // Bytes read at `at`: all of `size` unless the file ends before; -1 on failure.
    ssize_t readAt(char* to, size_t size, off_t at);
    bool writeAt(const char* from, size_t size, off_t at);
    bool resize(off_t size);
    // Moves the bytes from `from` to the end of the file so that they start at `to`.
    bool moveTail(off_t from, off_t to, off_t end);

    int fd_;
    QByteArray name_;
    off_t position_ = 0;
    QString failure_;
};

} // namespace quaverly::tags
