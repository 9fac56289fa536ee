// Finds and loads the FFmpeg module once, and forwards the core's FFmpeg functions to it.
//
// The module is looked for where an installation puts it, relative to the program (so that an
// installation can be moved, `cmake --install --prefix` included), then where the build made it
// (the programs and tests run from the build tree).

#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/SourceBlocks.h"
#include "engines/ffmpeg/internal/Codecs.h"
#include "engines/util/CodecThreads.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

namespace quaverly::ffmpeg {
namespace {

QString programFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

Result<const Codecs*> load() {
    const QString installed =
        QDir(programFolder()).filePath(QStringLiteral(QUAVERLY_FFMPEG_MODULE_INSTALLED));
    const QString built = QStringLiteral(QUAVERLY_FFMPEG_MODULE_BUILT);
    const QString path = QFileInfo::exists(installed) ? installed : built;
    const auto failed = [&path](const QString& why) {
        return Error(QString(), QStringLiteral("cannot load FFmpeg support (%1): %2")
                                    .arg(QDir::toNativeSeparators(path), why));
    };
    // QLibrary never unloads on its own: decoders and threads from the module may live to the
    // end of the process. load() runs once (see codecs()).
    static QLibrary library;
    library.setFileName(path);
    if (!library.load())
        return failed(library.errorString());
    const auto entry =
        reinterpret_cast<QuaverlyFfmpegCodecsFunction>(library.resolve("quaverly_ffmpeg_codecs"));
    if (!entry)
        return failed(library.errorString());
    const Codecs* table = entry();
    if (!table || table->layout != Codecs::kLayout)
        return failed(QStringLiteral("it belongs to another build of Quaverly"));
    return table;
}

} // namespace

Result<const Codecs*> codecs() {
    static const Result<const Codecs*> table = load();
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

std::optional<EncodeFailure> encodeAac(PcmSource& source, const QString& sourceName,
                                       AtomicFile& out, const Settings& settings,
                                       const std::stop_token& stop, AacGapless* gapless) {
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
