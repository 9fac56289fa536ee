#pragma once
// A file written under a temporary name beside its target and renamed into place by commit():
// readers never see half a file, and a failure leaves whatever was at the target untouched.

#include <QString>
#include <QTemporaryFile>

#include <memory>

namespace quaverly {

// Owns the temporary file: destroyed without commit(), it removes it.
// Not thread-safe; use from one thread.
class AtomicFile {
public:
    explicit AtomicFile(QString target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file in the target's folder.
    bool open(QString* error);
    // The temporary file, open for writing (and seeking) once open() succeeded.
    QFile& file() { return *temp_; }
    // Writes all of `bytes`; false with *error on a short write.
    bool write(const char* data, qint64 bytes, QString* error);
    // Closes the temporary file and renames it over the target. The data is not forced to the
    // disk first: that would cost seconds for long songs, and a rename over an existing file is
    // flushed in order by the usual Linux file systems.
    bool commit(QString* error);
    // Removes the temporary file now.
    void discard();

    const QString& target() const { return target_; }

private:
    QString target_;
    std::unique_ptr<QTemporaryFile> temp_;
};

// Copies `source` over `target` through a temporary file: the target is replaced whole or,
// on failure, left as it was.
bool copyFileAtomically(const QString& source, const QString& target, QString* error);

} // namespace quaverly
