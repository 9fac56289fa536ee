// quaverly-cli join OUT IN...: the song list's join, from song files to a WAV file or any format
// that is written. Ctrl+C stops it at its next block, leaving OUT as it was.
#include "cli/CommandSupport.h"
#include "cli/Console.h"
#include "cli/Job.h"
#include "cli/Target.h"

#include "songlist/JoinedPcm.h"
#include "songlist/ListJoin.h"
#include "songlist/WorkingCopy.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace quaverly::cli {
namespace {

// The joined songs go straight into the encoder: no joined file is written. The clip takes the
// first song's artist, album and cover, and is called "Song list".
int encodeJoined(const QStringList& songs, const QStringList& inputs, const Target& target,
                 const Io& io) {
    if (target.preset && target.preset->maxSeconds > 0) {
        // The same songs the encoder opens again on its thread; one that fails is told there.
        JoinedPcm joined;
        if (joined.open(songs, inputs) &&
            !lengthFits(target, joined.lengthHint(), joined.sampleRate(), io))
            return kFailed;
    }
    ClipTags tags;
    if (!target.plainMp3()) {
        tags = clipTagsFrom(inputs.first());
        tags.title = QStringLiteral("Song list");
        tags = clipTags(target, tags);
    }
    return encodeTo(joinedSongsSource(songs, inputs), QStringLiteral("the joined songs"), target,
                    tags, io);
}

} // namespace

int joinCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& out = args[0];
    const QStringList inputs = args.mid(1);
    Target target;
    if (const int read = readTarget(out, opts, io, &target); read != kOk)
        return read;
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
    if (!target.isWav())
        return encodeJoined(songs, inputs, target, io);
    const auto joined =
        runJob(io, QStringLiteral("joining into ") + QFileInfo(out).fileName(),
               [&](std::stop_token stop, Meter& meter) {
                   const WorkProgress progress{stop, [&](std::uint64_t done, std::uint64_t total) {
                                                   meter.set(done, total);
                                               }};
                   return joinSongs(songs, out, progress, inputs);
               });
    if (joined)
        return kOk;
    if (interrupted())
        return kCancelled;
    return failed(io, writeFailure(out, joined.error()));
}

} // namespace quaverly::cli
