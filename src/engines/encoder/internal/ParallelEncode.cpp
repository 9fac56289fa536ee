#include "engines/encoder/internal/ParallelEncode.h"

#include "engines/encoder/internal/LameEncoder.h"
#include "engines/util/AtomicFile.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace quaverly::mp3 {
namespace {

constexpr std::size_t kChunkFrames = 8192; // sample frames per call into LAME
constexpr int kTailFrames = 4;
constexpr std::int64_t kSlackFrames = 65536; // sample frames of a large encode() call //
                                             // frames of real sound an encoder needs after a splice

std::mutex planMutex;
SegmentPlan testPlan;
bool testPlanSet = false;

// The plan in force, and whether it is a test's (kept as it is).
std::pair<SegmentPlan, bool> currentPlan() {
    std::lock_guard lock(planMutex);
    return {testPlanSet ? testPlan : SegmentPlan{}, testPlanSet};
}

} // namespace

void setSegmentPlanForTesting(std::optional<SegmentPlan> plan) {
    std::lock_guard lock(planMutex);
    testPlanSet = plan.has_value();
    testPlan = plan.value_or(SegmentPlan{});
}

ParallelMp3Writer::ParallelMp3Writer(AtomicFile& out, const QString& target, int threads,
                                     std::stop_token stop)
    : out_(out), target_(target), threads_(std::max(1, threads)), plan_(currentPlan().first),
      fixedPlan_(currentPlan().second),
      workers_([this](Job& job, const std::stop_token&) { return encodeJob(job); },
               std::move(stop)) {}

Error ParallelMp3Writer::fail(EncodeStep step, const QString& cause) const {
    return Error(target_, cause).during(step);
}

Error ParallelMp3Writer::writeFailed(const Status& s) const {
    return fail(EncodeStep::Write, s.error().cause());
}

Status ParallelMp3Writer::open(int sampleRate, int channels, int kbps, bool gapless) {
    sampleRate_ = sampleRate;
    channels_ = channels;
    kbps_ = kbps;
    gapless_ = gapless;
    frameSamples_ = sampleRate >= 32000 ? 1152 : 576;
    // As many segments of about the planned size as make a multiple of the threads, so the last
    // round keeps every thread busy rather than one. A sound of one such segment (up to about
    // 30 s) stays one: a single pass's bytes, loudness in the tag included.
    if (expected_ > 0 && !fixedPlan_) {
        const std::int64_t frames = (expected_ + frameSamples_ - 1) / frameSamples_;
        std::int64_t segments =
            std::max<std::int64_t>(1, (frames + plan_.frames / 2) / plan_.frames);
        if (segments > 1)
            segments = (segments + threads_ - 1) / threads_ * threads_;
        plan_.frames = int(std::max<std::int64_t>(4 * (plan_.leadIn + plan_.leadOut),
                                                  (frames + segments - 1) / segments));
    }
    // Refusals come at once, as from a single pass, rather than from the first worker.
    LameEncoder probe;
    if (Status err = probe.open(sampleRate, channels, kbps, true, true); !err)
        return fail(EncodeStep::Encode, err.error().cause());
    workers_.start(threads_);
    return {};
}

Status ParallelMp3Writer::encode(const float* frames, std::size_t count) {
    buffer_.insert(buffer_.end(), frames, frames + count * std::size_t(channels_));
    received_ += std::int64_t(count);
    const std::int64_t segment = plan_.frames;
    while (received_ >=
           ((std::int64_t(workers_.submitted()) + 1) * segment + plan_.leadOut) * frameSamples_)
        if (Status err = dispatch(false); !err)
            return err;
    return {};
}

Status ParallelMp3Writer::finish() {
    if (received_ > bufferStart_ || workers_.submitted() == 0)
        if (Status err = dispatch(true); !err)
            return err;
    while (workers_.pending() > 0)
        if (Status err = collect(true); !err)
            return err;
    if (held_)
        if (Status err = writeFrames(*held_, heldFrom_, held_->frames.size()); !err)
            return err;
    if (!gapless_)
        return {};
    if (tag_.empty())
        return fail(EncodeStep::Encode, QStringLiteral("the encoder wrote no gapless tag"));
    if (workers_.submitted() > 1) {
        StreamFacts facts;
        facts.audioFrames = std::uint32_t(frameOffsets_.size());
        facts.totalBytes = std::uint32_t(written_);
        facts.frameOffsets = frameOffsets_;
        facts.sampleFrames = std::uint64_t(received_);
        facts.samplesPerFrame = frameSamples_;
        facts.musicCrc = musicCrc_;
        if (written_ > std::numeric_limits<std::uint32_t>::max() || !rewriteLameTag(tag_, facts))
            return fail(EncodeStep::Encode,
                        QStringLiteral("the gapless tag does not fit the joined stream"));
    }
    if (!out_.file().seek(0))
        return fail(EncodeStep::Write, out_.file().errorString());
    if (Status s = out_.write(reinterpret_cast<const char*>(tag_.data()), qint64(tag_.size())); !s)
        return writeFailed(s);
    return {};
}

Status ParallelMp3Writer::dispatch(bool last) {
    // One job per worker: while they encode, this thread fills the next segment, so memory stays
    // a few segments whatever the length.
    while (workers_.pending() >= std::size_t(threads_))
        if (Status err = collect(true); !err)
            return err;
    const std::int64_t segment = plan_.frames;
    const std::int64_t k = std::int64_t(workers_.submitted());
    Job job;
    job.index = workers_.submitted();
    job.last = last;
    job.firstFrame = std::max<std::int64_t>(0, k * segment - plan_.leadIn);
    // The buffer starts where this job does; the job takes it, and the next buffer starts with
    // the overlap, where the next job will start.
    const std::int64_t to = last ? received_ : ((k + 1) * segment + plan_.leadOut) * frameSamples_;
    const auto end = std::size_t((to - bufferStart_) * channels_);
    job.pcm = std::move(buffer_);
    buffer_ = takeSpare();
    if (!last) {
        const std::int64_t next = ((k + 1) * segment - plan_.leadIn) * frameSamples_;
        // The same room each time (a segment, its overlap and a generous block), so that a
        // spare buffer is reused as it is.
        buffer_.reserve(std::size_t(
            ((segment + plan_.leadIn + plan_.leadOut) * frameSamples_ + kSlackFrames) * channels_));
        buffer_.assign(job.pcm.begin() + std::ptrdiff_t((next - bufferStart_) * channels_),
                       job.pcm.end());
        bufferStart_ = next;
    }
    job.pcm.resize(end);
    if (!workers_.submit(std::move(job)))
        return fail(EncodeStep::Cancel, QStringLiteral("cancelled"));
    return collect(false);
}

std::vector<float> ParallelMp3Writer::takeSpare() {
    if (spares_.empty())
        return {};
    std::vector<float> v = std::move(spares_.back());
    spares_.pop_back();
    return v;
}

// Splices the results that are ready, in order; with `wait`, waits for the next one first.
Status ParallelMp3Writer::collect(bool wait) {
    return workers_.collect(
        wait,
        [this](Result& r) {
            spares_.push_back(std::move(r.spare));
            return splice(r);
        },
        fail(EncodeStep::Cancel, QStringLiteral("cancelled")));
}

// The segment's buffer goes back, emptied, for another segment: allocating a few megabytes per
// segment on several threads would spread the heap over every thread's arena.
ParallelMp3Writer::Result ParallelMp3Writer::encodeJob(Job& job) const {
    Result r = encodeSegment(job);
    job.pcm.clear();
    r.spare = std::move(job.pcm);
    return r;
}

ParallelMp3Writer::Result ParallelMp3Writer::encodeSegment(const Job& job) const {
    Result r;
    r.firstFrame = job.firstFrame;
    const std::int64_t segment = plan_.frames;
    r.goodUntil = job.last ? std::numeric_limits<std::int64_t>::max()
                           : (std::int64_t(job.index) + 1) * segment + plan_.leadOut - kTailFrames;
    // The first encoder is a single pass's, tag and loudness included; the others add frames.
    const bool first = job.index == 0;
    LameEncoder lame;
    if (Status err = lame.open(sampleRate_, channels_, kbps_, first, first); !err) {
        r.error = err.error().cause();
        return r;
    }
    const std::size_t total = job.pcm.size() / std::size_t(channels_);
    for (std::size_t done = 0; done < total; done += kChunkFrames) {
        if (workers_.abandoned()) {
            r.cancelled = true;
            return r;
        }
        const std::size_t n = std::min(kChunkFrames, total - done);
        if (Status err = lame.encode(job.pcm.data() + done * std::size_t(channels_), n, r.bytes);
            !err) {
            r.error = err.error().cause();
            return r;
        }
    }
    if (Status err = lame.flush(r.bytes); !err) {
        r.error = err.error().cause();
        return r;
    }
    if (first && gapless_) {
        r.tag = lame.tagFrame();
        r.tagFrames = 1;
    }
    auto frames = parseFrames(r.bytes.data(), r.bytes.size());
    if (!frames || frames->size() <= r.tagFrames) {
        r.error = QStringLiteral("the encoder's frames cannot be read back");
        return r;
    }
    r.frames = std::move(*frames);
    return r;
}

Status ParallelMp3Writer::splice(Result& next) {
    if (next.cancelled)
        return fail(EncodeStep::Cancel, QStringLiteral("cancelled"));
    if (!next.error.isEmpty())
        return fail(EncodeStep::Encode, next.error);
    if (!held_) {
        tag_ = next.tag;
        if (next.tagFrames == 1) { // the placeholder, rewritten at the end
            const Mp3Frame& t = next.frames.front();
            if (Status s = out_.write(reinterpret_cast<const char*>(next.bytes.data() + t.offset),
                                      qint64(t.size));
                !s)
                return writeFailed(s);
            written_ += t.size;
        }
        heldFrom_ = next.tagFrames;
        held_ = std::move(next);
        return {};
    }
    Result& a = *held_;
    Result& b = next;
    const auto indexIn = [](const Result& r, std::int64_t frame) {
        return std::int64_t(r.tagFrames) + frame - r.firstFrame;
    };
    const std::int64_t lo = std::max(b.firstFrame + plan_.settle,
                                     a.firstFrame + std::int64_t(heldFrom_ - a.tagFrames) + 1);
    const std::int64_t hi =
        std::min({a.goodUntil - 1, a.firstFrame + std::int64_t(a.frames.size() - a.tagFrames) - 1,
                  b.firstFrame + std::int64_t(b.frames.size()) - 1});
    // The earliest frame from which both encoders write the same frames (the later one has
    // caught up: the splice changes nothing), else the closest reservoirs, the latest of equals.
    const auto sameFrame = [&](std::int64_t f) {
        const Mp3Frame& fa = a.frames[std::size_t(indexIn(a, f))];
        const Mp3Frame& fb = b.frames[std::size_t(indexIn(b, f))];
        return fa.size == fb.size && std::equal(a.bytes.begin() + std::ptrdiff_t(fa.offset),
                                                a.bytes.begin() + std::ptrdiff_t(fa.end()),
                                                b.bytes.begin() + std::ptrdiff_t(fb.offset));
    };
    std::int64_t best = -1;
    int bestGap = std::numeric_limits<int>::max();
    for (std::int64_t f = lo; f <= hi; ++f) {
        const Mp3Frame& fa = a.frames[std::size_t(indexIn(a, f))];
        const Mp3Frame& fb = b.frames[std::size_t(indexIn(b, f))];
        const int gap = fa.mainDataBegin - fb.mainDataBegin;
        if (gap < 0 || a.frames[std::size_t(indexIn(a, f) - 1)].lastBlockTypes !=
                           b.frames[std::size_t(indexIn(b, f) - 1)].lastBlockTypes)
            continue;
        if (gap == 0 && f + 1 <= hi && sameFrame(f) && sameFrame(f + 1)) {
            best = f;
            bestGap = 0;
            break;
        }
        if (gap <= bestGap) {
            best = f;
            bestGap = gap;
        }
    }
    if (best < 0) {
        spliceFailed_ = true;
        return fail(EncodeStep::Encode, QStringLiteral("no frame to splice two segments at"));
    }
    const auto ia = std::size_t(indexIn(a, best));
    const auto ib = std::size_t(indexIn(b, best));
    // The later encoder's first main data bytes go where the earlier one's frame F had its own.
    const auto count = std::size_t(b.frames[ib].mainDataBegin);
    const auto to = mainDataBefore(a.frames, ia, count);
    const auto from = mainDataBefore(b.frames, ib, count);
    if (!to || !from || (count > 0 && to->front() < a.frames[heldFrom_].dataOffset)) {
        spliceFailed_ = true;
        return fail(EncodeStep::Encode, QStringLiteral("no room to splice two segments"));
    }
    for (std::size_t i = 0; i < count; ++i)
        a.bytes[(*to)[i]] = b.bytes[(*from)[i]];
    if (Status err = writeFrames(a, heldFrom_, ia); !err)
        return err;
    held_ = std::move(b);
    heldFrom_ = ib;
    return {};
}

Status ParallelMp3Writer::writeFrames(const Result& r, std::size_t from, std::size_t to) {
    if (from >= to)
        return {};
    const std::size_t begin = r.frames[from].offset;
    const std::size_t end = r.frames[to - 1].end();
    for (std::size_t i = from; i < to; ++i)
        frameOffsets_.push_back(written_ + (r.frames[i].offset - begin));
    musicCrc_ = crc16(r.bytes.data() + begin, end - begin, musicCrc_);
    if (Status s =
            out_.write(reinterpret_cast<const char*>(r.bytes.data() + begin), qint64(end - begin));
        !s)
        return writeFailed(s);
    written_ += end - begin;
    return {};
}

} // namespace quaverly::mp3
