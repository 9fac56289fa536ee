#pragma once
// Runs one piece of whole-file work on a worker thread of its own and tells its owner's thread
// how far it has come and when it has ended, by queued calls: the owner's thread sleeps in its
// event loop meanwhile, woken only when there is news.
//
// The work gets a WorkProgress: a std::stop_token that stop() requests, and a function to tell
// `done` of `total` (any unit) as often as convenient. Reports are coalesced: the owner's thread
// is told at most every kReportGap, and while one call waits to be delivered later reports only
// update what it will deliver; the last report always arrives, before the end.
//
// Threads: the runner belongs to the thread that made it (the owner's), which alone calls its
// members; progressed() and ended() are emitted there. The work runs on the worker and may only
// use its WorkProgress.

#include "engines/util/WorkProgress.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

namespace quaverly {

class JobRunner final : public QObject {
    Q_OBJECT
public:
    using Work = std::function<void(const WorkProgress&)>;
    static constexpr std::chrono::milliseconds kReportGap{25};

    explicit JobRunner(QObject* parent = nullptr);
    ~JobRunner() override; // asks the running work to stop and waits for it, without ended()

    // Starts `work` on a new worker thread; false (and nothing started) while work runs.
    // `stopped` starts it with its stop already requested.
    bool start(Work work, bool stopped = false);
    bool running() const { return running_; }
    // Asks the running work to stop; it ends as soon as it notices.
    void stop();
    bool stopRequested() const;
    // Waits until the work has returned, then delivers what it told and its end at once.
    void wait();

signals:
    // The latest `done` of `total` the work told, after one or more reports.
    void progressed(std::uint64_t done, std::uint64_t total);
    // After the work has returned (its last report delivered first); `stopped` when a stop was
    // requested while it ran.
    void ended(bool stopped);

private:
    struct Shared;
    Q_INVOKABLE void deliver(); // queued from the worker
    Q_INVOKABLE void finish();  // queued from the worker after the work returned

    std::shared_ptr<Shared> shared_; // of the running (or last) work
    std::thread worker_;
    bool running_ = false;
};

} // namespace quaverly
