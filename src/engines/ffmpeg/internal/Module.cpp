// Loads the FFmpeg module once (see Module.h for where it is looked for), and forwards the core's
// FFmpeg functions to it.

#include "engines/util/Module.h"
#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/ffmpeg/internal/Codecs.h"
#include "engines/util/CodecThreads.h"

namespace quaverly::ffmpeg {

Result<const Codecs*> codecs() {
    static const Result<const Codecs*> table = loadModuleTable<Codecs>(
        QStringLiteral("FFmpeg support"), QStringLiteral(QUAVERLY_FFMPEG_MODULE_INSTALLED),
        QStringLiteral(QUAVERLY_FFMPEG_MODULE_BUILT), "quaverly_ffmpeg_codecs");
    return table;
}

} // namespace quaverly::ffmpeg

namespace quaverly::decode {

Result<DecoderPtr> openFfmpegDecoder(const QString& path) {
    const auto table = ffmpeg::codecs();
    if (!table)
        return Error(path, table.error().cause(), sound::kFileForm);
    return (*table)->openDecoder(path);
}

} // namespace quaverly::decode

namespace quaverly::encode::internal {

Status encodeAac(PcmSource& source, const QString& sourceName, AtomicFile& out,
                 const Settings& settings, const std::stop_token& stop, AacGapless* gapless) {
    const auto table = ffmpeg::codecs();
    if (!table)
        return encodeFailure(out, table.error().cause());
    return (*table)->encodeAac(source, sourceName, out, settings.effectiveValue(), codecThreads(),
                               stop, gapless);
}

QString aacEncoderMissing() {
    const auto table = ffmpeg::codecs();
    if (!table)
        return table.error().cause();
    if (!(*table)->aacEncoderPresent())
        return QStringLiteral("this build of FFmpeg has no AAC encoder");
    return QString();
}

} // namespace quaverly::encode::internal
