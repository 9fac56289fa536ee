// "Export Clip…": the stretch between the marks, with the fades and the level set under them,
// into a file of the chosen format; in the codec of the song's own file, without effects, a copy
// of that file's frames where it can be. The song, its marks and its undo stay as they are: the
// clip is cut into a work file of this instance's working folder by the code "Done" runs, encoded
// from there, and the work file goes when the encoding ends, whatever its outcome.
#include "editor/ClipDone.h"
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/TimeText.h"
#include "engines/encoder/Presets.h"
#include "engines/formats/Formats.h"
#include "engines/player/WavPlayer.h"
#include "engines/tags/ClipTags.h"
#include "engines/util/SameFile.h"
#include "ui/Dialogs.h"
#include "ui/EncodedSave.h"
#include "ui/Encodings.h"
#include "ui/Jobs.h"
#include "ui/OutputChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace quaverly {

namespace {

// The song's name as a file name: no folder separators in it.
QString fileNameFor(const QString& songName) {
    QString name = songName;
    name.replace(u'/', u'-');
#ifdef Q_OS_WIN
    name.replace(u'\\', u'-');
#endif
    return name.isEmpty() ? QStringLiteral("clip") : name;
}

} // namespace

void EditorHandlers::CmdExport_Click() {
    if (song_.isEmpty() || !s_.encodings || !s_.workPath)
        return;
    if (const QString why = markProblem(); !why.isEmpty()) {
        s_.dialogs->tell(QStringLiteral("Time Input Error: %1.").arg(why), Dialogs::Icon::Warning);
        return;
    }
    const qint64 in = *s_.MarkIn, out = *s_.MarkOut;
    // The frames the cut will keep; unknown when the song's header could not be read (the cut
    // then says why).
    std::optional<MarkedFrames> kept;
    if (grid_.isValid())
        if (const auto marked = markedFrames(grid_.rate(), grid_.frames(), in, out))
            kept = *marked;
    const OutputChoice output = s_.output();
    if (const encode::Preset* preset = output.preset(); preset && kept) {
        if (const auto tooLong = encode::lengthLimitText(
                *preset, std::int64_t(kept->end - kept->first), int(grid_.rate()))) {
            // The In mark stays where the user put it. The clip is longer than the limit, so
            // In + limit is short of Out, and so within the song.
            const qint64 to = std::min(in + qint64(preset->maxSeconds) * 1000, grid_.lengthMs());
            if (s_.dialogs->question(
                    tr("Clip too long"),
                    tr("%1\n\nNothing was saved. Move the Out mark to %2, %3 seconds after the In "
                       "mark? Then press \"Export Clip…\" again.")
                        .arg(*tooLong, positionText(to))
                        .arg(preset->maxSeconds)))
                placeMarks(in, to);
            return;
        }
    }
    const QString offered = QDir(s_.baseFolder())
                                .filePath(fileNameFor(songName_) + QLatin1Char('.') +
                                          QLatin1String(formats::info(output.format()).extension));
    const auto target = askEncodedTarget(*s_.dialogs, tr("Export Clip"), offered, output.format());
    if (!target)
        return;
    if (sameFile(song_, target->path)) {
        s_.dialogs->tell(tr("The clip was not saved: %1 is the working copy of %2, which the clip "
                            "is made from. Choose another file to save to.")
                             .arg(target->path, songName_),
                         Dialogs::Icon::Critical);
        return;
    }
    // The working copy is read until the job ends: the window stays disabled until then, so
    // that no "Done" or undo replaces it meanwhile, and the editor's player stops.
    const ClipEffects effects = chosenEffects();
    QString note; // why the clip is re-encoded, when the "Finish Save" should say it
    if (isWavTarget(target->path)) {
        s_.editorPlayer->stop();
        if (auto clip = keptClip(target->path, kept, effects.any(), &note)) {
            startKeptSave(*s_.jobs, *s_.dialogs, std::move(*clip),
                          [this, path = target->path, in, out, effects](const QString& why) {
                              exportWav(path, in, out, effects, notKeptNote(why));
                          });
            return;
        }
        exportWav(target->path, in, out, effects, note);
        return;
    }
    const encode::Settings settings = output.settingsFor(target->format, true);
    if (!settingsUsable(*s_.dialogs, settings, target->path))
        return;
    // The title offered is the one the song's tags gave when it was listed, else its file's
    // name, as the tags read for the clip would give it.
    QString suggested = songTitle_;
    if (suggested.isEmpty())
        suggested = songSource_.isEmpty() ? songName_ : QFileInfo(songSource_).completeBaseName();
    const std::optional<QString> title = askClipTitle(*s_.dialogs, suggested);
    if (!title)
        return;
    // The rest of the tags and the cover are read from the song on the job's thread.
    Encodings::Job job;
    job.tags = tagsReadFrom(songSource_, *title, output.presetFor(target->format));

    s_.editorPlayer->stop();
    if (auto clip = keptClip(target->path, kept, effects.any(), &note)) {
        clip->tags = job.tags;
        startKeptSave(*s_.jobs, *s_.dialogs, std::move(*clip),
                      [this, path = target->path, settings, in, out, effects, kept,
                       job](const QString& why) mutable {
                          job.savedNote = notKeptNote(why);
                          exportEncoded(path, settings, in, out, effects, kept, std::move(job));
                      });
        return;
    }
    job.savedNote = note;
    exportEncoded(target->path, settings, in, out, effects, kept, std::move(job));
}

std::optional<KeptClip> EditorHandlers::keptClip(const QString& target,
                                                 const std::optional<MarkedFrames>& frames,
                                                 bool effects, QString* note) const {
    // A working copy gone missing is told as the cut from it tells it.
    if (!frames || !s_.originOf || !s_.formatOf || !QFileInfo::exists(song_))
        return std::nullopt;
    const SongOrigin origin = s_.originOf(song_);
    const OutputChoice output = s_.output();
    const framecopy::ClipOutput kind = clipOutputFor(output, target);
    const KeepChance chance =
        keepChance(origin, s_.formatOf(song_), *kind.kind, output.keepsSound(), effects);
    if (chance.kind == KeepChance::Kind::Changed)
        *note = notKeptNote(chance.why);
    if (chance.kind != KeepChance::Kind::Maybe)
        return std::nullopt;
    // The marks are frames of the working copy, which holds the file's frames from `from` on.
    return KeptClip{
        origin.file, origin.from + frames->first, origin.from + frames->end, target, kind, {}};
}

void EditorHandlers::exportEncoded(const QString& target, const encode::Settings& settings,
                                   qint64 in, qint64 out, const ClipEffects& effects,
                                   const std::optional<MarkedFrames>& kept, Encodings::Job job) {
    if (!effects.any() && kept && kept->first == 0 && kept->end == grid_.frames()) {
        // The whole song as it is: encoded straight from its working copy.
        s_.encodings->startAs(song_, target, {settings, {}}, std::move(job));
        return;
    }
    const QString clip =
        QDir(s_.workPath())
            .filePath(QStringLiteral("clip-%1.wav")
                          .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    job.workFiles = {clip};
    // Why the cut failed: written by the job's thread before the encoding, read by the
    // completion after it.
    auto cutFailed = std::make_shared<QString>();
    job.prepare = [song = song_, clip, in, out, effects,
                   cutFailed](const WorkProgress& work) -> Status {
        const DoneOutcome cut = cutClipWithEffects(song, clip, in, out, effects, nullptr, work);
        if (cut)
            return {};
        *cutFailed = notCutText(cut.error());
        return Error(song, *cutFailed);
    };
    job.failureText = [cutFailed, name = songName_](const EncodeResult& result) {
        if (cutFailed->isEmpty())
            return QString(); // the encoding's own failure, in its usual words
        return notSavedText(result.format,
                            tr("The clip could not be cut from %1.\n\n%2").arg(name, *cutFailed));
    };
    s_.encodings->startAs(clip, target, {settings, {}}, std::move(job));
}

void EditorHandlers::exportWav(const QString& target, qint64 in, qint64 out,
                               const ClipEffects& effects, const QString& note) {
    // A WAV file is the clip as the cut writes it (16-bit PCM, no tags, as the command line's):
    // cut straight into the target, which stays as it was should the cut fail or be cancelled.
    // Filled by the job's thread, read by the completion after it.
    auto done = std::make_shared<std::optional<DoneOutcome>>();
    s_.jobs->start(
        {tr("Saving %1").arg(QFileInfo(target).fileName()),
         [done, song = song_, target, in, out, effects](JobContext& job) {
             const WorkProgress progress{
                 job.stop(),
                 [&job](std::uint64_t part, std::uint64_t whole) { job.progress(part, whole); }};
             *done = cutClipWithEffects(song, target, in, out, effects, nullptr, progress);
         },
         [this, done, target, note](bool cancelled) {
             const DoneOutcome& outcome = **done;
             if (outcome)
                 s_.dialogs->tell(note.isEmpty()
                                      ? savedText(target)
                                      : savedText(target) + QStringLiteral("\n\n") + note,
                                  Dialogs::Icon::Information);
             else if (!cancelled)
                 s_.dialogs->tell(
                     tr("The WAV file was not saved.\n\n%1").arg(notCutText(outcome.error())),
                     Dialogs::Icon::Critical);
         }});
}

void EditorHandlers::markFirst(qint64 outMs) {
    if (song_.isEmpty())
        return;
    if (!editing_) {
        openForEditing(song_, songName_);
        if (!editing_)
            return;
    }
    placeMarks(0, outMs);
}

void EditorHandlers::placeMarks(qint64 in, qint64 out) {
    // As asked, not snapped: a mark moved to a crossing past a length limit would not fit it.
    *s_.MarkIn = std::clamp<qint64>(in, 0, songLengthMs());
    *s_.MarkOut = std::clamp<qint64>(out, 0, songLengthMs());
    showMarks();
    emit marksChanged(*s_.MarkIn, *s_.MarkOut);
}

} // namespace quaverly
