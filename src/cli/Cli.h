#pragma once
// quaverly-cli: the window's work from a command line, on the very functions the window uses.

#include <QStringList>

#include <cstdio>

namespace quaverly::cli {

// kCancelled: Ctrl+C stopped the work (128 + SIGINT, as a shell reports a program it ended).
enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kCancelled = 130 };

// Runs one command line (without the program name). Results go to `out`, errors and progress
// to `err`. A command that writes catches Ctrl+C while it runs (Console.h). Needs a
// QCoreApplication; "--version" prints its application version.
int run(const QStringList& args, std::FILE* out, std::FILE* err);

// "1500", "1:02.5", "0:01:02.500", "1:00:00" -> milliseconds; -1 when malformed.
long long parseTime(const QString& text);

} // namespace quaverly::cli
