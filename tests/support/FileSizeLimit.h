#pragma once
// Real write failures for tests that run as root, where read-only folders do not stop anything:
// the work runs in a child process whose files may not grow past a limit (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so a write past it fails with EFBIG instead of ending the process).

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quaverly::test {

inline constexpr bool kCanLimitFileSize =
#ifdef Q_OS_UNIX
    true;
#else
    false;
#endif

// Runs `work` in a child process whose files cannot grow past `limitBytes` and returns the text
// it returned; nullopt when the child did not end by itself within 30 s or could not be started.
inline std::optional<QString> withFileSizeLimit(qint64 limitBytes,
                                                const std::function<QString()>& work) {
#ifdef Q_OS_UNIX
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(limitBytes), rlim_t(limitBytes)};
        int rc = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? 0 : 2;
        if (rc == 0) {
            const QByteArray text = work().toUtf8();
            if (::write(pipeFds[1], text.constData(), size_t(text.size())) != text.size())
                rc = 3;
        }
        ::_exit(rc);
    }
    ::close(pipeFds[1]);
    QByteArray text;
    char buffer[4096];
    int status = 0;
    bool hung = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, n);
                continue;
            }
        }
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            hung = false;
            break;
        }
    }
    if (!hung) { // the child has gone: what it left in the pipe ends at its end of file
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, n);
    }
    ::close(pipeFds[0]);
    if (hung) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return QString::fromUtf8(text);
#else
    (void)limitBytes;
    (void)work;
    return std::nullopt;
#endif
}

} // namespace quaverly::test
