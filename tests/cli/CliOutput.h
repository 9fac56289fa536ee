#pragma once
// What quaverly-cli wrote, as text: in the locale's bytes on Linux; in UTF-8 on Windows, where
// the C library also writes each line's end as CR LF, read back here as LF.

#include <QByteArray>
#include <QString>

namespace quaverly::test {

inline QString cliOutput(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#else
    return QString::fromLocal8Bit(bytes);
#endif
}

} // namespace quaverly::test
