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
      lookahead_(2 * static_cast<std::uint64_t>(std::max(1, threads))),
      pool_([this](Job& job, const std::stop_token& stop) { return decode(job, stop); }) {
    pool_.start(threads);
    submitAhead();
}

ParallelChunks::~ParallelChunks() = default; // the pool stops and joins its workers

void ParallelChunks::submitAhead() {
    while (next_ < chunks_ && next_ < current_ + lookahead_) {
        Job job{next_++, {}};
        if (!spares_.empty()) {
            job.samples = std::move(spares_.back());
            spares_.pop_back();
        }
        pool_.submit(std::move(job));
    }
}

ParallelChunks::Chunk ParallelChunks::decode(Job& job, const std::stop_token& stop) {
    Chunk chunk;
    chunk.samples = std::move(job.samples);
    std::unique_ptr<SndfileReader> reader;
    {
        const std::lock_guard lock(readersMutex_);
        if (!readers_.empty()) {
            reader = std::move(readers_.back());
            readers_.pop_back();
        }
    }
    if (!reader) {
        auto opened = open_();
        if (!opened) {
            chunk.samples.clear();
            chunk.status = opened.error();
            return chunk;
        }
        reader = std::move(*opened);
    }
    const std::uint64_t first = job.chunk * chunkFrames_;
    const auto count = static_cast<sf_count_t>(std::min(chunkFrames_, frames_ - first));
    chunk.samples.resize(static_cast<std::size_t>(count) * channels_);
    sf_count_t done = 0;
    if (Status sought = reader->seek(static_cast<sf_count_t>(first)); !sought) {
        chunk.status = sought;
    } else {
        // In pieces: a read that fails gives none of its frames, so a damaged file's break is
        // known to within a piece, as a decode on one thread knows it.
        while (done < count && !stop.stop_requested()) {
            const Result<sf_count_t> got =
                reader->readShorts(chunk.samples.data() + done * static_cast<sf_count_t>(channels_),
                                   std::min<sf_count_t>(count - done, kPieceFrames));
            if (!got || *got == 0) {
                chunk.status = got ? Error({}, QStringLiteral("the data ends there")) : got.error();
                break;
            }
            done += *got;
        }
    }
    // A chunk that failed keeps the frames before the failure: they are handed out first, so
    // that the song reader knows where the sound broke off.
    chunk.samples.resize(static_cast<std::size_t>(done) * channels_);
    ++decodedApart;
    {
        const std::lock_guard lock(readersMutex_);
        readers_.push_back(std::move(reader));
    }
    return chunk;
}

Result<std::size_t> ParallelChunks::read(short* out, std::size_t frames) {
    std::size_t done = 0;
    while (done < frames && current_ < chunks_) {
        if (!holding_) {
            if (!pool_.take(chunk_, true))
                return Error({}, QStringLiteral("the decoding threads stopped"));
            holding_ = true;
            taken_ = 0;
        }
        const std::size_t n = std::min(chunk_.samples.size() - taken_, (frames - done) * channels_);
        std::memcpy(out + done * channels_, chunk_.samples.data() + taken_, n * sizeof(short));
        taken_ += n;
        done += n / channels_;
        if (taken_ < chunk_.samples.size())
            continue;
        if (!chunk_.status) {
            // What came before the failure has been handed out; the failure comes next.
            if (done > 0)
                return done;
            return chunk_.status.error();
        }
        chunk_.samples.clear();
        spares_.push_back(std::move(chunk_.samples));
        chunk_ = {};
        holding_ = false;
        ++current_;
        submitAhead();
    }
    return done;
}

} // namespace quaverly::decode
