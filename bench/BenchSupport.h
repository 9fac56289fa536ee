#pragma once
// Shared by the benchmark programs that drive the window.
#include "app/Frmmain.h"
#include "ui/Jobs.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

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

// Where isolate() puts the working folder: nothing else of the run writes there.
inline QString workBase(const QTemporaryDir& base) {
    return base.filePath(QStringLiteral("cache"));
}

// Before the QApplication: no display, the virtual sound device, and working folder and settings
// in `base`, so that a run never touches the user's.
inline void isolate(const QTemporaryDir& base) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUAVERLY_AUDIO", "virtual");
    qputenv("QUAVERLY_WORK_BASE", QFile::encodeName(workBase(base)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base.filePath(QStringLiteral("config"))));
}

// Clicks the window's button of that object name.
inline void click(Frmmain& w, const char* name) {
    w.findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

// Clicks the button and, should the click start a job, returns when the job has ended: whole-file
// work runs on a worker, so the click itself returns at once.
inline void clickToEnd(Frmmain& w, const char* name) {
    QEventLoop loop;
    QObject::connect(&w.jobs(), &Jobs::finished, &loop, &QEventLoop::quit);
    click(w, name);
    if (w.jobs().running())
        loop.exec();
}

// The largest disk use of the files under a folder, sampled every 2 ms on a thread of its own
// from construction until stop(). A file is counted by its length or by the blocks it holds,
// whichever is larger (space reserved ahead of the writes counts). Only a file written and
// removed between two samples escapes, and none worth measuring is written that fast.
// Threads: construct, stop() and destroy on one thread; the sampling thread only reads the disk.
class FolderPeak {
public:
    explicit FolderPeak(std::filesystem::path folder)
        : folder_(std::move(folder)), thread_([this](std::stop_token stop) { run(stop); }) {}
    ~FolderPeak() { stop(); }
    FolderPeak(const FolderPeak&) = delete;
    FolderPeak& operator=(const FolderPeak&) = delete;

    // Ends sampling after one last sample and gives the largest total seen, in bytes.
    std::uintmax_t stop() {
        if (thread_.joinable()) {
            thread_.request_stop();
            thread_.join();
        }
        return peak_.load();
    }

    // The disk use of the files under `folder` now; files that vanish while it walks are skipped.
    static std::uintmax_t total(const std::filesystem::path& folder) {
        namespace fs = std::filesystem;
        std::error_code error;
        std::uintmax_t sum = 0;
        fs::recursive_directory_iterator it(folder, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            struct stat st {};
            if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
                sum += std::max<std::uintmax_t>(std::uintmax_t(st.st_size),
                                                std::uintmax_t(st.st_blocks) * 512);
        }
        return sum;
    }

private:
    void run(const std::stop_token& stop) {
        for (;;) {
            const std::uintmax_t now = total(folder_);
            if (now > peak_.load())
                peak_.store(now);
            if (stop.stop_requested())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    const std::filesystem::path folder_;
    std::atomic<std::uintmax_t> peak_{0};
    std::jthread thread_; // last: it starts once the members it reads exist
};

} // namespace quaverly::bench
