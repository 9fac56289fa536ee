#pragma once
// Running quaverly-cli from the tests. What it wrote, as text: in the locale's bytes on Linux; in
// UTF-8 on Windows, where the C library also writes each line's end as CR LF, read back here as
// LF.

#include "support/TestPaths.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace quaverly::test {

inline QString cliOutput(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#else
    return QString::fromLocal8Bit(bytes);
#endif
}

// What one run said: its exit code (-1 when it crashed or did not end) and its two streams.
struct CliRun {
    int code = -1;
    QString out, err;
};

// Runs quaverly-cli with `args` and nothing on its input, in `folder` (unless empty) and with
// `env`; a run still going after `ms` fails the test. Under wine a program now and then fails to
// start at all, or ends with exit code 1 before it runs, writing nothing (quaverly-cli always
// says why it fails); nothing ran then, so it is started again, up to three times.
inline CliRun runCli(const QStringList& args, const QString& folder = {},
                     const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                     int ms = 60000) {
    for (int attempt = 1;; ++attempt) {
        QProcess p;
        p.setProcessEnvironment(env);
        if (!folder.isEmpty())
            p.setWorkingDirectory(folder);
        p.start(cliPath(), args);
        p.closeWriteChannel();
        if (!p.waitForStarted(ms) && p.error() == QProcess::FailedToStart && attempt < 3)
            continue;
        EXPECT_TRUE(p.waitForFinished(ms))
            << args.join(' ').toStdString() << ": " << p.errorString().toStdString();
        CliRun run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                   cliOutput(p.readAllStandardOutput()), cliOutput(p.readAllStandardError())};
#ifdef Q_OS_WIN
        if (run.code == 1 && run.out.isEmpty() && run.err.isEmpty() && attempt < 3)
            continue;
#endif
        return run;
    }
}

} // namespace quaverly::test
