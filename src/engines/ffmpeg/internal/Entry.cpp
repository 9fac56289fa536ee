// The FFmpeg module's one exported symbol: its table of functions.

#include "engines/ffmpeg/internal/Codecs.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT const quaverly::ffmpeg::Codecs* quaverly_ffmpeg_codecs() {
    static const quaverly::ffmpeg::Codecs table{
        quaverly::ffmpeg::Codecs::kLayout, &quaverly::ffmpeg::openDecoder,
        &quaverly::ffmpeg::encodeAac,      &quaverly::ffmpeg::aacEncoderPresent,
        &quaverly::ffmpeg::probeM4a,       &quaverly::ffmpeg::copyM4a,
    };
    return &table;
}
