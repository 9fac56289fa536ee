#pragma once
// Writes a PCM WAV file with the 44-byte header: the header goes first with sizes 0, the
// samples follow, and finish() fills in the sizes and renames the file into place. Until then
// the target is untouched, and a writer dropped without finish() leaves nothing behind.
// A failure is an Error naming the target as it was given, with the cause.
//
// Not thread-safe; use from one thread.

#include "engines/util/AtomicFile.h"
#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

namespace quaverly {

class WavWriter {
public:
    explicit WavWriter(QString target) : file_(std::move(target)) {}

    Status open(const WavHeader& format);
    // Appends samples; refuses (before writing) what would take the data past the 4 GiB limit
    // of the header's size fields.
    Status write(const char* data, qint64 bytes);
    Status finish();

    std::uint64_t dataBytes() const { return bytes_; }
    const WavHeader& header() const { return header_; }

private:
    Status writeHeader();

    AtomicFile file_;
    WavHeader header_;
    std::uint64_t bytes_ = 0;
};

} // namespace quaverly
