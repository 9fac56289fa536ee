#include "engines/encoder/internal/ParallelAac.h"

#include <algorithm>

namespace quaverly::encode::internal {
namespace {

// Segments of at most about 24 s at 44.1 kHz: a segment's sound (some megabytes) per thread.
constexpr std::int64_t kMaxSegment = 1024;
// Input frames handed to a segment's encoder at a time: an abandoned job ends within one.
constexpr std::size_t kChunkFrames = 8192;

// What a decoder joins across a packet's end: the kind of window its tail has and the window's
// shape. Read from the packet's first element: a single channel (its global gain first) or a
// channel pair whose channels share one window; unknown for a pair with a window each.
struct WindowTail {
    bool known = false;
    bool longTail = false; // ONLY_LONG and LONG_STOP end long; LONG_START and EIGHT_SHORT short
    bool kbd = false;      // window_shape
};

WindowTail windowTail(const AVPacket& p) {
    if (p.size < 3)
        return {};
    const auto bits = [&p](int from, int count) {
        unsigned v = 0;
        for (int i = from; i < from + count; ++i)
            v = (v << 1) | ((p.data[i / 8] >> (7 - i % 8)) & 1u);
        return v;
    };
    // id_syn_ele (3 bits) and element_instance_tag (4), then ics_info: ics_reserved_bit (1),
    // window_sequence (2), window_shape (1).
    int icsInfo = 0;
    switch (bits(0, 3)) {
    case 0: // single channel element: global_gain (8) first
        icsInfo = 15;
        break;
    case 1: // channel pair element: common_window (1)
        if (bits(7, 1) == 0)
            return {};
        icsInfo = 8;
        break;
    default:
        return {};
    }
    const unsigned sequence = bits(icsInfo + 1, 2);
    return {true, sequence == 0 || sequence == 3, bits(icsInfo + 3, 1) != 0};
}

bool joinable(const AVPacket& a, const AVPacket& b) {
    const WindowTail x = windowTail(a), y = windowTail(b);
    return x.known && y.known && x.longTail == y.longTail && x.kbd == y.kbd;
}

} // namespace

ParallelAacEncoder::ParallelAacEncoder(QString target, Mp4Writer& mp4, int lead, int threads,
                                       std::stop_token stop)
    : target_(std::move(target)), mp4_(mp4), lead_(lead), threads_(std::max(1, threads)),
      workers_([this](Job& job, const std::stop_token&) { return encodeJob(job); },
               std::move(stop)) {}

Error ParallelAacEncoder::cancelled() const {
    return Error(target_, QStringLiteral("cancelled")).during(mp3::EncodeStep::Cancel);
}

void ParallelAacEncoder::open(int sampleRate, int channels, int kbps, std::int64_t expectedFrames) {
    sampleRate_ = sampleRate;
    channels_ = channels;
    kbps_ = kbps;
    // As many segments as threads, or a multiple of them, of the same length.
    const std::int64_t packets = std::max<std::int64_t>(1, expectedFrames / kAacFrame + 2);
    const std::int64_t perThread =
        (packets + threads_ * kMaxSegment - 1) / (threads_ * kMaxSegment);
    const std::int64_t count = threads_ * perThread;
    segment_ = std::max(kMinSegment, (packets + count - 1) / count);
    workers_.start(threads_);
}

Status ParallelAacEncoder::add(const float* pcm, std::size_t frames) {
    buffer_.insert(buffer_.end(), pcm, pcm + frames * std::size_t(channels_));
    received_ += std::int64_t(frames);
    while (received_ >=
           ((std::int64_t(workers_.submitted()) + 1) * segment_ + kLeadOut) * kAacFrame) {
        if (Status f = dispatch(false); !f)
            return f;
    }
    return {};
}

// Hands the next segment with its overlaps to the workers (the last one: all that is left), once
// fewer jobs than threads wait for their results.
Status ParallelAacEncoder::dispatch(bool last) {
    while (workers_.pending() > std::size_t(threads_)) {
        if (Status f = collect(true); !f)
            return f;
    }
    const auto k = std::int64_t(workers_.submitted());
    Job job;
    job.last = last;
    job.firstPacket = bufferStart_; // where job k starts: k x segment - kLeadIn, or 0
    const std::int64_t to = last ? received_ : ((k + 1) * segment_ + kLeadOut) * kAacFrame;
    const auto end = std::size_t((to - bufferStart_ * kAacFrame) * channels_);
    // The job takes the buffer; the next one starts with the overlap, where the next job will.
    job.pcm = std::move(buffer_);
    buffer_.clear();
    if (!last) {
        const std::int64_t next = (k + 1) * segment_ - kLeadIn;
        buffer_.assign(job.pcm.begin() +
                           std::ptrdiff_t((next - bufferStart_) * kAacFrame * channels_),
                       job.pcm.end());
        bufferStart_ = next;
    }
    job.pcm.resize(end);
    if (!workers_.submit(std::move(job)))
        return cancelled();
    return collect(false);
}

Status ParallelAacEncoder::finish() {
    if (Status f = dispatch(true); !f)
        return f;
    while (workers_.pending() > 0) {
        if (Status f = collect(true); !f)
            return f;
    }
    if (!held_)
        return cancelled();
    return writeHeld(held_->firstPacket + std::int64_t(held_->packets.size()));
}

// Splices the results that are ready, in order; with `wait`, waits for the next one first.
Status ParallelAacEncoder::collect(bool wait) {
    return workers_.collect(
        wait,
        [this](Result& r) {
            if (!r.failure)
                return r.failure;
            return splice(std::move(r));
        },
        cancelled());
}

// Writes what the held result gives before the splice with `next`, which is held from then on.
Status ParallelAacEncoder::splice(Result next) {
    if (!held_) {
        held_ = std::move(next);
        heldFrom_ = 0;
        return {};
    }
    const Result& held = *held_;
    const std::int64_t boundary = next.firstPacket + kLeadIn;
    // The earlier encoder's packet P-1 must come before its last two (its window choice looks a
    // frame ahead).
    const std::int64_t lowest = std::max(boundary - kReach, heldFrom_ + 1);
    const std::int64_t highest = boundary + kLeadOut - 2;
    for (std::int64_t step = 0; step <= 2 * std::max(kReach, kLeadOut); ++step) {
        const std::int64_t p = step % 2 == 0 ? boundary + step / 2 : boundary - (step + 1) / 2;
        if (p < lowest || p > highest)
            continue;
        const auto a = std::size_t(p - 1 - held.firstPacket);
        const auto b = std::size_t(p - 1 - next.firstPacket);
        if (a >= held.packets.size() || b + 1 >= next.packets.size() ||
            !joinable(*held.packets[a], *next.packets[b]))
            continue;
        if (Status f = writeHeld(p); !f)
            return f;
        held_ = std::move(next);
        heldFrom_ = p;
        return {};
    }
    spliceFailed_ = true;
    return Error(target_, QStringLiteral("no packet to join two segments at"))
        .during(mp3::EncodeStep::Encode);
}

// Writes the held result's packets up to (not including) `until`, timed as a single pass's.
Status ParallelAacEncoder::writeHeld(std::int64_t until) {
    Result& held = *held_;
    for (std::int64_t p = heldFrom_; p < until; ++p) {
        AVPacket& packet = *held.packets[std::size_t(p - held.firstPacket)];
        const std::int64_t duration = packet.duration;
        if (Status f = mp4_.write(packet, (p - 1) * kAacFrame - lead_, duration); !f)
            return f;
    }
    heldFrom_ = until;
    return {};
}

ParallelAacEncoder::Result ParallelAacEncoder::encodeJob(const Job& job) const {
    Result r;
    r.firstPacket = job.firstPacket;
    AacCodec codec(target_);
    if (!(r.failure = codec.open(sampleRate_, channels_, kbps_)))
        return r;
    const AacCodec::Sink keep = [&r, this](AVPacket& p) -> Status {
        decode::AvPacketPtr copy(av_packet_alloc());
        if (!copy)
            return Error(target_, QString::fromStdString(decode::avWords(AVERROR(ENOMEM))))
                .during(mp3::EncodeStep::Encode);
        av_packet_move_ref(copy.get(), &p);
        r.packets.push_back(std::move(copy));
        return {};
    };
    const auto channels = std::size_t(channels_);
    for (std::size_t at = 0; at < job.pcm.size(); at += kChunkFrames * channels) {
        if (workers_.abandoned()) {
            r.failure = cancelled();
            return r;
        }
        const std::size_t frames = std::min(kChunkFrames, (job.pcm.size() - at) / channels);
        if (!(r.failure = codec.add(job.pcm.data() + at, frames, keep)))
            return r;
    }
    r.failure = codec.finish(keep);
    return r;
}

} // namespace quaverly::encode::internal
