// quaverly-cli convert IN OUT: decodes any song file to a WAV file or encodes it to an MP3 file,
// by OUT's name.
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
    // A WAV file of one or two channels goes to the encoder as it is, keeping the precision of
    // deeper samples; anything else is decoded first, as adding it to the list decodes it.
    if (const auto layout = probeWav(in); layout && layout->channels <= 2)
        return encodeTo(in, out, bitRate, io);
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = work.filePath(QStringLiteral("decoded.wav"));
    const int decoded = decodeTo(in, wav, io);
    return decoded == kOk ? encodeTo(wav, out, bitRate, io) : decoded;
}

} // namespace quaverly::cli
