#pragma once
// A small pool of worker threads for the segment encoders: jobs are handed out in the order they
// are submitted, each worker runs the pool's function on one job at a time, and the results are
// taken back in submission order, whichever worker finishes first. A stop request (the token
// given to the constructor), abandon() or the destruction abandons everything: waiting calls
// return at once, workers take no further job, and the function sees abandoned() and should
// give up its job at its next chunk of work, so everything ends within milliseconds.
//
// Threads: one thread (the owner's) calls start(), submit(), take(), submitted() and taken();
// the workers only run the function; abandoned() and abandon() may be called from any thread.
// The function runs on the workers, so whatever it touches besides its job must be read-only
// while the pool works.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace quaverly::encode::internal {

template <typename Job, typename Result> class OrderedWorkers {
public:
    using Work = std::function<Result(Job&)>;

    explicit OrderedWorkers(Work work, std::stop_token stop = {})
        : work_(std::move(work)), onStop_(std::move(stop), [this] { abandon(); }) {}
    ~OrderedWorkers() {
        abandon();
        workers_.clear(); // joins
    }
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    // Starts `threads` workers (at least one); once only.
    void start(int threads) {
        for (int i = 0; i < std::max(1, threads); ++i)
            workers_.emplace_back([this] { run(); });
    }

    // Queues a job; false (and the job dropped) once the pool has been abandoned.
    bool submit(Job job) {
        {
            std::lock_guard lock(mutex_);
            if (abandoned_)
                return false;
            jobs_.emplace_back(submitted_, std::move(job));
        }
        ++submitted_;
        jobReady_.notify_one();
        return true;
    }

    // Moves the result of the next job in submission order into `into`. Without `wait`, false
    // when it is not ready yet; with it, waits for it. False too once the pool has been abandoned
    // (see abandoned()).
    bool take(Result& into, bool wait) {
        std::unique_lock lock(mutex_);
        if (wait)
            resultReady_.wait(lock, [this] { return abandoned_ || results_.count(taken_) != 0; });
        if (abandoned_)
            return false;
        const auto it = results_.find(taken_);
        if (it == results_.end())
            return false;
        into = std::move(it->second);
        results_.erase(it);
        ++taken_;
        return true;
    }

    std::size_t submitted() const { return submitted_; }
    std::size_t taken() const { return taken_; }
    // Jobs submitted whose results have not been taken yet.
    std::size_t pending() const { return submitted_ - taken_; }

    bool abandoned() const { return abandoned_; }
    void abandon() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        jobReady_.notify_all();
        resultReady_.notify_all();
    }

private:
    void run() {
        for (;;) {
            std::pair<std::size_t, Job> job;
            {
                std::unique_lock lock(mutex_);
                jobReady_.wait(lock, [this] { return abandoned_ || !jobs_.empty(); });
                if (abandoned_)
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            Result r = work_(job.second);
            {
                std::lock_guard lock(mutex_);
                results_.emplace(job.first, std::move(r));
            }
            resultReady_.notify_all();
        }
    }

    const Work work_;

    // The owner's thread only.
    std::size_t submitted_ = 0;
    std::size_t taken_ = 0;

    // Shared with the workers, under mutex_ (abandoned_ is also read without it).
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable resultReady_;
    std::atomic<bool> abandoned_{false};
    std::deque<std::pair<std::size_t, Job>> jobs_;
    std::map<std::size_t, Result> results_;

    std::stop_callback<std::function<void()>> onStop_; // after what abandon() touches
    std::vector<std::jthread> workers_;                // last: joined before everything above goes
};

} // namespace quaverly::encode::internal
