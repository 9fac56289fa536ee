// Opus in Ogg through libopusenc, at a variable bit rate. libopusenc takes the source at its own
// rate, resamples it to 48 kHz itself and writes the source's rate into the header; the pre-skip
// and the last page's granule position make decoders give back the source's length at 48 kHz.
// The tags go into the comment header.

#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/ReadAhead.h"

#include <opusenc.h>

#include <memory>
#include <utility>

namespace quaverly::encode::internal {
namespace {

struct EncoderDestroyer {
    void operator()(OggOpusEnc* e) const { ope_encoder_destroy(e); }
};
using OpusEncPtr = std::unique_ptr<OggOpusEnc, EncoderDestroyer>;

struct CommentsDestroyer {
    void operator()(OggOpusComments* c) const { ope_comments_destroy(c); }
};
using OpusCommentsPtr = std::unique_ptr<OggOpusComments, CommentsDestroyer>;

// Where libopusenc's pages go. libopusenc does not stop on a failed write, so the first failure
// is kept here (later pages are dropped) and the encoder checks it after each call.
struct PageSink {
    AtomicFile* out;
    std::optional<Error> failed;

    static int write(void* self, const unsigned char* data, opus_int32 bytes) {
        auto* sink = static_cast<PageSink*>(self);
        if (sink->failed)
            return 1;
        if (Status s = sink->out->write(reinterpret_cast<const char*>(data), bytes); !s) {
            sink->failed = s.error();
            return 1;
        }
        return 0;
    }
    // The AtomicFile stays open: encodeSong commits it.
    static int close(void*) { return 0; }
};

QString opusCause(int code) {
    return QStringLiteral("libopusenc: %1").arg(QString::fromUtf8(ope_strerror(code)));
}

} // namespace

Status encodeOpus(PcmSource& source, AtomicFile& out, const Settings& settings,
                  const std::vector<QByteArray>& comments, const std::stop_token& stop) {
    const int channels = source.channels();
    // The sink outlives the encoder, which may still write when it is destroyed.
    PageSink sink{&out, std::nullopt};
    const OpusEncCallbacks callbacks{&PageSink::write, &PageSink::close};
    const OpusCommentsPtr tags(ope_comments_create());
    if (!tags)
        return encodeFailure(out, opusCause(OPE_ALLOC_FAIL));
    int rc = OPE_OK;
    for (const QByteArray& field : comments) {
        if (rc = ope_comments_add_string(tags.get(), field.constData()); rc != OPE_OK)
            return encodeFailure(out, opusCause(rc));
    }
    // Mapping family 0: mono or stereo in one stream, as every player takes it.
    const OpusEncPtr encoder(ope_encoder_create_callbacks(&callbacks, &sink, tags.get(),
                                                          source.sampleRate(), channels, 0, &rc));
    if (!encoder || rc != OPE_OK)
        return encodeFailure(out, opusCause(rc != OPE_OK ? rc : OPE_ALLOC_FAIL));
    // Unconstrained VBR, as opusenc encodes: the bit rate is the average, each frame takes what
    // it needs. The program's sound is 16-bit at heart (working copies, takes): told so, the
    // encoder spends no bits below the 16-bit noise floor.
    for (const auto& [request, value] :
         {std::pair{OPUS_SET_BITRATE_REQUEST, settings.effectiveValue() * 1000},
          std::pair{OPUS_SET_VBR_CONSTRAINT_REQUEST, 0},
          std::pair{OPUS_SET_LSB_DEPTH_REQUEST, 16}}) {
        if (rc = ope_encoder_ctl(encoder.get(), request, opus_int32(value)); rc != OPE_OK)
            return encodeFailure(out, opusCause(rc));
    }

    // A failure of the last call: the write that failed first, else the encoder's words.
    const auto afterCall = [&](int code) -> Status {
        if (sink.failed)
            return writeFailure(*sink.failed);
        if (code != OPE_OK)
            return encodeFailure(out, opusCause(code));
        return {};
    };
    if (Status failed = forEachBlockReadAhead(source, out, stop, Layout::Interleaved,
                                              [&](const float* frames, std::size_t count) {
                                                  return afterCall(ope_encoder_write_float(
                                                      encoder.get(), frames, int(count)));
                                              });
        !failed)
        return failed;
    return afterCall(ope_encoder_drain(encoder.get()));
}

} // namespace quaverly::encode::internal
