#pragma once
// Shared by the benchmark programs that drive the window.
#include "app/Frmmain.h"

#include <QAbstractButton>
#include <QFile>
#include <QTemporaryDir>

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

// Before the QApplication: no display, the virtual sound device, and working folder and settings
// in `base`, so that a run never touches the user's.
inline void isolate(const QTemporaryDir& base) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUAVERLY_AUDIO", "virtual");
    qputenv("QUAVERLY_WORK_BASE", QFile::encodeName(base.filePath(QStringLiteral("cache"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base.filePath(QStringLiteral("config"))));
}

// Clicks the window's button of that object name.
inline void click(Frmmain& w, const char* name) {
    w.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

} // namespace quaverly::bench
