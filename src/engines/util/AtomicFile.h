#pragma once
// The one way this program writes a file the user sees: under a temporary name beside its
// target, forced to the disk, and renamed into place by commit(). Readers never see half a file,
// and any failure (a write, the flush of the last buffered bytes, the sync, the rename) is
// reported and leaves whatever was at the target untouched.
//
// A target that is a symbolic link is written through: the file the link points to is replaced
// (beside it, under a temporary name), and the link itself stays as it was. A dangling link
// makes the file it names.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace quaverly {

// The single owner of the file being written: destroyed without commit(), it removes the
// temporary file.
// A failure is an Error naming the target as it was given, with the bare cause.
// Not thread-safe; use from one thread.
class AtomicFile {
public:
    explicit AtomicFile(QString target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file in the target's folder (on Linux an unnamed one where the file
    // system allows it). An existing target that this user may not write is refused.
    Status open();
    // The file being written, open for writing (and seeking) once open() succeeded. Writes past
    // the buffer are reported by write(), commit() or a seek.
    QFileDevice& file() { return *file_; }
    // Writes all of `bytes`; a short write fails. On Linux a block of several MiB is handed to the
    // file through a pipe (see writeThroughPipe); either way `data` is not read once write() has
    // returned.
    Status write(const char* data, qint64 bytes);
    // For changes in place before commit() (the tags a clip gets): writes out what is buffered
    // and gives the file's descriptor (the C library's), open for reading and writing. The caller
    // changes the file only with calls that leave the descriptor's offset alone (pread, pwrite,
    // ftruncate; their Windows counterparts) and writes nothing more through write(); commit()
    // then syncs and renames the file as it is.
    Result<int> flushedDescriptor();
    // Writes out what is buffered, forces the data to the disk and renames the file over the
    // target. On failure the temporary file is removed and the target stays as it was. The sync
    // costs about as long as the disk needs to take the file in; without it a crash soon after
    // could leave an empty or partial file under the target's name.
    Status commit();
    // Removes the temporary file now.
    void discard();

    const QString& target() const { return target_; }

private:
    Error failure(const QString& cause) const { return Error(target_, cause); }
    bool startWriteBack();
    std::optional<qint64> writeThroughPipe(const char* data, qint64 bytes);

    QString target_;
    // A QSaveFile; on Windows a temporary file that commit() renames itself (AtomicFile.cpp).
    std::unique_ptr<QFileDevice> file_;
    qint64 writeBackFrom_ = 0; // bytes before this were handed to the disk to write
};

// A new, empty file under a unique name made from `pattern` (its last "XXXXXX" replaced), and
// closed, so that an AtomicFile may replace it on every system: a QTemporaryFile keeps its file
// open until it is destroyed, and Windows refuses to rename over an open file. Removed when
// destroyed unless kept. Not thread-safe; use from one thread.
class ReservedFile {
public:
    explicit ReservedFile(const QString& pattern);
    ~ReservedFile();
    ReservedFile(const ReservedFile&) = delete;
    ReservedFile& operator=(const ReservedFile&) = delete;

    bool isValid() const { return !name_.isEmpty(); }
    // Why the file could not be made, when !isValid().
    const QString& errorString() const { return error_; }
    const QString& fileName() const { return name_; }
    // The file stays when this is destroyed.
    void keep() { kept_ = true; }

private:
    QString name_;
    QString error_;
    bool kept_ = false;
};

// Gives the file `existing` a second name, made from `pattern` (its last "XXXXXX" replaced by
// characters that make it unique), and returns it: a hard link, which keeps the file's data as it
// is now at no cost, since the program replaces its files whole and never writes them in place.
// Fails where the volume has no hard links, across volumes, and for a file that cannot be
// reached; the Error names `existing`.
Result<QString> linkAside(const QString& existing, const QString& pattern);

// Renames `from` over `to` in one step: `to` is replaced whole or, on failure, left as it was
// (on Windows the rename is written through to the disk before it returns). The Error names `to`.
Status replaceFile(const QString& from, const QString& to);

// Opens `file`, named, for reading (`mode` holds ReadOnly, and Unbuffered where wanted) so that
// the file may be replaced or deleted while it is open. On Windows a file open elsewhere can be
// neither unless every opener allowed it (FILE_SHARE_DELETE), which QFile does not: a reader of a
// working copy would make a cut of it or its removal fail. Every reader of a file that the
// program replaces or deletes opens it through this. Even so, Windows may keep a removed file's
// name until its last reader closes it, and refuse a rename over a file that is open: whoever
// replaces or deletes such a file has its readers let go of it first.
// On Windows fileName() is empty once the file is open. The Error names the file.
Status openForReading(QFile& file, QIODevice::OpenMode mode);

// Copies `source` over `target` through an AtomicFile: the target is replaced whole or, on
// failure, left as it was. The Error names the file that failed: `source` for a read, `target`
// for a write.
// `work` hears the bytes copied and the source's size after every block; a stop requested on
// work.stop ends the copy before the rename: the Error says "cancelled" and the target stays as
// it was.
Status copyFileAtomically(const QString& source, const QString& target,
                          const WorkProgress& work = {});

} // namespace quaverly
