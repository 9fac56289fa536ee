#include "cli/Job.h"

#include "cli/Console.h"
#include "cli/ProgressLine.h"
#include "engines/util/JobRunner.h"

#include <QEventLoop>
#include <QTimer>

namespace quaverly::cli {

namespace {
// How often the command's thread looks for a Ctrl+C (which only sets a mark) and redraws the
// time left while the work tells nothing new.
constexpr int kWatchMs = 100;
} // namespace

void runOnWorker(const Io& io, const QString& label,
                 const std::function<void(std::stop_token, Meter&)>& work) {
    ProgressLine line(io, label);
    JobRunner runner;
    QEventLoop loop;
    std::uint64_t done = 0, total = 0;
    QObject::connect(&runner, &JobRunner::progressed, &loop,
                     [&](std::uint64_t nowDone, std::uint64_t nowTotal) {
                         done = nowDone;
                         total = nowTotal;
                         line.update(done, total);
                     });
    QObject::connect(&runner, &JobRunner::ended, &loop, &QEventLoop::quit);
    QTimer watch;
    watch.setInterval(kWatchMs);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (interrupted())
            runner.stop();
        line.update(done, total);
    });
    runner.start(
        [&work](const WorkProgress& progress) {
            Meter meter(progress);
            work(progress.stop, meter);
        },
        interrupted());
    watch.start();
    loop.exec();
}

} // namespace quaverly::cli
