#pragma once
// Ctrl+C while a command writes. The first SIGINT only sets a mark, which the command's jobs
// (Job.h) turn into a stop request within a fraction of a second, so that the work ends with its
// target as it was; the signal then has its default action again, and a second Ctrl+C ends the
// program at once.

namespace quaverly::cli {

// Catches SIGINT for as long as it lives. One at a time; made and destroyed on one thread.
class CatchInterrupt {
public:
    // Clears the mark and catches SIGINT from now on, unless it is ignored.
    CatchInterrupt();
    // SIGINT's action as it was before.
    ~CatchInterrupt();
    CatchInterrupt(const CatchInterrupt&) = delete;
    CatchInterrupt& operator=(const CatchInterrupt&) = delete;

private:
    bool caught_ = false; // the handler is ours
};

// True once SIGINT came while a CatchInterrupt lived. Any thread.
bool interrupted();

} // namespace quaverly::cli
