#pragma once
// Decoding a file whose positions are exact (FLAC: every frame stands alone, and libsndfile seeks
// to the sample) on several threads: the sound is cut into chunks of equal length, each worker
// opens the file for itself and decodes every n-th chunk, and the reader hands the chunks out in
// order. The samples are the one pass's, bit for bit.
//
// Threads: read() and the destructor belong to the thread that uses the decoder; the workers
// only fill chunks. A worker waits while its next chunk's slot still holds one not yet read, so
// at most two chunks per worker are in memory.

#include "engines/wav/internal/SndfileReader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quaverly::decode {

class ParallelChunks {
public:
    // Opens another reader of the same file, or null with `cause` set.
    using Open = std::function<std::unique_ptr<SndfileReader>(QString* cause)>;

    ParallelChunks(Open open, std::uint64_t frames, int channels, int threads,
                   std::uint64_t chunkFrames);
    ~ParallelChunks();
    ParallelChunks(const ParallelChunks&) = delete;
    ParallelChunks& operator=(const ParallelChunks&) = delete;

    // The next frames in order, as SndfileReader::readShorts: fewer at the end and before a
    // failure (the frames decoded up to it), then -1 with cause() set.
    std::int64_t read(short* out, std::int64_t frames);
    const QString& cause() const { return cause_; }

    // For tests: chunks of `n` frames instead of the usual, until called with 0; and how many
    // chunks have been decoded apart since the program started.
    static void setChunkFramesForTesting(std::uint64_t n);
    static std::uint64_t chunkFrames(std::uint64_t usual);
    static std::uint64_t chunksDecoded();

private:
    // A slot's samples and failure belong to its worker until `ready` is stored true, then to
    // the reader until it stores false: the atomics carry the samples from one to the other,
    // the mutex and condition only wake the waiting side.
    struct Slot {
        std::atomic<std::uint64_t> chunk{~std::uint64_t{0}}; // which chunk it holds
        std::atomic<bool> ready{false};
        std::vector<short> samples;
        QString failure;
    };

    void work(int worker);

    Open open_;
    std::uint64_t frames_;
    std::size_t channels_;
    std::uint64_t chunkFrames_;
    std::uint64_t chunks_;
    int threads_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_; // chunk k goes to slot k % slots_.size()
    bool stopping_ = false;

    // The reading thread's own.
    std::uint64_t next_ = 0; // the chunk being handed out
    std::size_t taken_ = 0;  // samples of it handed out
    QString cause_;
    std::vector<std::thread> workers_; // last: they start once everything above is set
};

} // namespace quaverly::decode
