#pragma once
// An AVIOContext over an AtomicFile's temporary file, so that a libavformat muxer writes the
// file the program commits: its writes go into the file and its seeks move in it (the MP4 muxer
// goes back to fill in the size of the sound's box). FFmpeg sees only an error code when a write
// fails; the file's own words for it are kept here.
//
// Not thread-safe; use from the thread that writes the file.

#include <QString>

extern "C" {
#include <libavformat/avio.h>
}

#include <cstdint>

namespace quaverly {
class AtomicFile;
}

namespace quaverly::encode::internal {

class AvioFile {
public:
    // `out` is open and outlives this.
    explicit AvioFile(AtomicFile& out);
    ~AvioFile(); // frees the context and its buffer; the file stays open
    AvioFile(const AvioFile&) = delete;
    AvioFile& operator=(const AvioFile&) = delete;

    // nullptr when FFmpeg could not allocate it.
    AVIOContext* context() const { return io_; }
    // The cause of the first write or seek that failed, in the file's words; empty when none.
    const QString& failure() const { return failure_; }
    // Hands what the context still buffers to the file; false when that or an earlier write
    // failed (failure() says why).
    bool flush();

private:
    static int writeBytes(void* opaque, std::uint8_t* data, int size);
    static std::int64_t seekTo(void* opaque, std::int64_t offset, int whence);

    AtomicFile& out_;
    AVIOContext* io_ = nullptr;
    QString failure_;
};

} // namespace quaverly::encode::internal
