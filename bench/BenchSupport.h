#pragma once
// Shared by the benchmark programs that drive the window.
#include "app/Frmmain.h"

#include <QAbstractButton>
#include <QFile>

namespace quaverly::bench {

// The process's peak resident memory so far (VmHWM), in KiB; 0 where it cannot be read.
inline long peakKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// Clicks the window's button of that object name.
inline void click(Frmmain& w, const char* name) {
    w.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

} // namespace quaverly::bench
