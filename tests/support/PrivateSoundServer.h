#pragma once
// A sound server of a test's own, started by the test with the test command's script in a
// temporary folder and stopped when it goes, or before by the test. It is always at the same
// socket, so what was connected to one finds the next one there.

#include "support/TestPaths.h"
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include "support/Peers.h"

namespace quaverly::test {

// Under wine the sound server runs on the Linux side, and a Windows program reaches only the
// server that PULSE_SERVER named when it started: there, this is the test command's own server
// (its folder in QUAVERLY_SOUND_SERVER_DIR), stopped, killed and started again through the peer
// bridge, at the same place. It leaves that server running when it goes, for the tests after.
class PrivateSoundServer {
public:
    PrivateSoundServer() = default;
    ~PrivateSoundServer() {
        if (down_)
            start();
    }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool start() {
        if (dir_.isEmpty())
            return false;
        if (down_ && !script(QStringLiteral("start")))
            return false;
        down_ = false;
        address = qEnvironmentVariable("PULSE_SERVER");
        return !address.isEmpty();
    }
    bool stop() {
        down_ = true;
        return script(QStringLiteral("stop"));
    }
    bool kill() {
        down_ = true;
        const QString pidFile = dir_ + QStringLiteral("/pulse.pid");
        return runPeer(QStringLiteral("sh"),
                       {QStringLiteral("-c"),
                        QStringLiteral("pid=$(cat '%1') && kill -9 $pid && "
                                       "while kill -0 $pid 2>/dev/null; do sleep 0.01; done")
                            .arg(pidFile)},
                       {10000})
            .ok();
    }

    QString address;

private:
    bool script(const QString& what) {
        return runPeer(QStringLiteral("bash"),
                       {quaverly::test::sourcePath("/scripts/sound-server.sh"), what, dir_},
                       {30000})
            .ok();
    }

    const QString dir_ = qEnvironmentVariable("QUAVERLY_SOUND_SERVER_DIR");
    bool down_ = false;
};

} // namespace quaverly::test

#else

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace quaverly::test {

class PrivateSoundServer {
public:
    PrivateSoundServer() = default;
    ~PrivateSoundServer() { run("stop"); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts it (again, once stopped or killed); false when it did not come up.
    bool start() { return run("start") && !address.isEmpty(); }
    // Stops it as the script does: asked to end, and waited for.
    bool stop() { return run("stop"); }
    // Kills it outright (SIGKILL), leaving its socket file behind; waits until it is gone.
    bool kill() {
        QFile pidFile(dir_.filePath(QStringLiteral("pulse.pid")));
        const int pid = pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toInt() : 0;
        if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
            return false;
        for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i)
            usleep(10000);
        return ::kill(pid, 0) != 0;
    }

    // Where it listens, as PULSE_SERVER names a server ("unix:/.../pulse.sock").
    QString address;

private:
    bool run(const char* what) {
        const QByteArray command =
            quaverly::test::sourcePath("/scripts/sound-server.sh ").toUtf8() + what + " '" +
            QFile::encodeName(dir_.path()) + "'";
        FILE* out = popen(command.constData(), "r");
        if (!out)
            return false;
        char line[1024] = {};
        const QByteArray said = std::fgets(line, sizeof line, out) ? QByteArray(line) : "";
        const QByteArray prefix = "export PULSE_SERVER=";
        if (said.startsWith(prefix))
            address = QString::fromUtf8(said.mid(prefix.size()).trimmed());
        return pclose(out) == 0;
    }

    QTemporaryDir dir_;
};

} // namespace quaverly::test

#endif
