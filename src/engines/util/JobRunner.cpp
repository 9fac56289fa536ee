#include "engines/util/JobRunner.h"

#include "engines/util/QueuedCall.h"

#include <QCoreApplication>

namespace quaverly {

namespace {
using Clock = std::chrono::steady_clock;
constexpr Clock::rep kGapTicks =
    std::chrono::duration_cast<Clock::duration>(JobRunner::kReportGap).count();
} // namespace

// What the work's threads and the owner's thread share for one run.
struct JobRunner::Shared {
    std::stop_source stop;
    std::atomic<std::uint64_t> done{0}, total{0};
    std::atomic<bool> told{false};     // a report waits to be delivered
    std::atomic<bool> returned{false}; // the work has returned
    // When a report last queued a call, in clock ticks (reports may come from any thread of the
    // work).
    std::atomic<Clock::rep> toldAt{0};

    // Any thread of the work.
    void report(JobRunner* runner, std::uint64_t nowDone, std::uint64_t nowTotal) {
        total.store(nowTotal, std::memory_order_relaxed);
        done.store(nowDone, std::memory_order_relaxed);
        const Clock::rep now = Clock::now().time_since_epoch().count();
        if (now - toldAt.load(std::memory_order_relaxed) < kGapTicks)
            return; // held back: a later report, or finish(), delivers it
        toldAt.store(now, std::memory_order_relaxed);
        if (!told.exchange(true))
            queueCall(runner, "deliver");
    }
};

JobRunner::JobRunner(QObject* parent) : QObject(parent) {}

JobRunner::~JobRunner() {
    stop();
    if (worker_.joinable())
        worker_.join();
}

bool JobRunner::start(Work work, bool stopped) {
    if (running_)
        return false;
    if (worker_.joinable())
        worker_.join(); // the last run's thread, which has returned
    auto shared = std::make_shared<Shared>();
    if (stopped)
        shared->stop.request_stop();
    shared_ = shared;
    running_ = true;
    worker_ = std::thread([this, shared, work = std::move(work)] {
        work(WorkProgress{shared->stop.get_token(),
                          [this, shared](std::uint64_t done, std::uint64_t total) {
                              shared->report(this, done, total);
                          }});
        shared->returned.store(true);
        queueCall(this, "finish");
    });
    return true;
}

void JobRunner::stop() {
    if (running_)
        shared_->stop.request_stop();
}

bool JobRunner::stopRequested() const {
    return shared_ && shared_->stop.stop_requested();
}

void JobRunner::wait() {
    if (!running_)
        return;
    worker_.join();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void JobRunner::deliver() {
    // A call queued by an earlier run, or one whose report finish() has delivered; or nothing
    // reported at all.
    if (!running_ || !shared_->told.exchange(false) || shared_->total.load() == 0)
        return;
    emit progressed(shared_->done.load(std::memory_order_relaxed),
                    shared_->total.load(std::memory_order_relaxed));
}

void JobRunner::finish() {
    if (!running_ || !shared_->returned.load())
        return;
    shared_->told.store(true); // the last report, which may have been held back
    deliver();
    if (worker_.joinable()) // not joined by wait()
        worker_.join();
    running_ = false;
    emit ended(shared_->stop.stop_requested());
}

} // namespace quaverly
