#pragma once
// What the FLAC encoders share: libFLAC's handles with their owners, its states in words, the
// stream encoder set up for 16-bit sound at a compression level, the metadata blocks a stream
// gets (a seek table and padding), the file the encoder writes into, and the samples rounded to
// 16 bits.

#include "engines/util/AtomicFile.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quaverly::encode::internal {

struct FlacEncoderDeleter {
    void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};
using FlacEncoderPtr = std::unique_ptr<FLAC__StreamEncoder, FlacEncoderDeleter>;

struct FlacMetadataDeleter {
    void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using FlacMetadataPtr = std::unique_ptr<FLAC__StreamMetadata, FlacMetadataDeleter>;

// libFLAC names its states and statuses by their enum names ("FLAC__STREAM_ENCODER_IO_ERROR"):
// in words, "libFLAC: io error".
QString flacWords(const char* name);

// The encoder's state in words.
QString flacStateWords(const FLAC__StreamEncoder* encoder);

// Sets a new encoder up for 16-bit sound of `channels` at `rate` at compression `level`; false
// when libFLAC refuses a setting.
bool setUpFlacEncoder(FLAC__StreamEncoder* encoder, int channels, int rate, int level);

// The blocks written after STREAMINFO: a seek table when the length is known, and padding.
// Each is nullptr when it could not be made (a seek table is then left out).
std::array<FlacMetadataPtr, 2> flacMetadataBlocks(std::int64_t frames, int rate);

// Sets a new encoder up as setUpFlacEncoder does, for a stream of `frames` (0 or less when not
// known) with the `blocks` made for it after STREAMINFO; they must outlive the encoder, which
// writes them while it is deleted. False when libFLAC refuses a setting.
bool setUpFlacStream(FLAC__StreamEncoder* encoder, int channels, int rate, int level,
                     std::int64_t frames, const std::array<FlacMetadataPtr, 2>& blocks);

// Full-scale floats back to 16-bit integers: the working copies' samples (v / 32768) come back
// exact; anything else is clipped and rounded to the nearest (halves away from zero), without
// a branch or a call.
template <typename Int> void toInt16(const float* in, std::size_t count, Int* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const float v = std::min(std::max(in[i] * 32768.f, -32768.f), 32767.f);
        out[i] = Int(v + std::copysign(0.5f, v));
    }
}

// The file behind libFLAC's callbacks. The first failed write or seek is kept, in words, since
// libFLAC itself only tells that a callback failed.
struct FlacFileSink {
    AtomicFile* out;
    std::optional<Error> failed;
    qint64 end = 0; // one past the last byte written

    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte data[],
                                                size_t bytes, uint32_t, uint32_t, void* self) {
        auto* sink = static_cast<FlacFileSink*>(self);
        if (Status s = sink->out->write(reinterpret_cast<const char*>(data), qint64(bytes)); !s) {
            sink->failed = s.error();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        sink->end = std::max(sink->end, sink->out->file().pos());
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
    static FLAC__StreamEncoderSeekStatus seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* self) {
        auto* sink = static_cast<FlacFileSink*>(self);
        return sink->seekTo(qint64(offset)) ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                            : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    static FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* self) {
        *offset = FLAC__uint64(static_cast<FlacFileSink*>(self)->out->file().pos());
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    bool seekTo(qint64 offset) {
        if (out->file().seek(offset))
            return true;
        failed = Error(out->target(), out->file().errorString());
        return false;
    }
};

} // namespace quaverly::encode::internal
