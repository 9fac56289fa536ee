#include "cli/Console.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quaverly::cli {
namespace {

// Lock-free, so setting it is safe in a signal handler (and from Windows' handler thread).
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef Q_OS_WIN
// The system's handle behind a C stream.
HANDLE handleOf(std::FILE* f) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
}

// Windows calls this on a thread of its own. TRUE: handled, the program goes on; FALSE: the
// next handler, at last the system's, which ends the program.
BOOL WINAPI onControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    // The second Ctrl+C finds the default action, as on Linux.
    return gInterrupted.exchange(true, std::memory_order_relaxed) ? FALSE : TRUE;
}
#else
struct sigaction gPrevious {};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true, std::memory_order_relaxed);
}
#endif

} // namespace

void prepareConsole() {
#ifdef Q_OS_WIN
    SetConsoleOutputCP(CP_UTF8);
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE h = GetStdHandle(which);
        DWORD mode = 0;
        if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode))
            SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
#endif
}

bool isTerminal(std::FILE* f) {
#ifdef Q_OS_WIN
    DWORD mode = 0;
    return GetConsoleMode(handleOf(f), &mode) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

int terminalColumns(std::FILE* f) {
#ifdef Q_OS_WIN
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(handleOf(f), &info))
        return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
#else
    winsize size{};
    if (ioctl(fileno(f), TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
#endif
}

QByteArray consoleBytes(const QString& text) {
#ifdef Q_OS_WIN
    return text.toUtf8();
#else
    return text.toLocal8Bit();
#endif
}

CatchInterrupt::CatchInterrupt() {
    gInterrupted.store(false, std::memory_order_relaxed);
#ifdef Q_OS_WIN
    caught_ = SetConsoleCtrlHandler(onControl, TRUE) != 0;
    if (!caught_)
        qWarning("quaverly-cli: Ctrl+C cannot be caught (error %lu)", GetLastError());
#else
    if (sigaction(SIGINT, nullptr, &gPrevious) != 0) {
        qWarning("quaverly-cli: SIGINT's action cannot be read: %s", std::strerror(errno));
        return;
    }
    // A program started with SIGINT ignored (in the background of a shell without job control)
    // keeps ignoring it, as programs do.
    if (!(gPrevious.sa_flags & SA_SIGINFO) && gPrevious.sa_handler == SIG_IGN)
        return;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the second Ctrl+C finds the default action. SA_RESTART: a system call that
    // the signal meets on any of the threads goes on rather than failing with EINTR.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    caught_ = sigaction(SIGINT, &action, nullptr) == 0;
    if (!caught_) // Ctrl+C keeps its default action, which may leave a temporary file behind
        qWarning("quaverly-cli: Ctrl+C cannot be caught: %s", std::strerror(errno));
#endif
}

CatchInterrupt::~CatchInterrupt() {
#ifdef Q_OS_WIN
    if (caught_)
        SetConsoleCtrlHandler(onControl, FALSE);
#else
    if (caught_ && sigaction(SIGINT, &gPrevious, nullptr) != 0)
        qWarning("quaverly-cli: SIGINT's action cannot be restored: %s", std::strerror(errno));
#endif
}

bool interrupted() {
    return gInterrupted.load(std::memory_order_relaxed);
}

} // namespace quaverly::cli
