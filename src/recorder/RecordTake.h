#pragma once
// The recorder's take: a complete WAV image in one block of memory, the 44-byte header (44.1 kHz,
// stereo, 16-bit) followed by the samples, so that it plays from memory and is saved in one write.
//
// The block grows in steps of kGrowStep bytes by one rule: when a block of samples would reach or
// pass the next multiple of kGrowStep, the capacity becomes length + block + kGrowStep. Resizes
// stay rare (about one per 1.1 s of sound) and the capacity always reaches past the next multiple.
// A block that cannot be had leaves the take as it was, so what was recorded is never lost.
//
// Threads: one thread at a time (the window thread in the program). writeTo() may run on a job's
// thread while the window thread leaves the take alone (the window is disabled meanwhile).

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stop_token>

namespace quaverly {

class RecordTake {
public:
    static constexpr std::uint32_t kGrowStep = 200000;
    static constexpr std::uint32_t kSampleRate = 44100;
    static constexpr std::uint16_t kChannels = 2;
    static constexpr std::uint16_t kBitsPerSample = 16;
    static constexpr std::uint32_t kBytesPerSecond = kSampleRate * kChannels * 2;
    // A save writes this much between two checks for Cancel: large enough that the file writer
    // lends each block to the kernel through a pipe (from 4 MiB, see AtomicFile), which on some
    // virtual machines is several times faster than write() of memory never read before.
    static constexpr std::uint64_t kWriteBlock = 8 << 20;

    // Resizes a block as std::realloc does: null on failure, the old block left as it was.
    using Reallocate = void* (*)(void* block, std::size_t bytes);

    explicit RecordTake(Reallocate reallocate = &std::realloc) : reallocate_(reallocate) {}

    // Discards any earlier take and starts a new one: kGrowStep bytes holding the header, with
    // both size fields 0 until finish(). False when that memory cannot be had (no take then).
    bool start();
    // Appends `bytes` of samples, growing the block by the rule. False when it cannot grow: the
    // take keeps everything appended before.
    bool append(const void* data, std::size_t bytes);
    // The same in two steps, for callers that copy straight into the take: room for `bytes` more
    // at its end (null when the block cannot grow), then commit() of what was written there.
    std::uint8_t* reserve(std::size_t bytes);
    void commit(std::size_t bytes) { length_ += bytes; }
    // Completes the header: riffSize = length - 8, dataSize = length - 44.
    void finish();
    // No take any more; the memory goes.
    void clear();
    // Writes the take, as it is now, to `path` through AtomicFile, in blocks of kWriteBlock
    // bytes: a file there is replaced whole, or left as it was when the write fails (an Error
    // naming `path`, with the cause). `work` hears the bytes written of the take's length after
    // each block; a stop requested on it ends the write before the next block or the commit, as
    // a failure ("cancelled"), the target as it was.
    Status writeTo(const QString& path, const WorkProgress& work = {}) const;

    bool exists() const { return block_ != nullptr; }
    const std::uint8_t* data() const { return block_.get(); }
    // Bytes used, header included.
    std::uint64_t length() const { return length_; }
    std::uint64_t dataBytes() const { return exists() ? length_ - kHeaderBytes : 0; }

private:
    static constexpr std::size_t kHeaderBytes = 44;
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };

    Reallocate reallocate_;
    std::unique_ptr<std::uint8_t, Free> block_;
    std::uint64_t length_ = 0;
};

} // namespace quaverly
