#pragma once
// What the fuzz targets share: a private folder for the run's files, writing an input to a file,
// and stopping the run when a promise of the code under test is broken.

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quaverly::fuzz {

// Aborts, which libFuzzer reports as a crash and keeps the input that caused it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// A folder of this process alone (under $TMPDIR), made at the first call, removed at exit.
inline const QString& workFolder() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quaverly-fuzz-XXXXXX"));
    if (!dir.isValid())
        fail("no temporary folder");
    static const QString path = dir.path();
    return path;
}

// Replaces the file with exactly these bytes. Failing to write is the machine's fault, not the
// input's, so it stops the run.
inline void writeFile(const QString& path, const char* data, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        (size > 0 && file.write(data, size) != size))
        fail("cannot write the input to a file");
}

} // namespace quaverly::fuzz
