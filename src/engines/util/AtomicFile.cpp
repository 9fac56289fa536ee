#include "engines/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#endif
#ifdef Q_OS_LINUX
#include <sys/uio.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "engines/util/internal/WindowsError.h"
#endif

namespace quaverly {
namespace {

// Forces the file's data to the disk and says why it could not. QSaveFile::commit() syncs too,
// but ignores a failure; this one is checked first, so the second sync finds little to do.
QString syncToDisk(QFileDevice& file) {
    const int fd = file.handle();
    if (fd < 0)
        return QStringLiteral("the file is not open");
#if defined(Q_OS_WIN)
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h))
        return windowsErrorText(GetLastError());
#else
#ifdef Q_OS_LINUX
    const int rc = ::fdatasync(fd);
#else
    const int rc = ::fsync(fd);
#endif
    if (rc != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#endif
    return {};
}

#ifdef Q_OS_WIN
// The pattern of the name a file is written under beside `target`: the target's name and
// ".XXXXXX.part", the name shortened where both would pass the 255 units a name may have (UTF-16
// units on NTFS, bytes where wine keeps the files: never fewer bytes than units).
QString reservedPattern(const QString& target) {
    constexpr qsizetype kLongestName = 255;
    const QString suffix = QStringLiteral(".XXXXXX.part");
    const QString name = QFileInfo(target).fileName();
    QString kept = name;
    while (!kept.isEmpty() && (kept + suffix).toUtf8().size() > kLongestName)
        kept.chop(kept.size() > 1 && kept.back().isLowSurrogate() ? 2 : 1);
    return target.left(target.size() - name.size()) + kept + suffix;
}

// Qt's own rename of a QSaveFile does not write the change of name through to the disk: a crash
// soon after could find the old file. So on Windows the file is written under a name reserved
// beside the target and renamed here (replaceFile). The reserved file goes when this does, unless
// kept.
class ReplacingFile final : public QFile {
public:
    explicit ReplacingFile(const QString& target) : reserved_(reservedPattern(target)) {
        setFileName(reserved_.fileName());
    }
    ~ReplacingFile() override { close(); } // before reserved_ removes the file

    // Opens the reserved file for reading and writing.
    bool create() {
        if (reserved_.isValid())
            return open(QIODevice::ReadWrite);
        setErrorString(reserved_.errorString());
        return false;
    }
    void keep() { reserved_.keep(); }

private:
    ReservedFile reserved_;
};

// The name CreateFileW is given for `path`: absolute, with the system's separators, and past
// MAX_PATH with the prefix that lifts that limit, as QFile does.
std::wstring systemPath(const QString& path) {
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.size() >= MAX_PATH && !native.startsWith(QLatin1String("\\\\?\\"))) {
        if (native.startsWith(QLatin1String("\\\\")))
            native = QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
        else
            native = QStringLiteral("\\\\?\\") + native;
    }
    return native.toStdWString();
}

// The file a target names: the one a symbolic link points to, so the link stays as it was.
QString writtenPath(const QString& target) {
    const QFileInfo info(target);
    return info.isSymLink() ? info.symLinkTarget() : target;
}
#endif

// `pattern` with its last "XXXXXX" (else its end) made into six random letters and digits.
QString uniqueName(const QString& pattern) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString part;
    for (int i = 0; i < 6; ++i)
        part += QLatin1Char(kChars[QRandomGenerator::global()->bounded(36)]);
    QString name = pattern;
    const qsizetype at = name.lastIndexOf(QLatin1String("XXXXXX"));
    return at < 0 ? name + part : name.replace(at, 6, part);
}

// Makes `link` a hard link to `existing`: true when made, false when the name `link` is taken;
// the Error of any other refusal.
Result<bool> linkUnder(const QString& existing, const QString& link) {
#ifdef Q_OS_WIN
    if (CreateHardLinkW(systemPath(link).c_str(), systemPath(existing).c_str(), nullptr))
        return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return false;
    return Error(existing, windowsErrorText(code));
#else
    if (::link(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    return Error(existing, QString::fromLocal8Bit(std::strerror(errno)));
#endif
}

// The cause of a failed write or flush: Qt words some failures of the system's write() as
// "Unknown error" (a full disk, a file size limit); the system's own text for errno says it.
QString writeCause(const QFileDevice& file, int savedErrno) {
    const QString said = file.errorString();
    if (savedErrno != 0 && (said.isEmpty() || said == QLatin1String("Unknown error")))
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    return said;
}

#ifdef Q_OS_LINUX
// The disk is asked to start writing each this many bytes as soon as they are written.
constexpr qint64 kWriteBackStep = 32 << 20;
// A block at least this large is written through a pipe (AtomicFile::writeThroughPipe).
constexpr qint64 kPipeWriteFrom = 4 << 20;

// The two ends of a pipe, one owner for both.
class Pipe {
public:
    Pipe() {
        if (::pipe2(ends_, O_CLOEXEC) != 0)
            ends_[0] = ends_[1] = -1;
    }
    ~Pipe() {
        for (const int end : ends_)
            if (end >= 0)
                ::close(end);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool isOpen() const { return ends_[0] >= 0; }
    int readEnd() const { return ends_[0]; }
    int writeEnd() const { return ends_[1]; }

private:
    int ends_[2];
};

// Writes `bytes` of `data` at `fd`'s position: vmsplice lends the memory's pages to `pipe`, and
// splice copies them into the file from the kernel's own mapping of them. Returns how many bytes
// reached the file; it stops short at the first refusal, and the caller then drops the pipe with
// what it still holds, so that no page is read once the write has returned. A refusal is not
// reported here: the caller writes the rest as usual, which meets a lasting failure (a full disk)
// again and reports it.
qint64 spliceInto(const Pipe& pipe, int fd, const char* data, qint64 bytes) {
    qint64 done = 0;
    while (done < bytes) {
        iovec lend{const_cast<char*>(data + done), std::size_t(bytes - done)};
        const ssize_t lent = ::vmsplice(pipe.writeEnd(), &lend, 1, 0);
        if (lent < 0 && errno == EINTR)
            continue;
        if (lent <= 0)
            return done;
        for (ssize_t left = lent; left > 0;) {
            const ssize_t moved =
                ::splice(pipe.readEnd(), nullptr, fd, nullptr, std::size_t(left), 0);
            if (moved < 0 && errno == EINTR)
                continue;
            if (moved <= 0)
                return done + (lent - left); // the caller drops the pipe with what it holds
            left -= moved;
        }
        done += lent;
    }
    return done;
}
#endif

} // namespace

AtomicFile::AtomicFile(QString target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    discard();
}

Status AtomicFile::open() {
    discard();
    if (QFileInfo(target_).isDir())
        return failure(QStringLiteral("it is a folder"));
    writeBackFrom_ = 0;
#ifdef Q_OS_WIN
    const QString written = writtenPath(target_);
    if (QFileInfo(written).exists() && !QFileInfo(written).isWritable())
        return failure(QStringLiteral("it is read-only"));
    auto part = std::make_unique<ReplacingFile>(written);
    const bool created = part->create();
    file_ = std::move(part);
    if (!created) {
#else
    file_ = std::make_unique<QSaveFile>(target_);
    if (!file_->open(QIODevice::WriteOnly)) {
#endif
        const QString cause = file_->errorString();
        file_.reset();
        return failure(cause);
    }
    return {};
}

Status AtomicFile::write(const char* data, qint64 bytes) {
    if (!file_)
        return failure(QStringLiteral("not open"));
    qint64 done = 0;
#ifdef Q_OS_LINUX
    if (bytes >= kPipeWriteFrom) {
        const auto piped = writeThroughPipe(data, bytes);
        if (!piped)
            return failure(QStringLiteral("its write position was lost"));
        done = *piped;
    }
#endif
    const qint64 rest = bytes - done;
    errno = 0;
    if ((rest > 0 && file_->write(data + done, rest) != rest) || !startWriteBack())
        return failure(writeCause(*file_, errno));
    return {};
}

#ifdef Q_OS_LINUX
// A large block is mostly memory that the kernel has never read (a recorded take), and on some
// virtual machines the kernel's first read of each page of a process's memory costs a trip to the
// host: write() of a 100 MB take took 0.3-0.5 s there, against 0.03 s for the same block written
// again. Lent to a pipe, the pages are reached through the kernel's own mapping instead, which
// costs no more than write() does elsewhere. The early write-back goes on between steps. Returns
// the bytes written (what is left, the caller writes as usual), or nullopt when Qt's idea of the
// write position could not be brought in line with the file's.
std::optional<qint64> AtomicFile::writeThroughPipe(const char* data, qint64 bytes) {
    if (!file_->flush())
        return 0; // the plain write meets the failure again and reports it
    const int fd = file_->handle();
    const qint64 start = file_->pos();
    const Pipe pipe;
    if (fd < 0 || !pipe.isOpen())
        return 0;
    // 1 MiB is what an unprivileged process may give a pipe by default; with the 64 KiB it has
    // when that is refused, the same bytes only take more calls.
    (void)::fcntl(pipe.writeEnd(), F_SETPIPE_SZ, 1 << 20);
    qint64 done = 0;
    while (done < bytes) {
        const qint64 step = std::min(bytes - done, kWriteBackStep);
        const qint64 moved = spliceInto(pipe, fd, data + done, step);
        done += moved;
        // The bytes went past Qt: its position follows them, for the writes and seeks after.
        if (!file_->seek(start + done))
            return std::nullopt;
        if (moved < step || !startWriteBack())
            break;
    }
    return done;
}
#endif

// The sync in commit() waits for every byte still only in memory: for a file of gigabytes,
// seconds of a frozen window. So the disk is asked to start writing each 32 MiB as soon as it is
// written (without waiting for it), and the sync at the end finds little left to do.
// False when the bytes buffered so far could not be written.
bool AtomicFile::startWriteBack() {
#ifdef Q_OS_LINUX
    const qint64 end = file_->pos();
    if (end - writeBackFrom_ < kWriteBackStep)
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
    // Opened for reading and writing by open().
    const int fd = file_->handle();
    if (fd < 0)
        return failure(QStringLiteral("the file being written cannot be read back"));
    return fd;
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
#ifdef Q_OS_WIN
    if (cause.isEmpty()) {
        auto& part = static_cast<ReplacingFile&>(*file_);
        part.close();
        if (Status moved = replaceFile(part.fileName(), writtenPath(target_)); !moved)
            cause = moved.error().cause();
        else
            part.keep(); // it is the target now
    }
#else
    if (cause.isEmpty() && !static_cast<QSaveFile&>(*file_).commit())
        cause = file_->errorString();
#endif
    file_.reset(); // after a failure, removes the temporary file
    if (!cause.isEmpty())
        return failure(cause);
    return {};
}

void AtomicFile::discard() {
    file_.reset();
}

ReservedFile::ReservedFile(const QString& pattern) {
    QTemporaryFile made(pattern);
    made.setAutoRemove(false);
    if (made.open())
        name_ = made.fileName();
    else
        error_ = made.errorString();
} // `made` is closed here, for good

ReservedFile::~ReservedFile() {
    if (!kept_ && !name_.isEmpty())
        QFile::remove(name_);
}

Status replaceFile(const QString& from, const QString& to) {
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                     reinterpret_cast<const wchar_t*>(to.utf16()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Error(to, windowsErrorText(GetLastError()));
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return Error(to, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    return {};
}

Result<QString> linkAside(const QString& existing, const QString& pattern) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = uniqueName(pattern);
        const Result<bool> made = linkUnder(existing, name);
        if (!made)
            return made.error();
        if (*made)
            return name;
    }
    return Error(existing, QStringLiteral("no free name for a link beside it"));
}

Status openForReading(QFile& file, QIODevice::OpenMode mode) {
    const QString path = file.fileName();
#ifdef Q_OS_WIN
    // QFile opens a file without FILE_SHARE_DELETE and cannot be given a handle of the
    // system's, but it can be given the C library's descriptor, which then owns one.
    const HANDLE h = CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Error(path, windowsErrorText(GetLastError()));
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return Error(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    // From here the descriptor owns the handle, and the file the descriptor.
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        const QString cause = file.errorString();
        _close(fd);
        return Error(path, cause);
    }
#else
    if (!file.open(mode))
        return Error(path, file.errorString());
#endif
    return {};
}

Status copyFileAtomically(const QString& source, const QString& target, const WorkProgress& work) {
    QFile in(source);
    if (Status opened = openForReading(in, QIODevice::ReadOnly); !opened)
        return opened;
    AtomicFile out(target);
    if (Status opened = out.open(); !opened)
        return opened;
    const auto size = std::uint64_t(std::max<qint64>(0, in.size()));
    std::uint64_t copied = 0;
    std::vector<char> block(1 << 20);
    for (;;) {
        const qint64 got = in.read(block.data(), qint64(block.size()));
        if (got < 0)
            return Error(source, in.errorString());
        if (got == 0)
            break;
        if (Status written = out.write(block.data(), got); !written)
            return written;
        copied += std::uint64_t(got);
        work.report(copied, std::max(size, copied));
        if (work.stopped())
            return Error(source, QStringLiteral("cancelled"));
    }
    return out.commit();
}

} // namespace quaverly
