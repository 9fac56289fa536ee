#include "engines/util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quaverly {
namespace {

// Forces the file's data to the disk and says why it could not. QSaveFile::commit() syncs too,
// but ignores a failure; this one is checked first, so the second sync finds little to do.
// On Windows the file handle is not at hand: there commit()'s own flush of the file buffers is
// the sync.
QString syncToDisk(QSaveFile& file) {
#ifdef Q_OS_UNIX
    const int fd = file.handle();
    if (fd < 0)
        return QStringLiteral("the file is not open");
#ifdef Q_OS_LINUX
    const int rc = ::fdatasync(fd);
#else
    const int rc = ::fsync(fd);
#endif
    if (rc != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#else
    (void)file;
#endif
    return {};
}

// The cause of a failed write or flush: Qt words some failures of the system's write() as
// "Unknown error" (a full disk, a file size limit); the system's own text for errno says it.
QString writeCause(const QFileDevice& file, int savedErrno) {
    const QString said = file.errorString();
    if (savedErrno != 0 && (said.isEmpty() || said == QLatin1String("Unknown error")))
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    return said;
}

} // namespace

AtomicFile::AtomicFile(QString target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    discard();
}

Status AtomicFile::open() {
    discard();
    if (QFileInfo(target_).isDir())
        return failure(QStringLiteral("it is a folder"));
    file_ = std::make_unique<QSaveFile>(target_);
    writeBackFrom_ = 0;
    if (!file_->open(QIODevice::WriteOnly)) {
        const QString cause = file_->errorString();
        file_.reset();
        return failure(cause);
    }
    return {};
}

Status AtomicFile::write(const char* data, qint64 bytes) {
    if (!file_)
        return failure(QStringLiteral("not open"));
    errno = 0;
    if (file_->write(data, bytes) != bytes || !startWriteBack())
        return failure(writeCause(*file_, errno));
    return {};
}

// The sync in commit() waits for every byte still only in memory: for a file of gigabytes,
// seconds of a frozen window. So the disk is asked to start writing each 32 MiB as soon as it is
// written (without waiting for it), and the sync at the end finds little left to do.
// False when the bytes buffered so far could not be written.
bool AtomicFile::startWriteBack() {
#ifdef Q_OS_LINUX
    constexpr qint64 kStep = 32 << 20;
    const qint64 end = file_->pos();
    if (end - writeBackFrom_ < kStep)
        return true;
    if (!file_->flush())
        return false;
    // Only a hint: a failure to start writing is met again, and reported, by the sync.
    if (const int fd = file_->handle(); fd >= 0)
        ::sync_file_range(fd, writeBackFrom_, end - writeBackFrom_, SYNC_FILE_RANGE_WRITE);
    writeBackFrom_ = end;
#endif
    return true;
}

Result<int> AtomicFile::flushedDescriptor() {
    if (!file_)
        return failure(QStringLiteral("not open"));
    errno = 0;
    if (!file_->flush())
        return failure(writeCause(*file_, errno));
#ifdef Q_OS_UNIX
    // Qt opens its temporary files, named or not, for reading and writing, whatever the mode
    // asked for; checked all the same, as a reader of the descriptor relies on it.
    const int fd = file_->handle();
    const int flags = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || (flags & O_ACCMODE) != O_RDWR)
        return failure(QStringLiteral("the file being written cannot be read back"));
    return fd;
#else
    return failure(QStringLiteral("the file being written cannot be read back"));
#endif
}

Status AtomicFile::commit() {
    if (!file_)
        return failure(QStringLiteral("not open"));
    // QSaveFile::commit() flushes its buffer while closing, but goes on to the rename when that
    // flush fails: flushed here, a failure keeps the target as it was.
    QString cause;
    errno = 0;
    if (!file_->flush())
        cause = writeCause(*file_, errno);
    else
        cause = syncToDisk(*file_);
    if (cause.isEmpty() && !file_->commit())
        cause = file_->errorString();
    file_.reset(); // after a failure, removes the temporary file
    if (!cause.isEmpty())
        return failure(cause);
    return {};
}

void AtomicFile::discard() {
    file_.reset();
}

Status copyFileAtomically(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Error(source, in.errorString());
    AtomicFile out(target);
    if (Status opened = out.open(); !opened)
        return opened;
    std::vector<char> block(1 << 20);
    for (;;) {
        const qint64 got = in.read(block.data(), qint64(block.size()));
        if (got < 0)
            return Error(source, in.errorString());
        if (got == 0)
            break;
        if (Status written = out.write(block.data(), got); !written)
            return written;
    }
    return out.commit();
}

} // namespace quaverly
