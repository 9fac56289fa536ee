#include "ui/Jobs.h"

#include "engines/util/QueuedCall.h"
#include "engines/util/TimeLeft.h"
#include "ui/BusyWindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>

#include <algorithm>

namespace quaverly {

namespace {
constexpr int kPollMs = 100;
} // namespace

void JobContext::progress(std::uint64_t done, std::uint64_t total) {
    if (total == 0)
        return;
    const int permille = int(std::min<std::uint64_t>(1000, done * 1000 / total));
    permille_.store(permille, std::memory_order_relaxed);
    if (observeForTesting)
        observeForTesting(*this, permille);
}

void JobContext::say(QString words) {
    const std::lock_guard lock(wordsMutex_);
    words_ = std::move(words);
}

std::optional<QString> JobContext::takeWords() {
    const std::lock_guard lock(wordsMutex_);
    return std::exchange(words_, std::nullopt);
}

struct Jobs::Running {
    explicit Running(Job j) : job(std::move(j)), context(stop.get_token()) {}
    Job job;
    std::stop_source stop; // declared before the context, which takes its token
    JobContext context;
    QElapsedTimer clock;
};

Jobs::Jobs(QWidget& window, BusyWindow& busy, QObject* parent)
    : QObject(parent), window_(window), busy_(busy) {
    setObjectName(QStringLiteral("Jobs"));
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &Jobs::poll);
}

Jobs::~Jobs() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

bool Jobs::start(Job job) {
    if (current_)
        return false;
    auto running = std::make_shared<Running>(std::move(job));
    current_ = running;
    shown_ = -1;
    running->clock.start();
    window_.setEnabled(false);
    busy_.showJob(running->job.words, [this] { cancel(); });
    poll_.start();
    if (worker_.joinable())
        worker_.join(); // the last job's thread, which has ended
    worker_ = std::thread([this, running] {
        running->job.work(running->context);
        // The completion runs on the window thread, queued behind what is already there.
        queueCall(this, "end");
    });
    return true;
}

void Jobs::cancel() {
    if (current_)
        current_->stop.request_stop();
}

void Jobs::waitForDone() {
    if (!current_)
        return;
    worker_.join();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Jobs::poll() {
    if (!current_)
        return;
    if (const auto words = current_->context.takeWords())
        busy_.setText(*words);
    const int permille = current_->context.permille_.load(std::memory_order_relaxed);
    busy_.setProgress(permille, timeLeft(permille));
    if (permille != shown_) {
        shown_ = permille;
        emit progressed(permille);
    }
}

QString Jobs::timeLeft(int permille) const {
    const auto left = secondsLeft(permille / 1000.0, current_->clock.elapsed() / 1000.0);
    if (!left)
        return QString();
    const qint64 seconds = *left;
    if (seconds < 60)
        return tr("About %1 s left").arg(std::max<qint64>(1, seconds));
    return tr("About %1 min left").arg((seconds + 30) / 60);
}

void Jobs::end() {
    const std::shared_ptr<Running> running = std::exchange(current_, nullptr);
    if (!running)
        return;
    poll_.stop();
    const bool cancelled = running->stop.stop_requested();
    if (!cancelled) {
        const int permille = running->context.permille_.load(std::memory_order_relaxed);
        if (permille == 1000 && shown_ != 1000)
            emit progressed(1000);
    }
    busy_.hide();
    window_.setEnabled(true);
    if (running->job.done)
        running->job.done(cancelled);
    emit finished(cancelled);
}

} // namespace quaverly
