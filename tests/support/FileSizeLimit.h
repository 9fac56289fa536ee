#pragma once
// Real write failures for tests that run as root, where read-only folders do not stop anything:
// the work runs in a child process whose files may not grow past a limit (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so a write past it fails with EFBIG instead of ending the process).

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
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
// it returned; nullopt when the child could not be started or did not end normally.
inline std::optional<QString> withFileSizeLimit(qint64 limitBytes,
                                                const std::function<QString()>& work) {
#ifdef Q_OS_UNIX
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(limitBytes), rlim_t(limitBytes)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(2);
        const QByteArray text = work().toUtf8();
        ::_exit(::write(fds[1], text.constData(), size_t(text.size())) == text.size() ? 0 : 3);
    }
    ::close(fds[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n); // until the child's end closes the pipe
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return std::nullopt;
    return QString::fromUtf8(text);
#else
    (void)limitBytes;
    (void)work;
    return std::nullopt;
#endif
}

} // namespace quaverly::test
