#pragma once
// Whole-file work of a command, done on a worker thread (a JobRunner) while the command's thread
// draws the progress line and watches for Ctrl+C (Console.h) in a local event loop. The work gets
// a stop token, requested within about a tenth of a second of a Ctrl+C (at once when one came
// before the job started), and a Meter to tell how far it is. It must not write to the command's
// Io: only the command's thread writes there.

#include "cli/CommandSupport.h"
#include "engines/util/WorkProgress.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace quaverly::cli {

// How far a job's work is, in any unit (bytes, frames), told to the command's thread.
class Meter {
public:
    explicit Meter(const WorkProgress& progress) : progress_(progress) {}
    void set(std::uint64_t done, std::uint64_t total) const { progress_.report(done, total); }

private:
    const WorkProgress& progress_;
};

// Runs `work` on a worker thread and returns when it has returned; the line shows `label`.
void runOnWorker(const Io& io, const QString& label,
                 const std::function<void(std::stop_token, Meter&)>& work);

// The same, giving back what `work` returns.
template <typename Work> auto runJob(const Io& io, const QString& label, Work&& work) {
    using R = std::invoke_result_t<Work&, std::stop_token, Meter&>;
    std::optional<R> result;
    runOnWorker(
        io, label,
        std::function<void(std::stop_token, Meter&)>([&](std::stop_token stop, Meter& meter) {
            result.emplace(work(std::move(stop), meter));
        }));
    return std::move(*result);
}

} // namespace quaverly::cli
