#pragma once
// Whole-file work of a command, done on a worker thread while the command's thread draws the
// progress line and watches for Ctrl+C (Console.h). The work gets a stop token, requested
// within about a tenth of a second of a Ctrl+C (at once when one came before the job started),
// and a Meter to tell how far it is. It must not write to the command's Io: only the command's
// thread writes there.

#include "cli/CommandSupport.h"
#include "cli/ProgressLine.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace quaverly::cli {

// Runs `work` on a worker thread and returns when it has returned; the line shows `label`. An
// exception of the work is thrown again here.
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
