#pragma once
// Decoding a file whose positions are exact (FLAC: every frame stands alone, and libsndfile seeks
// to the sample) on several threads: the sound is cut into chunks of equal length, the workers of
// an OrderedPool decode them, each through a reader of the file it opened for itself, and the
// reader hands the chunks out in order. The samples are the one pass's, bit for bit.
//
// Threads: read() and the destructor belong to the thread that uses the decoder; the workers
// only decode chunks. At most two chunks per worker are in memory, the one being read included.

#include "engines/util/Error.h"
#include "engines/util/OrderedPool.h"
#include "engines/wav/internal/SndfileReader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quaverly::decode {

class ParallelChunks {
public:
    // Opens another reader of the same file; the Error holds the cause alone.
    using Open = std::function<Result<std::unique_ptr<SndfileReader>>()>;

    ParallelChunks(Open open, std::uint64_t frames, int channels, int threads,
                   std::uint64_t chunkFrames);
    ~ParallelChunks();
    ParallelChunks(const ParallelChunks&) = delete;
    ParallelChunks& operator=(const ParallelChunks&) = delete;

    // The next frames in order, as SndfileReader reads them: fewer at the end, and before a
    // failure the frames decoded up to it; the read after those fails, the Error holding the
    // cause alone.
    Result<std::size_t> read(short* out, std::size_t frames);

    // For tests: chunks of `n` frames instead of the usual, until called with 0; and how many
    // chunks have been decoded apart since the program started.
    static void setChunkFramesForTesting(std::uint64_t n);
    static std::uint64_t chunkFrames(std::uint64_t usual);
    static std::uint64_t chunksDecoded();

private:
    struct Job {
        std::uint64_t chunk = 0;
        std::vector<short> samples; // an earlier chunk's buffer, for this one's samples
    };
    struct Chunk {
        std::vector<short> samples; // up to the failure, when there is one
        Status status;
    };

    Chunk decode(Job& job, const std::stop_token& stop); // workers
    void submitAhead();

    Open open_;
    std::uint64_t frames_;
    std::size_t channels_;
    std::uint64_t chunkFrames_;
    std::uint64_t chunks_;
    std::uint64_t lookahead_; // chunks decoded or being decoded ahead, the one read included

    // The readers no worker uses at the moment: a worker takes one, or opens one when there is
    // none, and gives it back after its chunk, so there are never more than workers.
    std::mutex readersMutex_;
    std::vector<std::unique_ptr<SndfileReader>> readers_;

    // The reading thread's own.
    std::uint64_t next_ = 0;    // the next chunk handed to the workers
    std::uint64_t current_ = 0; // the chunk being handed out
    Chunk chunk_;               // it, while `holding_`
    bool holding_ = false;
    std::size_t taken_ = 0; // samples of it handed out
    std::vector<std::vector<short>> spares_;

    OrderedPool<Job, Chunk> pool_; // last: its workers are joined before everything above goes
};

} // namespace quaverly::decode
