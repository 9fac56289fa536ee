#pragma once
// Whole-file work off the window thread. A job's work runs on a worker thread of its own;
// the window thread only starts it, shows its progress in the busy window (bar, percent, time
// left once it can be told, Cancel) and runs its completion. While a job runs the main window
// is disabled, so nothing can change what the job reads; it still repaints, moves and resizes.
//
// Cancel reaches the work as a stop request on its std::stop_token, the one the sound core's
// functions take; the work then ends as soon as it notices, and what it leaves behind is its
// own business (the core writes through AtomicFile: nothing partial, the target untouched).
//
// Why not QtConcurrent with QPromise: the core is cancelled through std::stop_token, not by
// QFuture; a JobRunner (a thread of the program's own per job, like the encoder's) does what is
// needed and tells the window thread of the progress and the end by queued calls.
//
// Threads: start(), cancel(), running() and the signals belong to the window thread; a job's
// work runs on the job's thread and may call only its JobContext.

#include "engines/util/JobRunner.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

class QWidget;

namespace quaverly {

class BusyWindow;

// What a job's work gets: its stop token and where it tells its progress.
class JobContext {
public:
    const std::stop_token& stop() const { return stop_; }
    bool stopRequested() const { return stop_.stop_requested(); }
    // `done` of `total` (any unit); cheap, call it as often as convenient.
    void progress(std::uint64_t done, std::uint64_t total);
    // The same as the core's work takes it: the stop, and progress() told.
    WorkProgress work() {
        return {stop_, [this](std::uint64_t done, std::uint64_t total) { progress(done, total); }};
    }
    // Changes what the busy window says ("Adding b.mp3 (2 of 5)").
    void say(QString words);

    // Tests only: called on the worker at every progress(), with the thousandths reached.
    static inline std::function<void(const JobContext&, int permille)> observeForTesting;

private:
    friend class Jobs;
    // What the work says, waiting for the window thread.
    struct Words {
        std::mutex mutex;
        std::optional<QString> said;
    };
    JobContext(const WorkProgress& progress, Words& words, QObject& jobs)
        : stop_(progress.stop), progress_(progress), words_(words), jobs_(jobs) {}

    std::stop_token stop_;
    const WorkProgress& progress_; // the runner's, for as long as the work runs
    Words& words_;
    QObject& jobs_; // told when there are new words
};

class Jobs final : public QObject {
    Q_OBJECT
public:
    struct Job {
        QString words;                            // what the busy window says ("Saving ...")
        std::function<void(JobContext&)> work;    // on the job's thread
        std::function<void(bool cancelled)> done; // on the window thread, after `work`
    };

    Jobs(QWidget& window, BusyWindow& busy, QObject* parent = nullptr);
    ~Jobs() override; // asks the running job to stop and waits for it

    // Starts `job`; false (and nothing started) while another job runs.
    bool start(Job job);
    bool running() const { return current_ != nullptr; }
    // What Cancel does: asks the running job to stop.
    void cancel();
    // Waits until the running job has ended and its completion has run.
    void waitForDone();

signals:
    // The progress shown, in thousandths, as the window saw it (in order, the last 1000 when
    // the job ran to its end).
    void progressed(int permille);
    // After a job's completion has run.
    void finished(bool cancelled);

private:
    struct Running;
    void showProgress(std::uint64_t done, std::uint64_t total);
    Q_INVOKABLE void showWords(); // queued from the job's thread
    void end(bool cancelled);
    QString timeLeft(int permille) const;

    QWidget& window_;
    BusyWindow& busy_;
    std::shared_ptr<Running> current_;
    int shown_ = -1;
    JobRunner runner_; // declared last: goes first, waiting for the job's thread
};

} // namespace quaverly
