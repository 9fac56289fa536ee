#pragma once
// The console, the one place that knows each system's way with it: whether a stream is a
// terminal and how wide, the bytes its text is written in, and Ctrl+C.
//
// Ctrl+C while a command writes: the first one only sets a mark, which the command's jobs
// (Job.h) turn into a stop request within a fraction of a second, so that the work ends with its
// target as it was; Ctrl+C then has its default action again, and a second one ends the program
// at once. (SIGINT on Linux; the console's control handler on Windows.)

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace quaverly::cli {

// Once at start, before anything is written: on Windows the console takes UTF-8 and the
// escape sequences the progress line uses. Nothing to do elsewhere.
void prepareConsole();

// True when `f` is a terminal (a console window on Windows), not a file or a pipe.
bool isTerminal(std::FILE* f);

// The width of the terminal `f` writes to; 80 when it says none.
int terminalColumns(std::FILE* f);

// `text` in the bytes the console and pipes take: the locale's on Linux, UTF-8 on Windows
// (never the ANSI code page, which has no room for most names).
QByteArray consoleBytes(const QString& text);

// Catches Ctrl+C for as long as it lives. One at a time; made and destroyed on one thread.
class CatchInterrupt {
public:
    // Clears the mark and catches Ctrl+C from now on, unless it is ignored.
    CatchInterrupt();
    // Ctrl+C's action as it was before.
    ~CatchInterrupt();
    CatchInterrupt(const CatchInterrupt&) = delete;
    CatchInterrupt& operator=(const CatchInterrupt&) = delete;

private:
    bool caught_ = false; // the handler is ours
};

// True once Ctrl+C came while a CatchInterrupt lived. Any thread.
bool interrupted();

} // namespace quaverly::cli
