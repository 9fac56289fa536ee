#pragma once
// The progress line quaverly-cli draws on standard error while that is a terminal: what is being
// done, a bar, the percent and, once it can be told, the time left. It is redrawn in place at
// most ten times a second and cleared when the work ends, so nothing of it stays among the
// command's own lines. With standard error not a terminal, or with --quiet, nothing is written.
//
// Threads: a ProgressLine belongs to the command's thread, the only one that writes to its Io;
// work on another thread tells it how far it is through a job (Job.h).

#include "cli/CommandSupport.h"

#include <QString>

#include <chrono>
#include <cstdint>

namespace quaverly::cli {

// The line for `label` with `done` of `total` after `elapsed` seconds, at most `columns` - 1
// characters wide (a terminal's last column would wrap it): "label [#####-----]  42%  0:07 left".
// The time left (whole seconds, rounded up) is told from a second or 5 % on; the percent stops at
// 99 until the work ends (an encoder reads its source somewhat ahead of what it has written). With
// no total only the label and "..." are told. A label too long for the line is shortened at its
// end.
QString progressText(const QString& label, std::uint64_t done, std::uint64_t total, double elapsed,
                     int columns);

class ProgressLine {
public:
    // Draws `label` at once, with the bar at 0 % when the work is `measured` (tells how far it
    // is through update()).
    ProgressLine(const Io& io, QString label, bool measured = true);
    // Clears the line.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line for `done` of `total` when a tenth of a second has passed since the last
    // drawing.
    void update(std::uint64_t done, std::uint64_t total);

private:
    void draw(const QString& text);

    const Io& io_;
    QString label_;
    bool measured_;
    int columns_ = 80;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
    QString shown_;
};

} // namespace quaverly::cli
