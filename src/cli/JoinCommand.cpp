// quaverly-cli join OUT IN...: the song list's join, from files to a WAV or MP3 file.
#include "cli/CommandSupport.h"

#include "convert/SongDecoder.h"
#include "engines/wav/WavHeader.h"
#include "songlist/ListJoin.h"
#include "songlist/WorkingCopy.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace quaverly::cli {

int joinCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& out = args[0];
    const QStringList inputs = args.mid(1);
    int bitRate = 0;
    if (!bitRateOption(opts, &bitRate, io))
        return kUsage;
    if (!isSoundTarget(out, io))
        return kUsage;
    if (!targetAllowed(out, inputs, io))
        return kFailed;
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));

    // Each input becomes a song as adding it to the list makes one. A WAV file already in the
    // plain layout would be copied byte for byte, so it serves as its own working copy.
    QStringList songs;
    SongDecoder decoder;
    for (const QString& in : inputs) {
        if (!QFileInfo(in).isFile())
            return failed(io, QStringLiteral("%1: no such file").arg(in));
        if (!isSongFile(in))
            return failed(io, QStringLiteral("%1: not a WAV or MP3 file").arg(in));
        const auto layout = isWavTarget(in) ? probeWav(in) : std::nullopt;
        if (layout && layout->canonical && layout->dataSize > 0) {
            songs << in;
            continue;
        }
        const QString copy = newWorkingCopyPath(work.path());
        Progress progress(io, QStringLiteral("reading ") + QFileInfo(in).fileName());
        const auto r = makeWorkingCopy(in, copy, decoder);
        if (!r.ok && !r.cause.isEmpty())
            return failed(io, readFailure(in, r.cause));
        if (!r.ok)
            return failed(
                io,
                r.soundError
                    ? QStringLiteral("%1: %2 (error code %3)").arg(in, r.error).arg(r.soundError)
                    : r.error);
        songs << copy;
    }

    const QString joined = isWavTarget(out) ? out : work.filePath(QStringLiteral("concat.wav"));
    {
        Progress progress(io, QStringLiteral("joining"));
        const auto r = joinSongs(songs, joined);
        if (!r.ok) {
            // The join names a song by its file's name: the input is named as it was given.
            for (qsizetype i = 0; i < songs.size(); ++i) {
                const QString named = QFileInfo(songs[i]).fileName() + QStringLiteral(": ");
                if (r.error.startsWith(named))
                    return failed(io, inputs[i] + QStringLiteral(": ") + r.error.mid(named.size()));
            }
            return failed(io, writeFailure(out, r.error));
        }
    }
    return isWavTarget(out) ? kOk : encodeTo(joined, out, bitRate, io);
}

} // namespace quaverly::cli
