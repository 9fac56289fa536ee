#include "engines/encoder/Mp3Encoder.h"

#include "engines/util/QueuedCall.h"

#include <QtDebug>

#include <climits>
#include <utility>

namespace quaverly {

Mp3Encoder::Mp3Encoder(QObject* parent) : QObject(parent) {
    qRegisterMetaType<quaverly::EncodeResult>("quaverly::EncodeResult");
    worker_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

Mp3Encoder::~Mp3Encoder() {
    // The stop request wakes the worker if it waits, and makes the running job give up at its
    // next block. Results it posted before that are dropped by ~QObject, which discards the
    // events still queued for this object, so no EncodeDone is emitted after this point.
    worker_.request_stop();
    worker_.join();
}

bool Mp3Encoder::isValidBitRate(int kbps) {
    return mp3::isValidBitRate(kbps);
}

void Mp3Encoder::setBitRate(int kbps) {
    if (!isValidBitRate(kbps)) {
        qWarning("Mp3Encoder: %d kbit/s is not an MP3 bit rate (8-320, MPEG Layer III); "
                 "keeping %d kbit/s",
                 kbps, bitRate_);
        return;
    }
    bitRate_ = kbps;
}

int Mp3Encoder::EncodeFiles(const QString& sourceWav, const QString& targetMp3) {
    return queue(Job{0, sourceWav, targetMp3, bitRate_, {}, {}});
}

int Mp3Encoder::EncodeSource(SourceFactory make, const QString& sourceName,
                             const QString& targetMp3) {
    return queue(Job{0, sourceName, targetMp3, bitRate_, std::move(make), {}});
}

int Mp3Encoder::EncodeFilesAs(const QString& sourceWav, const QString& target, Output output) {
    return queue(
        Job{0, sourceWav, target, output.settings.effectiveValue(), {}, std::move(output)});
}

int Mp3Encoder::EncodeSourceAs(SourceFactory make, const QString& sourceName, const QString& target,
                               Output output) {
    const int value = output.settings.effectiveValue();
    return queue(Job{0, sourceName, target, value, std::move(make), std::move(output)});
}

int Mp3Encoder::queue(Job job) {
    const int id = nextId_;
    nextId_ = nextId_ == INT_MAX ? 1 : nextId_ + 1;
    ++pending_;
    live_.insert(id);
    job.id = id;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return id;
}

namespace {

std::optional<mp3::EncodeFailure> encodeJob(const Mp3Encoder::SourceFactory& make,
                                            const QString& source, const QString& target,
                                            int bitRate, std::stop_token stop) {
    if (!make)
        return mp3::encodeWavToMp3(source, target, bitRate, std::move(stop));
    const Result<std::unique_ptr<mp3::PcmSource>> pcm = make();
    if (!pcm)
        return mp3::EncodeFailure{mp3::EncodeStep::Source, pcm.error()};
    return mp3::encodeToMp3(**pcm, source, target, bitRate, std::move(stop));
}

std::optional<mp3::EncodeFailure> encodeJobAs(const Mp3Encoder::SourceFactory& make,
                                              const QString& source, const QString& target,
                                              const Mp3Encoder::Output& output,
                                              std::stop_token stop) {
    const Result<std::unique_ptr<mp3::PcmSource>> pcm =
        make ? make() : encode::openWavSource(source);
    if (!pcm)
        return mp3::EncodeFailure{make ? mp3::EncodeStep::Source : mp3::EncodeStep::ReadWav,
                                  pcm.error()};
    return encode::encodeSong(**pcm, source, target, output.settings, output.tags, std::move(stop));
}

} // namespace

void Mp3Encoder::cancelAll() {
    std::unique_lock lock(mutex_);
    queue_.clear();
    cancelJob_.request_stop();
    jobEnded_.wait(lock, [this] { return !running_; });
    lock.unlock();
    // Results posted before the cancel are still queued for this thread: deliver() drops them.
    live_.clear();
    pending_ = 0;
}

void Mp3Encoder::run(std::stop_token stop) {
    for (;;) {
        Job job;
        std::stop_source cancel;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return !queue_.empty(); }))
                return; // stop requested
            job = std::move(queue_.front());
            queue_.pop_front();
            cancelJob_ = cancel;
            running_ = true;
        }
        // The job gives up at its next block when the encoder goes or cancelAll() asks.
        const std::stop_callback encoderStops(stop, [cancel]() mutable { cancel.request_stop(); });
        // Every file of the job is closed when this returns.
        std::optional<mp3::EncodeFailure> failure =
            job.output
                ? encodeJobAs(job.make, job.source, job.target, *job.output, cancel.get_token())
                : encodeJob(job.make, job.source, job.target, job.bitRate, cancel.get_token());
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        jobEnded_.notify_all();
        if (stop.stop_requested())
            return; // the encoder is going away: nobody is left to tell
        if (cancel.stop_requested())
            continue; // cancelled: nobody waits for its result
        const encode::Format format =
            job.output ? job.output->settings.format : encode::Format::Mp3;
        // The result goes through the mutex, the queued call carries nothing (see QueuedCall.h).
        {
            std::lock_guard lock(mutex_);
            results_.push_back(EncodeResult{job.id, std::move(job.source), std::move(job.target),
                                            job.bitRate, format, std::move(failure)});
        }
        queueCall(this, "deliver");
    }
}

void Mp3Encoder::deliver() {
    EncodeResult result;
    {
        std::lock_guard lock(mutex_);
        if (results_.empty())
            return;
        result = std::move(results_.front());
        results_.pop_front();
    }
    if (!live_.remove(result.jobId))
        return; // cancelled after it was posted
    --pending_;
    // Last statement: a handler may have destroyed this object by the time it returns.
    emit EncodeDone(result);
}

} // namespace quaverly
