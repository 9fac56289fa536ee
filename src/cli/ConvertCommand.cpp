// quaverly-cli convert IN OUT: decodes to a WAV file or encodes to an MP3 file, by OUT's name.
#include "cli/CommandSupport.h"

#include "engines/wav/WavHeader.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace quaverly::cli {

int convertCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& in = args[0];
    const QString& out = args[1];
    int bitRate = 0;
    if (!bitRateOption(opts, &bitRate, io))
        return kUsage;
    if (!QFileInfo(in).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(in));
    if ((isWavTarget(out) || isMp3Target(out)) && !targetAllowed(out, {in}, io))
        return kFailed;
    if (isWavTarget(out))
        return decodeTo(in, out, io);
    if (!isSoundTarget(out, io))
        return kUsage;
    const auto layout = probeWav(in);
    if (layout && layout->channels > 2)
        return failed(io, unsupportedWav(in));
    if (layout)
        return encodeTo(in, out, bitRate, io);
    // Not a WAV file: decode it first, then encode the decoded sound.
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = work.filePath(QStringLiteral("decoded.wav"));
    const int decoded = decodeTo(in, wav, io);
    return decoded == kOk ? encodeTo(wav, out, bitRate, io) : decoded;
}

} // namespace quaverly::cli
