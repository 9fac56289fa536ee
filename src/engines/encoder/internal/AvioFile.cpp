#include "engines/encoder/internal/AvioFile.h"

#include "engines/util/AtomicFile.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cstdio>

namespace quaverly::encode::internal {
namespace {

// Large enough that the muxer's many small writes reach the file in few calls.
constexpr int kBufferBytes = 1 << 16;

} // namespace

AvioFile::AvioFile(AtomicFile& out) : out_(out) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (!buffer)
        return;
    io_ = avio_alloc_context(buffer, kBufferBytes, /*write_flag=*/1, this, nullptr, &writeBytes,
                             &seekTo);
    if (!io_)
        av_free(buffer);
}

AvioFile::~AvioFile() {
    if (!io_)
        return;
    // The context may have replaced the buffer it was given; it is freed as it is now.
    av_freep(&io_->buffer);
    avio_context_free(&io_);
}

bool AvioFile::flush() {
    avio_flush(io_);
    return failure_.isEmpty() && io_->error >= 0;
}

int AvioFile::writeBytes(void* opaque, std::uint8_t* data, int size) {
    auto* self = static_cast<AvioFile*>(opaque);
    if (!self->failure_.isEmpty())
        return AVERROR(EIO);
    if (Status s = self->out_.write(reinterpret_cast<const char*>(data), size); !s) {
        self->failure_ = s.error().cause();
        return AVERROR(EIO);
    }
    return size;
}

std::int64_t AvioFile::seekTo(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<AvioFile*>(opaque);
    QFileDevice& file = self->out_.file();
    if (whence & AVSEEK_SIZE)
        return file.size();
    std::int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        to += file.pos();
        break;
    case SEEK_END:
        to += file.size();
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0 || !file.seek(to)) {
        if (self->failure_.isEmpty())
            self->failure_ =
                to < 0 ? QStringLiteral("a seek before the start of the file") : file.errorString();
        return AVERROR(EIO);
    }
    return to;
}

} // namespace quaverly::encode::internal
