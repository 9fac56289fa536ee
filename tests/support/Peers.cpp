#include "support/Peers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quaverly::test {
namespace {

// How long past the tool's own limit a test waits for the bridge's answer: the bridge ends the
// tool at that limit itself and says so.
constexpr int kBridgeGraceMs = 10000;

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// The Unix path of a Windows path ("C:\...", "Z:/...": a drive letter, a colon and a slash), as
// wine maps it; anything else as it is.
QString unixPath(const QString& arg) {
#ifdef _WIN32
    const bool windowsPath = arg.size() >= 3 && arg[0].unicode() < 128 && arg[0].isLetter() &&
                             arg[1] == u':' && (arg[2] == u'/' || arg[2] == u'\\');
    if (!windowsPath)
        return arg;
    using ToUnix = char*(CDECL*)(const WCHAR*);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!toUnix)
        return arg;
    const std::wstring wide = QDir::toNativeSeparators(arg).toStdWString();
    char* mapped = toUnix(wide.c_str());
    if (!mapped)
        return arg;
    const QString path = QString::fromUtf8(mapped);
    HeapFree(GetProcessHeap(), 0, mapped);
    return path;
#else
    return arg;
#endif
}

// The folder the bridge serves, from QUAVERLY_PEER_BRIDGE; empty without one. Under wine a Unix
// path there ("/tmp/peer-bridge") is taken as the Windows name wine gives it.
QString bridgeFolder() {
    const QString folder = qEnvironmentVariable("QUAVERLY_PEER_BRIDGE");
#ifdef _WIN32
    if (folder.startsWith(u'/')) {
        using ToDos = WCHAR*(CDECL*)(const char*);
        static const auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_dos_file_name")));
        if (WCHAR* mapped = toDos ? toDos(folder.toUtf8().constData()) : nullptr) {
            const QString path = QString::fromWCharArray(mapped);
            HeapFree(GetProcessHeap(), 0, mapped);
            return path;
        }
    }
#endif
    return folder;
}

// Reads a file of the bridge's answer and removes it.
QByteArray take(const QString& path) {
    QFile f(path);
    QByteArray bytes;
    if (f.open(QIODevice::ReadOnly))
        bytes = f.readAll();
    f.close();
    QFile::remove(path);
    return bytes;
}

PeerRun viaBridge(const QString& folder, PeerRun r, const QStringList& args, const PeerOptions& o) {
    const QDir dir(folder);
    if (!dir.exists(QStringLiteral("serving"))) {
        r.err = "no peer bridge serves " + QFile::encodeName(folder);
        return r;
    }
    static std::atomic<unsigned> calls{0};
    const QString id = QStringLiteral("%1-%2-%3")
                           .arg(QCoreApplication::applicationPid())
                           .arg(++calls)
                           .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    QByteArray request;
    const auto field = [&request](const QString& text) {
        request += text.toUtf8();
        request += '\0';
    };
    field(QString::number(o.timeoutMs / 1000.0, 'f', 3));
    field(r.program);
    for (const QString& a : args)
        field(unixPath(a));
    const QString part = dir.filePath(id + QStringLiteral(".part"));
    QFile f(part);
    const bool written = f.open(QIODevice::WriteOnly) && f.write(request) == request.size();
    f.close();
    if (!written || !QFile::rename(part, dir.filePath(id + QStringLiteral(".req")))) {
        QFile::remove(part);
        r.err = "cannot write a request into " + QFile::encodeName(folder);
        return r;
    }
    const QString code = dir.filePath(id + QStringLiteral(".code"));
    const QDeadlineTimer deadline(o.timeoutMs + kBridgeGraceMs);
    while (!QFile::exists(code)) {
        if (deadline.hasExpired()) {
            r.started = true;
            r.err = "no answer from the peer bridge in " + QFile::encodeName(folder);
            return r;
        }
        pause();
    }
    r.out = take(dir.filePath(id + QStringLiteral(".out")));
    r.err = take(dir.filePath(id + QStringLiteral(".err")));
    QFile::remove(dir.filePath(id + QStringLiteral(".req")));
    const QByteArray status = take(code).trimmed();
    r.started = status != "nostart";
    r.finished = r.started && status != "timeout";
    bool number = false;
    const int exitCode = status.toInt(&number);
    r.exitCode = r.finished && number ? exitCode : -1;
    return r;
}

PeerRun withQProcess(PeerRun r, const QStringList& args, const PeerOptions& o) {
    QProcess p;
    p.start(r.program, args);
    p.closeWriteChannel();
    r.finished = p.waitForFinished(o.timeoutMs);
    r.started = p.error() != QProcess::FailedToStart;
    if (r.started && !r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = r.finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

#ifndef _WIN32
PeerRun withPlainFork(PeerRun r, const QStringList& args, const PeerOptions& o) {
    std::vector<QByteArray> words{QFile::encodeName(r.program)};
    for (const QString& a : args)
        words.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    // A pipe that a successful exec closes: a byte in it says the exec failed.
    int failed[2];
    if (pipe2(failed, O_CLOEXEC) != 0)
        return r;
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        const char byte = 1;
        [[maybe_unused]] const auto told = write(failed[1], &byte, 1);
        _exit(127);
    }
    close(failed[1]);
    char byte = 0;
    ssize_t told = -1;
    while (child > 0 && (told = read(failed[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    r.started = told == 0;
    close(failed[0]);
    if (!r.started) {
        if (child > 0)
            waitpid(child, nullptr, 0);
        return r;
    }
    const QDeadlineTimer deadline(o.timeoutMs);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 && !deadline.hasExpired())
        pause();
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return r;
    }
    r.finished = true;
    r.exitCode = ended == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
#endif

} // namespace

QString PeerRun::failure() const {
    if (ok())
        return {};
    const QString said = QString::fromLocal8Bit(err).trimmed();
    QString what;
    if (!started)
        what = QStringLiteral(" could not be started");
    else if (!finished)
        what = QStringLiteral(" did not end in time");
    else if (exitCode < 0)
        what = QStringLiteral(" did not end normally");
    else
        what = QStringLiteral(" ended with %1").arg(exitCode);
    return program + what + (said.isEmpty() ? QString() : QStringLiteral(": ") + said);
}

PeerRun runPeer(const QString& program, const QStringList& args, const PeerOptions& options) {
    PeerRun r;
    r.program = program;
    if (const QString folder = bridgeFolder(); !folder.isEmpty())
        return viaBridge(folder, r, args, options);
#ifndef _WIN32
    if (options.plainFork)
        return withPlainFork(r, args, options);
#endif
    return withQProcess(r, args, options);
}

bool havePeer(const QString& program) {
    static QMutex mutex;
    static QHash<QString, bool> known; // by the bridge's folder and the program
    const QMutexLocker lock(&mutex);
    const QString folder = bridgeFolder();
    const QString key = folder + u'\n' + program;
    if (const auto it = known.constFind(key); it != known.cend())
        return *it;
    const bool there = folder.isEmpty()
                           ? !QStandardPaths::findExecutable(program).isEmpty()
                           : runPeer(QStringLiteral("sh"),
                                     {QStringLiteral("-c"), QStringLiteral("command -v \"$1\""),
                                      QStringLiteral("sh"), program})
                                 .ok();
    known.insert(key, there);
    return there;
}

} // namespace quaverly::test
