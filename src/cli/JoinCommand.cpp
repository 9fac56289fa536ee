// quaverly-cli join OUT IN...: the song list's join, from song files to a WAV or MP3 file.
#include "cli/CommandSupport.h"

#include "songlist/JoinedPcm.h"
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
    // Inputs that must be decoded first get working copies here, as songs added to the list do.
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));

    // Each input becomes a song as adding it to the list makes one. A WAV file already in the
    // plain layout would be copied byte for byte, so it serves as its own working copy.
    QStringList songs;
    for (const QString& in : inputs) {
        if (!QFileInfo(in).isFile())
            return failed(io, QStringLiteral("%1: no such file").arg(in));
        if (copiesWhole(in)) {
            songs << in;
            continue;
        }
        const QString copy = newWorkingCopyPath(work.path());
        if (const int decoded = decodeTo(in, copy, io); decoded != kOk)
            return decoded;
        songs << copy;
    }

    // Either way a song that fails is named as its input was given.
    if (isMp3Target(out)) {
        // The joined songs go straight into the encoder: no joined file is written.
        return encodeTo(joinedSongsSource(songs, inputs), QStringLiteral("the joined songs"), out,
                        bitRate, io);
    }
    Progress progress(io, QStringLiteral("joining"));
    const auto joined = joinSongs(songs, out, {}, inputs);
    if (!joined)
        return failed(io, writeFailure(out, joined.error()));
    return kOk;
}

} // namespace quaverly::cli
