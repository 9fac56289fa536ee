#include "engines/decode/internal/ParallelChunks.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quaverly::decode {
namespace {

std::atomic<std::uint64_t> chunkFramesForTesting{0};
std::atomic<std::uint64_t> decodedApart{0};

constexpr sf_count_t kPieceFrames = 4096;

} // namespace

void ParallelChunks::setChunkFramesForTesting(std::uint64_t n) {
    chunkFramesForTesting = n;
}

std::uint64_t ParallelChunks::chunkFrames(std::uint64_t usual) {
    const std::uint64_t n = chunkFramesForTesting;
    return n > 0 ? n : usual;
}

std::uint64_t ParallelChunks::chunksDecoded() {
    return decodedApart;
}

ParallelChunks::ParallelChunks(Open open, std::uint64_t frames, int channels, int threads,
                               std::uint64_t chunkFrames)
    : open_(std::move(open)), frames_(frames), channels_(static_cast<std::size_t>(channels)),
      chunkFrames_(chunkFrames), chunks_((frames + chunkFrames - 1) / chunkFrames),
      threads_(threads), slots_(2 * static_cast<std::size_t>(threads)) {
    // Worker w decodes chunks w, w + threads, ...: they go to its own two slots, w and
    // w + threads, by turns.
    for (int w = 0; w < threads_; ++w)
        workers_.emplace_back([this, w] { work(w); });
}

ParallelChunks::~ParallelChunks() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void ParallelChunks::work(int worker) {
    QString cause;
    std::unique_ptr<SndfileReader> reader = open_(&cause);
    for (std::uint64_t k = static_cast<std::uint64_t>(worker); k < chunks_;
         k += static_cast<std::uint64_t>(threads_)) {
        Slot& slot = slots_[k % slots_.size()];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The slot is free once the reader has handed out the chunk two turns back.
            changed_.wait(lock,
                          [&] { return stopping_ || !slot.ready.load(std::memory_order_acquire); });
            if (stopping_)
                return;
        }
        const std::uint64_t first = k * chunkFrames_;
        const auto count = static_cast<sf_count_t>(std::min(chunkFrames_, frames_ - first));
        slot.samples.resize(static_cast<std::size_t>(count) * channels_);
        slot.failure.clear();
        sf_count_t done = 0;
        if (!reader) {
            slot.failure = cause;
        } else if (!reader->seek(static_cast<sf_count_t>(first))) {
            slot.failure = reader->cause();
        } else {
            // In pieces: a read that fails gives none of its frames, so a damaged file's break
            // is known to within a piece, as a decode on one thread knows it.
            while (done < count) {
                const sf_count_t got = reader->readShorts(
                    slot.samples.data() + done * static_cast<sf_count_t>(channels_),
                    std::min<sf_count_t>(count - done, kPieceFrames));
                if (got <= 0) {
                    slot.failure =
                        got < 0 ? reader->cause() : QStringLiteral("the data ends there");
                    break;
                }
                done += got;
            }
        }
        // A chunk that failed keeps the frames before the failure: they are handed out first,
        // so that the song reader knows where the sound broke off.
        slot.samples.resize(static_cast<std::size_t>(done) * channels_);
        ++decodedApart;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.chunk.store(k, std::memory_order_relaxed);
            slot.ready.store(true, std::memory_order_release);
        }
        changed_.notify_all();
        if (!slot.failure.isEmpty())
            return; // the reader stops at this chunk
    }
}

std::int64_t ParallelChunks::read(short* out, std::int64_t frames) {
    std::int64_t done = 0;
    while (done < frames && next_ < chunks_) {
        Slot& slot = slots_[next_ % slots_.size()];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] {
                return slot.ready.load(std::memory_order_acquire) &&
                       slot.chunk.load(std::memory_order_relaxed) == next_;
            });
        }
        const std::size_t n = std::min(slot.samples.size() - taken_,
                                       static_cast<std::size_t>(frames - done) * channels_);
        std::memcpy(out + static_cast<std::size_t>(done) * channels_, slot.samples.data() + taken_,
                    n * sizeof(short));
        taken_ += n;
        done += static_cast<std::int64_t>(n / channels_);
        if (taken_ == slot.samples.size()) {
            if (!slot.failure.isEmpty()) {
                // What came before the failure has been handed out; the failure comes next.
                cause_ = slot.failure;
                return done > 0 ? done : -1;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                slot.ready.store(false, std::memory_order_release);
            }
            changed_.notify_all();
            taken_ = 0;
            ++next_;
        }
    }
    return done;
}

} // namespace quaverly::decode
