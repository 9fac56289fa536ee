// quaverly-cli convert IN OUT: decodes any song file to a WAV file or encodes it into any format
// that is written, by OUT's name.
#include "cli/CommandSupport.h"
#include "cli/Target.h"

#include "engines/wav/WavHeader.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace quaverly::cli {

int convertCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& in = args[0];
    Target target;
    if (const int read = readTarget(args[1], opts, io, &target); read != kOk)
        return read;
    if (!QFileInfo(in).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(in));
    if (!targetAllowed(target.path, {in}, io))
        return kFailed;
    if (target.isWav())
        return decodeTo(in, target.path, io);
    const ClipTags tags = target.plainMp3() ? ClipTags{} : clipTags(target, clipTagsFrom(in));
    // A WAV file of one or two channels goes to the encoder as it is, keeping the precision of
    // deeper samples; anything else is decoded first, as adding it to the list decodes it.
    if (const auto layout = probeWav(in); layout && layout->channels <= 2) {
        if (!wavLengthFits(target, in, io))
            return kFailed;
        return encodeTo(in, target, tags, io);
    }
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = work.filePath(QStringLiteral("decoded.wav"));
    if (const int decoded = decodeTo(in, wav, io); decoded != kOk)
        return decoded;
    if (!wavLengthFits(target, wav, io))
        return kFailed;
    return encodeTo(wav, target, tags, io);
}

} // namespace quaverly::cli
