#include "cli/Interrupt.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace quaverly::cli {
namespace {

// Lock-free, so setting it is safe in a signal handler.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

struct sigaction gPrevious {};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true, std::memory_order_relaxed);
}

} // namespace

CatchInterrupt::CatchInterrupt() {
    gInterrupted.store(false, std::memory_order_relaxed);
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
}

CatchInterrupt::~CatchInterrupt() {
    if (caught_ && sigaction(SIGINT, &gPrevious, nullptr) != 0)
        qWarning("quaverly-cli: SIGINT's action cannot be restored: %s", std::strerror(errno));
}

bool interrupted() {
    return gInterrupted.load(std::memory_order_relaxed);
}

} // namespace quaverly::cli
