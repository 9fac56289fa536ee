#include "cli/Job.h"

#include "cli/Console.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace quaverly::cli {

void runOnWorker(const Io& io, const QString& label,
                 const std::function<void(std::stop_token, Meter&)>& work) {
    ProgressLine line(io, label);
    Meter meter;
    std::stop_source stop;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::exception_ptr thrown;

    if (interrupted())
        stop.request_stop();
    std::jthread worker([&] {
        try {
            work(stop.get_token(), meter);
        } catch (...) {
            thrown = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        ended.notify_one();
    });
    // This thread draws and watches; the worker's end wakes it at once.
    std::unique_lock lock(mutex);
    while (!ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
        if (interrupted())
            stop.request_stop();
        line.update(meter.done(), meter.total());
    }
    lock.unlock();
    worker.join();
    if (thrown)
        std::rethrow_exception(thrown);
}

} // namespace quaverly::cli
