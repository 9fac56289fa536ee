#include "ui/Jobs.h"

#include "engines/util/QueuedCall.h"
#include "engines/util/TimeLeft.h"
#include "ui/BusyWindow.h"

#include <QWidget>

#include <algorithm>

namespace quaverly {

namespace {

int permilleOf(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 0 : int(std::min<std::uint64_t>(1000, done * 1000 / total));
}

} // namespace

void JobContext::progress(std::uint64_t done, std::uint64_t total) {
    if (total == 0)
        return;
    progress_.report(done, total);
    if (observeForTesting)
        observeForTesting(*this, permilleOf(done, total));
}

void JobContext::say(QString words) {
    {
        const std::lock_guard lock(words_.mutex);
        if (words_.said) {
            words_.said = std::move(words); // a call is queued already
            return;
        }
        words_.said = std::move(words);
    }
    queueCall(&jobs_, "showWords");
}

struct Jobs::Running {
    explicit Running(Job j) : job(std::move(j)) {}
    Job job;
    JobContext::Words words;
    QElapsedTimer clock;
};

Jobs::Jobs(QWidget& window, BusyWindow& busy, QObject* parent)
    : QObject(parent), window_(window), busy_(busy) {
    setObjectName(QStringLiteral("Jobs"));
    connect(&runner_, &JobRunner::progressed, this, &Jobs::showProgress);
    connect(&runner_, &JobRunner::ended, this, &Jobs::end);
}

Jobs::~Jobs() = default;

bool Jobs::start(Job job) {
    if (current_)
        return false;
    auto running = std::make_shared<Running>(std::move(job));
    current_ = running;
    shown_ = -1;
    running->clock.start();
    window_.setEnabled(false);
    busy_.showJob(running->job.words, [this] { cancel(); });
    runner_.start([this, running](const WorkProgress& progress) {
        JobContext context(progress, running->words, *this);
        running->job.work(context);
    });
    return true;
}

void Jobs::cancel() {
    runner_.stop();
}

void Jobs::waitForDone() {
    runner_.wait();
}

void Jobs::showWords() {
    if (!current_)
        return;
    std::optional<QString> words;
    {
        const std::lock_guard lock(current_->words.mutex);
        words = std::exchange(current_->words.said, std::nullopt);
    }
    if (words)
        busy_.setText(*words);
}

void Jobs::showProgress(std::uint64_t done, std::uint64_t total) {
    if (!current_)
        return;
    const int permille = permilleOf(done, total);
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

void Jobs::end(bool cancelled) {
    const std::shared_ptr<Running> running = std::exchange(current_, nullptr);
    if (!running)
        return;
    busy_.hide();
    window_.setEnabled(true);
    if (running->job.done)
        running->job.done(cancelled);
    emit finished(cancelled);
}

} // namespace quaverly
