#pragma once
// Worker threads for work cut into jobs whose results are used strictly in order: the segment
// encoders (MP3, AAC, FLAC) and the decoders that decode a song in chunks (FLAC, Layer III).
// Jobs are handed out in the order they are submitted, each worker runs the pool's function on
// one job at a time, and the results are taken back in submission order, whichever worker
// finishes first. The owner bounds the memory: it submits a job only while fewer than it allows
// are pending (submitted, their results not taken yet).
//
// A stop request (the token given to the constructor), abandon(), a failure that collect() meets
// or the destruction abandons everything: waiting calls return, workers take no further job, and
// the function's stop token is requested, so that it gives up its job at its next chunk of work
// and everything ends within milliseconds. The owner's calls notice a stop request, and a take()
// that waits looks at it every kStopCheck. No std::stop_callback does it: with MinGW's libstdc++
// 12 one destroyed while another thread runs it can wait for ever (a lost wake-up in its
// semaphore), which would hang a cancelled job on Windows.
//
// Threads: one thread (the owner's) calls start(), submit(), take(), collect(), submitted(),
// taken() and pending(); the workers only run the function; abandoned() and abandon() may be
// called from any thread. The function runs on the workers, so whatever it touches besides its
// job must be read-only while the pool works.

#include "engines/util/Error.h"

#include <algorithm>
#include <chrono>
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

namespace quaverly {

template <typename Job, typename Result> class OrderedPool {
public:
    using Work = std::function<Result(Job&, const std::stop_token&)>;

    static constexpr std::chrono::milliseconds kStopCheck{10};

    explicit OrderedPool(Work work, std::stop_token stop = {})
        : work_(std::move(work)), stop_(std::move(stop)) {}
    ~OrderedPool() {
        abandon();
        workers_.clear(); // joins
    }
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Starts `threads` workers (at least one); once only.
    void start(int threads) {
        for (int i = 0; i < std::max(1, threads); ++i)
            workers_.emplace_back([this] { run(); });
    }

    // Queues a job; false (and the job dropped) once the pool has been abandoned.
    bool submit(Job job) {
        noticeStop();
        {
            std::lock_guard lock(mutex_);
            if (abandoned())
                return false;
            jobs_.emplace_back(submitted_, std::move(job));
        }
        ++submitted_;
        jobReady_.notify_one();
        return true;
    }

    // Moves the result of the next job in submission order into `into`. Without `wait`, false
    // when it is not ready yet; with it, waits for it. False too once the pool has been abandoned.
    bool take(Result& into, bool wait) {
        std::unique_lock lock(mutex_);
        // A stop request wakes nobody: the wait looks at it every kStopCheck.
        while (wait && !resultReady_.wait_for(lock, kStopCheck, [this] {
            return abandoned() || results_.count(taken_) != 0;
        })) {
        }
        if (abandoned()) {
            lock.unlock();
            noticeStop();
            return false;
        }
        const auto it = results_.find(taken_);
        if (it == results_.end())
            return false;
        into = std::move(it->second);
        results_.erase(it);
        ++taken_;
        return true;
    }

    // Hands the results that are ready, in order, to use(Result&), which returns a Status; with
    // `wait`, waits for the next one and hands that one only. The first failure of `use` abandons
    // the pool and is returned; once the pool has been abandoned, `stopped`.
    template <typename Use> Status collect(bool wait, Use&& use, const Error& stopped) {
        for (;;) {
            Result r;
            const bool got = take(r, wait);
            if (abandoned())
                return stopped;
            if (!got)
                return {};
            if (Status s = use(r); !s) {
                abandon();
                return s;
            }
            if (wait)
                return {};
        }
    }

    std::size_t submitted() const { return submitted_; }
    std::size_t taken() const { return taken_; }
    // Jobs submitted whose results have not been taken yet.
    std::size_t pending() const { return submitted_ - taken_; }

    bool abandoned() const { return abandon_.stop_requested() || stop_.stop_requested(); }
    void abandon() {
        {
            std::lock_guard lock(mutex_);
            abandon_.request_stop();
        }
        jobReady_.notify_all();
        resultReady_.notify_all();
    }

private:
    // The owner's thread: a stop requested of the owner reaches the workers' jobs.
    void noticeStop() {
        if (stop_.stop_requested() && !abandon_.stop_requested())
            abandon();
    }

    void run() {
        const std::stop_token stop = abandon_.get_token();
        for (;;) {
            std::pair<std::size_t, Job> job;
            {
                std::unique_lock lock(mutex_);
                jobReady_.wait(lock, [this] { return abandoned() || !jobs_.empty(); });
                if (abandoned())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            Result r = work_(job.second, stop);
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

    // Shared with the workers, under mutex_ (abandon_ is also read without it).
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable resultReady_;
    std::stop_source abandon_;
    const std::stop_token stop_; // the owner's
    std::deque<std::pair<std::size_t, Job>> jobs_;
    std::map<std::size_t, Result> results_;

    std::vector<std::jthread> workers_; // last: joined before everything above goes
};

} // namespace quaverly
