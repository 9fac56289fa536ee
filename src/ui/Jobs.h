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
// QFuture, and the progress is read by the window's timer from an atomic; a std::stop_source and
// a thread of the program's own per job (like the encoder's) do what is needed.
//
// Threads: start(), cancel(), running() and the signals belong to the window thread; a job's
// work runs on the job's thread and may call only its JobContext.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

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
    // Changes what the busy window says ("Adding b.mp3 (2 of 5)"), shown at its next update.
    void say(QString words);

    // Tests only: called on the worker at every progress(), with the thousandths reached.
    static inline std::function<void(const JobContext&, int permille)> observeForTesting;

private:
    friend class Jobs;
    explicit JobContext(std::stop_token stop) : stop_(std::move(stop)) {}
    // The words said last, taken by the window thread; under wordsMutex_.
    std::optional<QString> takeWords();

    std::stop_token stop_;
    std::atomic<int> permille_{0};
    std::mutex wordsMutex_;
    std::optional<QString> words_;
};

class Jobs final : public QObject {
    Q_OBJECT
public:
    struct Job {
        QString words;                            // what the busy window says ("Saving ...")
        std::function<void(JobContext&)> work;    // on a pool thread
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
    void poll();
    Q_INVOKABLE void end(); // queued from the job's thread
    QString timeLeft(int permille) const;

    QWidget& window_;
    BusyWindow& busy_;
    QTimer poll_;
    std::shared_ptr<Running> current_;
    std::thread worker_; // the latest job's thread; joined before the rest goes
    int shown_ = -1;
};

} // namespace quaverly
