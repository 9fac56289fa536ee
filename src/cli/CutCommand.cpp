// quaverly-cli cut IN OUT --from T --to T [effects]: the clip editor's cut, with its fades and
// normalising, from a file to a WAV file or any format that is written. A clip of the song's own
// codec with no effects keeps the song's frames (FrameCopy.h) without decoding the song; else,
// or with --reencode, it is cut from the song's decode and encoded.
#include "cli/CommandSupport.h"
#include "cli/Console.h"
#include "cli/ProgressLine.h"
#include "cli/Target.h"

#include "cli/Job.h"
#include "editor/ClipDone.h"
#include "engines/encoder/FrameCopy.h"
#include "engines/formats/Formats.h"
#include "engines/util/FrameTime.h"
#include "engines/wav/WavHeader.h"
#include "songlist/WorkingCopy.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <optional>

namespace quaverly::cli {
namespace {

// Reads the fade and normalising options into `e`; false, with the message said, when one of
// them is wrong.
bool effectsOptions(const Options& opts, ClipEffects* e, const Io& io) {
    for (const auto& [name, ms] : {std::pair{QStringLiteral("fade-in"), &e->fadeInMs},
                                   std::pair{QStringLiteral("fade-out"), &e->fadeOutMs}}) {
        if (!opts.contains(name))
            continue;
        *ms = parseTime(opts[name]);
        if (*ms < 0) {
            say(io.err,
                QStringLiteral("quaverly-cli cut: --%1 is milliseconds or h:mm:ss.mmm").arg(name));
            return false;
        }
    }
    const QString peak = QStringLiteral("normalize-peak");
    const QString loudness = QStringLiteral("normalize-loudness");
    if (opts.contains(peak) && opts.contains(loudness)) {
        say(io.err, QStringLiteral("quaverly-cli cut: --normalize-peak and --normalize-loudness "
                                   "cannot be used together"));
        return false;
    }
    bool ok = true;
    if (opts.contains(peak)) {
        e->normalise = ClipEffects::Normalise::Peak;
        e->peakDbfs = opts[peak].toDouble(&ok);
    } else if (opts.contains(loudness)) {
        e->normalise = ClipEffects::Normalise::Loudness;
        e->loudnessLufs = opts[loudness].toDouble(&ok);
    }
    if (!ok || !checkClipEffects(*e)) {
        say(io.err, e->normalise == ClipEffects::Normalise::Peak
                        ? QStringLiteral("quaverly-cli cut: --normalize-peak must be a level in "
                                         "dBFS, at most 0 (e.g. -1)")
                        : QStringLiteral("quaverly-cli cut: --normalize-loudness must be a "
                                         "loudness in LUFS from -70 to 0 (e.g. -14)"));
        return false;
    }
    return true;
}

// Cuts `song` (IN as a plain PCM WAV) into the target: a WAV target directly, any other through
// a WAV clip in `work` that is then encoded, once its length is known to fit the preset.
int writeClip(const QString& in, const QString& song, const Target& target, long long markIn,
              long long markOut, const ClipEffects& effects, QTemporaryDir& work, const Io& io) {
    if (!target.isWav() && !work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString clip = target.isWav() ? target.path : work.filePath(QStringLiteral("clip.wav"));
    // The cut takes no stop: a Ctrl+C during it is heeded when it is done, by the encoding.
    if (interrupted())
        return kCancelled;
    const DoneOutcome r = [&] {
        const ProgressLine line(io, QStringLiteral("cutting ") + QFileInfo(in).fileName(), false);
        return cutClipWithEffects(song, clip, markIn, markOut, effects, nullptr);
    }();
    if (!r) { // the marks are in order: the cut itself failed
        const Error& failure = r.error();
        if (failure.file() == clip)
            return failed(io, QStringLiteral("cannot write %1: %2").arg(clip, failure.cause()));
        return failed(io, QStringLiteral("%1: %2").arg(in, failureText(failure)));
    }
    if (!target.isWav()) {
        if (!wavLengthFits(target, clip, io))
            return kFailed;
        const ClipTags tags = target.plainMp3() ? ClipTags{} : clipTags(target, clipTagsFrom(in));
        if (const int encoded = encodeTo(clip, target, tags, io); encoded != kOk)
            return encoded;
    }
    if (const QString said = r->effects.summary(); !said.isEmpty())
        say(io.out, said);
    return kOk;
}

// The song as the cut works on it: a plain PCM WAV, as a song's working copy is. Anything else
// is first decoded into one in `work`, as adding it to the list would. kOk, or said.
int plainSong(const QString& in, QTemporaryDir& work, const Io& io, QString* song,
              std::optional<WavLayout>* layout) {
    *song = in;
    if (auto probed = probeWav(in); probed && isPlainPcm(*probed)) {
        *layout = *probed;
        return kOk;
    }
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    *song = newWorkingCopyPath(work.path());
    if (const int decoded = decodeTo(in, *song, io); decoded != kOk)
        return decoded;
    auto probed = probeWav(*song);
    if (!probed)
        return failed(io, QStringLiteral("%1: the decoded sound cannot be read").arg(in));
    *layout = *probed;
    return kOk;
}

int pastTheEnd(const QString& in, std::uint64_t frames, std::uint32_t rate, const Io& io) {
    say(io.err, QStringLiteral("quaverly-cli cut: %1: --to is past the end of the sound (%2 ms)")
                    .arg(in)
                    .arg(frametime::framesToMs(frames, rate)));
    return kUsage;
}

// The clip as the frame copy sees the target.
framecopy::ClipOutput clipOutput(const Target& target) {
    return {target.isWav() ? &formats::wav() : &formats::info(*target.format), target.settings,
            target.preset};
}

// Writes the clip keeping the song's frames. kOk with the words said, a failure said,
// kCancelled, or kFellBack with *why set when the frames turned out not to be kept after all.
constexpr int kFellBack = -1;
int keepClip(const QString& in, const Target& target, std::uint64_t from, std::uint64_t to,
             const Io& io, QString* why) {
    const ClipTags tags = target.plainMp3() ? ClipTags{} : clipTags(target, clipTagsFrom(in));
    const Status copied =
        runJob(io, QStringLiteral("cutting ") + QFileInfo(in).fileName(),
               [&](std::stop_token stop, Meter& meter) {
                   return framecopy::copyClip(
                       in, from, to, target.path, clipOutput(target), tags,
                       {std::move(stop), [&meter](std::uint64_t done, std::uint64_t total) {
                            meter.set(done, total);
                        }});
               });
    if (copied) {
        say(io.out, framecopy::keptWords());
        return kOk;
    }
    const Error& e = copied.error();
    if (interrupted() || e.step() == int(framecopy::CopyStep::Cancel))
        return kCancelled;
    switch (framecopy::CopyStep(e.step())) {
    case framecopy::CopyStep::CannotKeep:
        *why = e.cause();
        return kFellBack;
    case framecopy::CopyStep::Write:
        return failed(io, writeFailure(target.path, e));
    default:
        return failed(io, e.text());
    }
}

} // namespace

long long parseTime(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(?:(?:(\d+):)?(\d{1,2}):)?(\d+)(?:\.(\d{1,3}))?$)"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return -1;
    const bool clock = m.capturedLength(2) > 0 || m.capturedLength(4) > 0;
    const long long h = m.captured(1).toLongLong();
    const long long min = m.captured(2).toLongLong();
    const QString secText = m.captured(3);
    if (!clock) // a plain number is milliseconds
        return secText.size() > 15 ? -1 : secText.toLongLong();
    if (secText.size() > 2 && m.capturedLength(2) > 0)
        return -1;
    if ((m.capturedLength(2) > 0 && secText.toLongLong() >= 60) ||
        (m.capturedLength(1) > 0 && min >= 60) || secText.size() > 9)
        return -1;
    const QString frac = m.captured(4);
    const long long ms = frac.isEmpty() ? 0 : frac.leftJustified(3, QLatin1Char('0')).toLongLong();
    return ((h * 60 + min) * 60 + secText.toLongLong()) * 1000 + ms;
}

int cutCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& in = args[0];
    const QString& out = args[1];
    if (!opts.contains(QStringLiteral("from")) || !opts.contains(QStringLiteral("to"))) {
        say(io.err, QStringLiteral("quaverly-cli cut: --from and --to are both needed"));
        return kUsage;
    }
    const long long markIn = parseTime(opts[QStringLiteral("from")]);
    const long long markOut = parseTime(opts[QStringLiteral("to")]);
    if (markIn < 0 || markOut < 0) {
        say(io.err, QStringLiteral("quaverly-cli cut: a time is milliseconds or h:mm:ss.mmm"));
        return kUsage;
    }
    if (markIn >= markOut) {
        say(io.err, QStringLiteral("quaverly-cli cut: Time Input Error: --from must be before "
                                   "--to"));
        return kUsage;
    }
    const bool copy = opts.contains(QStringLiteral("copy"));
    const bool reencode = opts.contains(QStringLiteral("reencode"));
    if (copy && reencode) {
        say(io.err, QStringLiteral("quaverly-cli cut: --copy and --reencode cannot be used "
                                   "together"));
        return kUsage;
    }
    ClipEffects effects;
    if (!effectsOptions(opts, &effects, io))
        return kUsage;
    Target target;
    if (const int read = readTarget(out, opts, io, &target); read != kOk)
        return read;
    if (!QFileInfo(in).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(in));
    if (!targetAllowed(out, {in}, io))
        return kFailed;

    QTemporaryDir work;
    QString song;
    std::optional<WavLayout> layout;
    QString why; // why the song's frames are not kept, when they could have been
    if (!reencode) {
        const framecopy::ClipOutput output = clipOutput(target);
        std::optional<framecopy::KeptSound> kept;
        if (effects.any()) {
            why = QStringLiteral("fades or a level change are set");
        } else if (opts.contains(QStringLiteral("bitrate"))) {
            why = QStringLiteral("--bitrate asks for a new encoding");
        } else if (const auto sound = framecopy::keptSound(in, output); sound) {
            kept = *sound;
        } else {
            why = sound.error().cause();
        }
        if (kept) {
            // A length only a decode tells is learnt as the re-encoding would learn it.
            std::uint64_t frames = kept->frames;
            const auto rate = std::uint32_t(kept->sampleRate);
            if (frames == 0) {
                if (const int ready = plainSong(in, work, io, &song, &layout); ready != kOk)
                    return ready;
                frames = layout->dataSize / layout->blockAlign;
            }
            if (frametime::framesToMs(frames, rate) < std::uint64_t(markOut))
                return pastTheEnd(in, frames, rate, io);
            // The frames the cut from a decoded copy would keep, so that keeping and
            // re-encoding give a clip of the same length.
            const Result<MarkedFrames> marked = markedFrames(rate, frames, markIn, markOut);
            if (!marked)
                return failed(io, QStringLiteral("%1: %2").arg(in, failureText(marked.error())));
            const std::uint64_t from = marked->first, to = marked->end;
            if (!lengthFits(target, std::int64_t(to - from), int(rate), io))
                return kFailed;
            if (const int done = keepClip(in, target, from, to, io, &why); done != kFellBack)
                return done;
        }
        if (copy)
            return failed(
                io, QStringLiteral("%1: the song's own sound cannot be kept: %2").arg(in, why));
        if (!framecopy::sameCodec(in, *output.kind))
            why.clear(); // another codec: re-encoding goes without saying
    }
    if (!layout)
        if (const int ready = plainSong(in, work, io, &song, &layout); ready != kOk)
            return ready;
    const std::uint64_t frames = layout->dataSize / layout->blockAlign;
    if (frametime::framesToMs(frames, layout->sampleRate) < std::uint64_t(markOut))
        return pastTheEnd(in, frames, layout->sampleRate, io);
    if (!why.isEmpty())
        say(io.out, QStringLiteral("Re-encodes the song's sound: %1").arg(why));
    return writeClip(in, song, target, markIn, markOut, effects, work, io);
}

} // namespace quaverly::cli
