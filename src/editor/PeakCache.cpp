#include "editor/PeakCache.h"

#include "engines/util/QueuedCall.h"

#include "engines/wav/SampleReader.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quaverly {

namespace {

constexpr std::int64_t kBlock = PeakCache::kBaseBlock;
constexpr std::int64_t kChunkBlocks = 256; // blocks per read: 256 KiB of 16-bit stereo

constexpr Peak kEmpty{32767, -32768};

void widen(Peak& p, std::int16_t v) {
    p.min = std::min(p.min, v);
    p.max = std::max(p.max, v);
}

void widen(Peak& p, const Peak& q) {
    p.min = std::min(p.min, q.min);
    p.max = std::max(p.max, q.max);
}

// The peaks of `frames` interleaved frames at `p` into out[0 .. channels), and the sums of the
// samples' squares into squares[0 .. channels).
void scan(const std::int16_t* p, std::int64_t frames, int channels, Peak* out,
          std::uint64_t* squares) {
    std::fill(out, out + channels, kEmpty);
    std::fill(squares, squares + channels, 0);
#if defined(__SSE2__)
    // Eight samples at a time; with 1, 2, 4 or 8 channels lane l holds channel l % channels in
    // every vector, so the lanes sort out into channels at the end. Eight samples are whole
    // frames; the frames of a last, partial vector are left to the loop below. Each square
    // (at most 2^30) is widened to 64 bits before it is added.
    if (8 % channels == 0) {
        const std::int64_t vectors = frames * channels / 8;
        const __m128i zero = _mm_setzero_si128();
        __m128i lo = _mm_set1_epi16(32767), hi = _mm_set1_epi16(-32768);
        __m128i sq01 = zero, sq23 = zero, sq45 = zero, sq67 = zero;
        for (std::int64_t i = 0; i < vectors; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8 * i));
            lo = _mm_min_epi16(lo, v);
            hi = _mm_max_epi16(hi, v);
            // (s, 0) . (s, 0) in every 32-bit lane: the square of lane s.
            const __m128i a = _mm_unpacklo_epi16(v, zero), b = _mm_unpackhi_epi16(v, zero);
            const __m128i sa = _mm_madd_epi16(a, a), sb = _mm_madd_epi16(b, b);
            sq01 = _mm_add_epi64(sq01, _mm_unpacklo_epi32(sa, zero));
            sq23 = _mm_add_epi64(sq23, _mm_unpackhi_epi32(sa, zero));
            sq45 = _mm_add_epi64(sq45, _mm_unpacklo_epi32(sb, zero));
            sq67 = _mm_add_epi64(sq67, _mm_unpackhi_epi32(sb, zero));
        }
        alignas(16) std::int16_t mins[8], maxs[8];
        alignas(16) std::uint64_t sums[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(mins), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(maxs), hi);
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), sq01);
        _mm_store_si128(reinterpret_cast<__m128i*>(sums + 2), sq23);
        _mm_store_si128(reinterpret_cast<__m128i*>(sums + 4), sq45);
        _mm_store_si128(reinterpret_cast<__m128i*>(sums + 6), sq67);
        for (int l = 0; l < 8; ++l) {
            widen(out[l % channels], Peak{mins[l], maxs[l]});
            squares[l % channels] += sums[l];
        }
        p += 8 * vectors;
        frames -= vectors * 8 / channels;
    }
#endif
    for (std::int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c, ++p) {
            widen(out[c], *p);
            squares[c] += std::uint64_t(std::int64_t(*p) * *p);
        }
}

// The frames of block `b` of `block` frames in a song of `frames` frames.
double blockFrames(std::size_t b, std::int64_t block, std::int64_t frames) {
    const auto start = std::int64_t(b) * block;
    return double(std::clamp<std::int64_t>(frames - start, 0, block));
}

// The text the waveform shows for a song whose peaks cannot be had.
QString failure(const Error& e) {
    const QString name = QFileInfo(e.file()).fileName();
    switch (e.code()) {
    case sound::kFormat:
        return PeakCache::tr("%1 is not 8 or 16-bit PCM sound.").arg(name);
    case sound::kNotAvail:
        return PeakCache::tr("%1 ends before its sound does.").arg(name);
    default:
        return e.cause();
    }
}

} // namespace

PeakCache::PeakCache(QObject* parent) : QObject(parent), worker_([this] { run(); }) {}

PeakCache::~PeakCache() {
    // The running computation gives up at its next read. Results posted before this point are
    // dropped by ~QObject with the events still queued for this object.
    for (Entry& e : entries_)
        cancel(e);
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void PeakCache::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (quit_)
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
            if (job.stop.stop_requested())
                continue; // invalidated before its turn: the file is not even opened
            reading_ = job.path;
        }
        auto computed = compute(job.path, job.stop); // the file is closed when it returns
        // Invalidated, let go of, or the cache is going: nobody waits for the result.
        const bool dropped = job.stop.stop_requested();
        Done done{std::move(job.path), job.generation, nullptr, QString()};
        if (computed)
            done.levels = std::move(*computed);
        else
            done.error = failure(computed.error());
        // The result goes through the mutex, not inside the queued call: the hand-over is then
        // one that every tool (ThreadSanitizer too) sees, whatever Qt does inside its queue.
        {
            const std::lock_guard lock(mutex_);
            reading_.clear();
            if (!dropped)
                done_.push_back(std::move(done));
        }
        closed_.notify_all();
        if (!dropped)
            queueCall(this, "collect");
    }
}

void PeakCache::collect() {
    std::deque<Done> done;
    {
        const std::lock_guard lock(mutex_);
        done.swap(done_);
    }
    for (Done& d : done)
        finish(d.path, d.generation, std::move(d.levels), d.error);
}

Result<std::shared_ptr<const PeakCache::Levels>> PeakCache::compute(const QString& path,
                                                                    const std::stop_token& stop) {
    auto reader = SampleReader::openPlain(path);
    if (!reader)
        return reader.error();
    auto out = std::make_shared<Levels>();
    const int channels = reader->channels();
    const std::int64_t frames = reader->frames();
    out->song = {channels, reader->sampleRate(), frames};
    std::vector<Peak>& base = out->levels.emplace_back();
    base.resize(std::size_t((frames + kBlock - 1) / kBlock) * std::size_t(channels));
    std::vector<float>& baseSquares = out->meanSquares.emplace_back(base.size());
    // One pass with a fixed buffer of whole blocks; only the song's last block may be short.
    std::vector<std::int16_t> buffer(std::size_t(kChunkBlocks * kBlock * channels));
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(channels));
    Peak* next = base.data();
    float* nextSquare = baseSquares.data();
    for (std::int64_t done = 0; done < frames;) {
        if (stop.stop_requested())
            return Error(path, tr("Cancelled."));
        const auto got = reader->readShorts(buffer.data(), std::size_t(kChunkBlocks * kBlock));
        if (!got)
            return got.error();
        const auto want = std::int64_t(*got); // all asked for, but at the end
        if (want == 0)
            break;
        for (std::int64_t f = 0; f < want; f += kBlock, next += channels, nextSquare += channels) {
            const std::int64_t n = std::min(kBlock, want - f);
            scan(buffer.data() + f * channels, n, channels, next, sums.data());
            for (int c = 0; c < channels; ++c)
                nextSquare[c] = float(double(sums[std::size_t(c)]) / double(n));
        }
        done += want;
    }
    // Each coarser level pairs the blocks of the one below, up to a single block; a mean
    // square is the mean of the pair's, weighed by their frames (the song's last block may be
    // short).
    for (std::int64_t block = kBlock; out->levels.back().size() > std::size_t(channels);
         block *= 2) {
        const std::vector<Peak>& fine = out->levels.back();
        const std::vector<float>& fineSquares = out->meanSquares.back();
        const std::size_t fineBlocks = fine.size() / std::size_t(channels);
        std::vector<Peak> coarse((fineBlocks + 1) / 2 * std::size_t(channels));
        std::vector<float> coarseSquares(coarse.size());
        for (std::size_t b = 0; b < fineBlocks; b += 2) {
            const double n0 = blockFrames(b, block, frames);
            const double n1 = b + 1 < fineBlocks ? blockFrames(b + 1, block, frames) : 0;
            for (std::size_t c = 0; c < std::size_t(channels); ++c) {
                const std::size_t i = b * std::size_t(channels) + c;
                const std::size_t o = b / 2 * std::size_t(channels) + c;
                coarse[o] = fine[i];
                double sum = n0 * fineSquares[i];
                if (n1 > 0) {
                    widen(coarse[o], fine[i + std::size_t(channels)]);
                    sum += n1 * fineSquares[i + std::size_t(channels)];
                }
                coarseSquares[o] = float(sum / (n0 + n1));
            }
        }
        out->levels.push_back(std::move(coarse));
        out->meanSquares.push_back(std::move(coarseSquares));
    }
    return std::shared_ptr<const Levels>(std::move(out));
}

PeakCache::Stamp PeakCache::stampOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified()};
}

void PeakCache::cancel(Entry& e) {
    e.stop.request_stop(); // nothing when no computation runs for it
}

PeakCache::State PeakCache::request(const QString& path) {
    if (held_.contains(path))
        return state(path); // left alone until resume()
    const auto it = entries_.find(path);
    if (it != entries_.end()) {
        if (it->state == State::Computing)
            return State::Computing;
        if (it->state == State::Ready && stampOf(path) == it->stamp)
            return State::Ready;
    }
    Entry e;
    e.state = State::Computing;
    e.stamp = stampOf(path); // taken before the read: a change during it shows at the next request
    e.generation = nextGeneration_++;
    e.stop = std::stop_source();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Job{path, e.generation, e.stop.get_token()});
    }
    wake_.notify_one();
    entries_.insert(path, std::move(e));
    return State::Computing;
}

void PeakCache::finish(const QString& path, std::uint64_t generation,
                       std::shared_ptr<const Levels> levels, const QString& error) {
    const auto it = entries_.find(path);
    if (it == entries_.end() || it->generation != generation)
        return; // invalidated while it was computed
    it->stop = std::stop_source(std::nostopstate);
    if (levels) {
        it->state = State::Ready;
        it->levels = std::move(levels);
        emit ready(path);
    } else {
        it->state = State::Failed;
        it->error = error;
        emit failed(path, error);
    }
}

void PeakCache::invalidate(const QString& path) {
    const auto it = entries_.find(path);
    if (it == entries_.end())
        return;
    cancel(*it);
    entries_.erase(it);
    emit invalidated(path);
}

bool PeakCache::letGo(const QString& path, std::chrono::milliseconds wait) {
    ++held_[path];
    if (const auto it = entries_.find(path);
        it != entries_.end() && it->state == State::Computing) {
        cancel(*it);
        entries_.erase(it); // requested again after resume()
    }
    std::unique_lock lock(mutex_);
    // A cancelled job still waiting is never opened; the one being read stops at its next read.
    return closed_.wait_for(lock, wait, [&] { return reading_ != path; });
}

void PeakCache::resume(const QString& path) {
    const auto it = held_.find(path);
    if (it == held_.end())
        return;
    if (--*it > 0)
        return;
    held_.erase(it);
    emit resumed(path);
}

PeakCache::State PeakCache::state(const QString& path) const {
    const auto it = entries_.find(path);
    return it == entries_.end() ? State::Absent : it->state;
}

QString PeakCache::errorString(const QString& path) const {
    const auto it = entries_.find(path);
    return it == entries_.end() ? QString() : it->error;
}

std::optional<PeakSong> PeakCache::song(const QString& path) const {
    const auto it = entries_.find(path);
    if (it == entries_.end() || it->state != State::Ready)
        return std::nullopt;
    return it->levels->song;
}

PeakColumns PeakCache::peaks(const QString& path, double firstFrame, double framesPerPixel,
                             int width) {
    const auto it = entries_.find(path);
    if (it == entries_.end() || it->state != State::Ready || !(framesPerPixel > 0) || width <= 0)
        return {};
    firstFrame = std::max(0.0, firstFrame);
    if (framesPerPixel >= double(kBlock))
        return fromLevels(*it->levels, firstFrame, framesPerPixel, width);
    if (held_.contains(path))
        return {}; // the file is not opened until resume()
    return fromFile(path, *it, firstFrame, framesPerPixel, width);
}

namespace {

// The frames [s, e) of column c; see PeakColumns.
struct Span {
    std::int64_t s, e;
};
Span columnSpan(double first, double fpp, int c) {
    const auto s = std::int64_t(std::floor(first + c * fpp));
    return {s, std::max(s + 1, std::int64_t(std::floor(first + (c + 1) * fpp)))};
}

} // namespace

PeakColumns PeakCache::fromLevels(const Levels& l, double first, double fpp, int width) const {
    const int channels = l.song.channels;
    std::size_t level = 0;
    std::int64_t block = kBlock;
    while (level + 1 < l.levels.size() && double(block * 2) <= fpp) {
        ++level;
        block *= 2;
    }
    const std::vector<Peak>& peaks = l.levels[level];
    const std::vector<float>& squares = l.meanSquares[level];
    PeakColumns out;
    out.channels = channels;
    out.blockFrames = block;
    out.peaks.reserve(std::size_t(width) * std::size_t(channels));
    out.rms.reserve(out.peaks.capacity());
    for (int c = 0; c < width; ++c) {
        const Span span = columnSpan(first, fpp, c);
        if (span.s >= l.song.frames)
            break;
        const std::int64_t b0 = span.s / block;
        const std::int64_t b1 = (std::min(span.e, l.song.frames) + block - 1) / block;
        for (int ch = 0; ch < channels; ++ch) {
            Peak p = kEmpty;
            double sum = 0, n = 0;
            for (std::int64_t b = b0; b < b1; ++b) {
                const auto i = std::size_t(b * channels + ch);
                widen(p, peaks[i]);
                const double frames = blockFrames(std::size_t(b), block, l.song.frames);
                sum += frames * squares[i];
                n += frames;
            }
            out.peaks.push_back(p);
            out.rms.push_back(n > 0 ? float(std::sqrt(sum / n)) : 0.0f);
        }
        ++out.columns;
    }
    return out;
}

PeakColumns PeakCache::fromFile(const QString& path, const Entry& e, double first, double fpp,
                                int width) {
    const Levels& l = *e.levels;
    const int channels = l.song.channels;
    PeakColumns out;
    out.channels = channels;
    out.blockFrames = 1;
    const std::int64_t from = columnSpan(first, fpp, 0).s;
    const std::int64_t to = std::min(columnSpan(first, fpp, width - 1).e, l.song.frames);
    if (from >= to)
        return out;
    // Only a short stretch is read (less than kBaseBlock frames per column), from the file the
    // levels came from: a changed or unreadable file drops the path, after this call.
    const auto drop = [&] {
        QMetaObject::invokeMethod(
            this,
            [this, path, generation = e.generation] {
                const auto it = entries_.find(path);
                if (it != entries_.end() && it->generation == generation)
                    invalidate(path);
            },
            Qt::QueuedConnection);
        return PeakColumns{};
    };
    if (stampOf(path) != e.stamp)
        return drop();
    auto reader = SampleReader::openPlain(path);
    std::vector<std::int16_t> samples(std::size_t(to - from) * std::size_t(channels));
    if (!reader || reader->frames() != l.song.frames || !reader->seek(from))
        return drop();
    if (const auto got = reader->readShorts(samples.data(), std::size_t(to - from));
        !got || *got != std::size_t(to - from))
        return drop();
    out.peaks.resize(std::size_t(width) * std::size_t(channels));
    out.rms.resize(out.peaks.size());
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(channels));
    for (int c = 0; c < width; ++c) {
        const Span span = columnSpan(first, fpp, c);
        if (span.s >= l.song.frames)
            break;
        const std::int64_t n = std::min(span.e, to) - span.s;
        const std::size_t at = std::size_t(c) * std::size_t(channels);
        scan(samples.data() + (span.s - from) * channels, n, channels, &out.peaks[at], sums.data());
        for (int ch = 0; ch < channels; ++ch)
            out.rms[at + std::size_t(ch)] =
                float(std::sqrt(double(sums[std::size_t(ch)]) / double(n)));
        ++out.columns;
    }
    out.peaks.resize(std::size_t(out.columns) * std::size_t(channels));
    out.rms.resize(out.peaks.size());
    return out;
}

} // namespace quaverly
