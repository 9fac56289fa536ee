#pragma once
// Tools for tests of whole-file jobs in the window: hold a job's worker at a chosen point until
// the user's Cancel reaches it, and watch the window thread and the progress while a job runs.
#include "support/Waits.h"
#include "ui/BusyWindow.h"
#include "ui/Jobs.h"

#include <QAbstractButton>
#include <QLabel>

#include <QList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <stop_token>

#include <time.h>

namespace quaverly::test {

// The most time the window thread may spend working between two ticks of its timer while a job
// runs. Code built with a sanitizer (unoptimised, every access checked) runs several times
// slower, so there the limit is four times as long: still far below what whole-file work on the
// window thread takes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr qint64 kWorstBusyMs = 4 * 50;
#else
constexpr qint64 kWorstBusyMs = 50;
#endif

// Stops the running job's worker once its progress reaches `permille`, until the job is asked
// to stop (or 20 s have passed). reached() tells when it got there.
class HoldAt {
public:
    explicit HoldAt(int permille) {
        JobContext::observeForTesting = [this, permille](const JobContext& job, int now) {
            if (now < permille || reached_.exchange(true))
                return;
            // The token is looked at, not waited on: a std::stop_callback can hang under
            // MinGW's libstdc++ 12.
            (void)pollUntil([&job] { return job.stopRequested(); }, 20.0);
        };
    }
    ~HoldAt() { JobContext::observeForTesting = nullptr; }
    HoldAt(const HoldAt&) = delete;
    HoldAt& operator=(const HoldAt&) = delete;

    bool reached() const { return reached_.load(); }

private:
    std::atomic<bool> reached_{false};
};

// Once the held job has reached its point: the busy window says `words` (unless empty) and
// shows Cancel, and the main window is disabled, so nothing can change what the job reads. Then
// Cancel is pressed as a user would, and the job's end waited for.
inline void cancelHeld(const HoldAt& hold, const QWidget& window, BusyWidget& busy,
                       const Jobs& jobs, const QString& words = {}) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return hold.reached(); }, 30000));
    if (!words.isEmpty()) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return busy.Label1->text() == words; }, 5000))
            << qPrintable(busy.Label1->text());
    }
    ASSERT_TRUE(busy.CmdCancel->isVisible());
    EXPECT_FALSE(window.isEnabled());
    busy.CmdCancel->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !jobs.running(); }, 120000));
}

// While it lives: the progress the window saw, and the longest the window thread worked between
// two ticks of a 5 ms timer. Counted in the thread's own CPU time, so that a loaded machine
// taking the thread off its core (which a wall clock would count) does not look like a busy
// window.
class WindowWatch {
public:
    explicit WindowWatch(Jobs& jobs) {
        QObject::connect(&jobs, &Jobs::progressed, &ticks_, [this](int p) { seen.last() << p; });
        // A job that starts the next as it ends (a decode, then its encoding) counts anew.
        QObject::connect(&jobs, &Jobs::finished, &ticks_, [this] { seen.append(QList<int>()); });
        ticks_.setInterval(5);
        QObject::connect(&ticks_, &QTimer::timeout, [this] {
            const qint64 now = cpuMs();
            worstBusyMs = std::max(worstBusyMs, now - last_);
            last_ = now;
            ++ticked_;
        });
        last_ = cpuMs();
        ticks_.start();
    }

    // Waits for the timer's next tick, which counts the work the window thread did last.
    void lastTick() {
        const int ticked = ticked_;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticked_ > ticked; }, 5000));
    }

    // Each job's progress ran in order to its end.
    bool progressComplete() const {
        const auto complete = [](const QList<int>& job) {
            return !job.isEmpty() && std::is_sorted(job.begin(), job.end()) && job.last() == 1000;
        };
        const auto jobs = seen.size() > 1 ? seen.first(seen.size() - 1) : seen; // the last is open
        return !jobs.isEmpty() && std::all_of(jobs.begin(), jobs.end(), complete);
    }

    QList<QList<int>> seen{{}}; // the progress the window saw, job by job
    qint64 worstBusyMs = 0;

private:
    static qint64 cpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    QTimer ticks_;
    qint64 last_ = 0;
    int ticked_ = 0;
};

// Runs a job to its end through `run` (which starts it and waits for it) under a WindowWatch,
// up to three times until the window thread stayed within kWorstBusyMs: a virtual machine's
// stolen time lands on the thread's clock now and then, a window thread doing the job's work
// shows it every time. Each run's progress must have counted up to its end.
struct WatchedRuns {
    qint64 worstBusyMs = std::numeric_limits<qint64>::max(); // of the quietest run
    bool progressComplete = true;                            // in every run
};
inline WatchedRuns watchRuns(Jobs& jobs, const std::function<void()>& run) {
    WatchedRuns runs;
    for (int i = 0; i < 3 && runs.worstBusyMs > kWorstBusyMs; ++i) {
        WindowWatch watch(jobs);
        run();
        watch.lastTick();
        runs.worstBusyMs = std::min(runs.worstBusyMs, watch.worstBusyMs);
        runs.progressComplete = runs.progressComplete && watch.progressComplete();
    }
    return runs;
}

} // namespace quaverly::test
