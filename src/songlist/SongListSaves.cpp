// The list's two saves: the joined songs as one WAV file, or encoded in the output frame's
// format.
#include "songlist/SongListHandlers.h"

#include "engines/encoder/Presets.h"
#include "engines/formats/Formats.h"
#include "engines/player/WavPlayer.h"
#include "engines/tags/ClipTags.h"
#include "engines/util/SameFile.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/JoinedPcm.h"
#include "songlist/JoinedSongs.h"
#include "songlist/ListJoin.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/EncodedSave.h"
#include "ui/Encodings.h"
#include "ui/Jobs.h"
#include "ui/KeptSave.h"
#include "ui/OutputChoice.h"

#include <QFileInfo>
#include <QListWidget>

#include <memory>

namespace quaverly {

bool SongListHandlers::refuseEmptyList() {
    if (panel_.List1->count() > 0)
        return false;
    s_.dialogs->tell(tr("The song list is empty: add songs before saving it."),
                     Dialogs::Icon::Critical);
    return true;
}

bool SongListHandlers::refuseWorkingCopy(const QString& target) {
    for (int i = 0; i < panel_.List1->count(); ++i) {
        if (sameFile(panel_.workingCopy(i), target)) {
            s_.dialogs->tell(tr("The list was not saved: %1 is the working copy of %2, which the "
                                "list is made from. Choose another file to save to.")
                                 .arg(target, panel_.List1->item(i)->text()),
                             Dialogs::Icon::Critical);
            return true;
        }
    }
    return false;
}

QStringList SongListHandlers::songNames() const {
    QStringList names;
    for (int i = 0; i < panel_.List1->count(); ++i)
        names << tr("%1 (its working copy %2)")
                     .arg(panel_.List1->item(i)->text(),
                          QFileInfo(panel_.workingCopy(i)).fileName());
    return names;
}

void SongListHandlers::CmdSaveWav_Click() {
    if (refuseEmptyList())
        return;
    const QString target =
        s_.dialogs->saveFile({tr("Save The List to Wav"), s_.baseFolder(),
                              formats::dialogFilter(formats::wav(), tr("Wav")),
                              QLatin1String(formats::wav().extension), Dialogs::FileKind::Saves});
    if (target.isEmpty() || refuseWorkingCopy(target))
        return;
    saveListAsWav(target);
}

std::optional<KeptClip> SongListHandlers::keptClip(const QString& target, QString* note) const {
    // A working copy gone missing is told as the save from it tells it.
    if (panel_.List1->count() != 1 || !QFileInfo::exists(panel_.workingCopy(0)))
        return std::nullopt;
    const QListWidgetItem* song = panel_.List1->item(0);
    const auto origin = song->data(AudioEditPanel::kOriginRole).value<SongOrigin>();
    const framecopy::ClipOutput output = clipOutputFor(s_.output(), target);
    const KeepChance chance = keepChance(origin, song->data(AudioEditPanel::kFormatRole).toString(),
                                         *output.kind, s_.output().keepsSound(), false);
    if (chance.kind == KeepChance::Kind::Changed)
        *note = notKeptNote(chance.why);
    if (chance.kind != KeepChance::Kind::Maybe)
        return std::nullopt;
    return KeptClip{origin.file, origin.from, origin.to, target, output, {}};
}

void SongListHandlers::saveListAsWav(const QString& target) {
    // The one song of a WAV file keeps its own samples (their width) where it can.
    QString note;
    if (auto clip = keptClip(target, &note)) {
        s_.editorPlayer->close();
        s_.listPlayer->close();
        startKeptSave(*s_.jobs, *s_.dialogs, std::move(*clip),
                      [this, target](const QString& why) { joinAsWav(target, notKeptNote(why)); });
        return;
    }
    joinAsWav(target, note);
}

void SongListHandlers::joinAsWav(const QString& target, const QString& note) {
    s_.editorPlayer->close();
    s_.listPlayer->close();
    // The songs go straight into the chosen file (through a temporary file renamed into
    // place), so a failure or a cancel never leaves half a file there or damages the one
    // already there.
    auto joined = std::make_shared<Result<WavHeader>>(Error(QString(), QString()));
    s_.jobs->start(
        {tr("Saving the list to WAV"),
         [joined, songs = workingCopies(), target, names = songNames()](JobContext& job) {
             const WorkProgress progress{job.stop(),
                                         [&job](std::uint64_t written, std::uint64_t expected) {
                                             job.progress(written, expected);
                                         }};
             *joined = joinSongs(songs, target, progress, names);
         },
         [this, joined, target, note](bool cancelled) {
             if (*joined)
                 s_.dialogs->tell(note.isEmpty()
                                      ? savedText(target)
                                      : savedText(target) + QStringLiteral("\n\n") + note,
                                  Dialogs::Icon::Information);
             else if (!cancelled)
                 s_.dialogs->tell(tr("The list was not saved.\n\n%1").arg(joined->error().text()),
                                  Dialogs::Icon::Critical);
         }});
}

std::optional<std::pair<std::int64_t, int>> SongListHandlers::joinedLength() const {
    JoinedSongs join;
    if (!join.open(workingCopies()))
        return std::nullopt;
    const WavHeader& format = join.format();
    return std::pair{std::int64_t(join.expectedBytes() / format.blockAlign),
                     int(format.sampleRate)};
}

QString SongListHandlers::listTitle() const {
    if (panel_.List1->count() > 1)
        return tr("Song list");
    // The title its tags gave when it was listed, else its file's name, as the tags read for
    // the save would give it.
    const QListWidgetItem* song = panel_.List1->item(0);
    const QString source = song->data(AudioEditPanel::kSourceRole).toString();
    if (source.isEmpty())
        return song->text();
    const QString title = song->data(AudioEditPanel::kTitleRole).toString();
    return title.isEmpty() ? QFileInfo(source).completeBaseName() : title;
}

void SongListHandlers::CmdSaveList_Click() {
    if (refuseEmptyList())
        return;
    const OutputChoice output = s_.output();
    // A list too long for the preset's phone is not saved; its first song may be shortened.
    if (const encode::Preset* preset = output.preset(); preset && preset->maxSeconds > 0) {
        if (const auto length = joinedLength()) {
            if (const auto shorten =
                    askToShorten(*s_.dialogs, *preset, length->first, length->second)) {
                if (*shorten)
                    emit shortenRequested(0, qint64(preset->maxSeconds) * 1000);
                return;
            }
        }
    }
    const auto target =
        askEncodedTarget(*s_.dialogs, panel_.CmdSaveList->text(), s_.baseFolder(), output.format());
    if (!target || refuseWorkingCopy(target->path))
        return;
    if (isWavTarget(target->path)) {
        // A .wav name gets the joined songs as WAV, never encoded data under that name.
        saveListAsWav(target->path);
        return;
    }
    const encode::Settings settings = output.settingsFor(target->format, true);
    if (!settingsUsable(*s_.dialogs, settings, target->path))
        return;
    const std::optional<QString> title = askClipTitle(*s_.dialogs, listTitle());
    if (!title)
        return;
    s_.editorPlayer->close();
    s_.listPlayer->close();
    const QString source = panel_.List1->item(0)->data(AudioEditPanel::kSourceRole).toString();
    const encode::Preset* preset = output.presetFor(target->format);
    QString note;
    if (auto clip = keptClip(target->path, &note)) {
        // A list of one song keeps that song's own frames where it can.
        clip->tags = tagsReadFrom(source, *title, preset);
        startKeptSave(*s_.jobs, *s_.dialogs, std::move(*clip),
                      [this, path = target->path, settings, title = *title, source,
                       preset](const QString& why) {
                          encodeList(path, settings, tagsReadFrom(source, title, preset),
                                     notKeptNote(why));
                      });
        return;
    }
    encodeList(target->path, settings, tagsReadFrom(source, *title, preset), note);
}

void SongListHandlers::encodeList(const QString& target, const encode::Settings& settings,
                                  std::function<ClipTags()> tags, const QString& note) {
    // The songs are joined on the job's thread straight into the encoder, so no joined file is
    // written anywhere. The working copies are read until the job ends: the window stays
    // disabled until then, so that no song is removed or cut while it is read. A failure of a
    // song names it; any other is the encoder's and says so as for every encoded file.
    Encodings::Job done;
    // The first song's artist, album and cover stand for the list, read on the job's thread.
    done.tags = std::move(tags);
    done.savedNote = note;
    done.failureText = [](const EncodeResult& result) {
        return !result.ok() && mp3::encodeStep(result.status.error()) == mp3::EncodeStep::Source
                   ? tr("The list was not saved.\n\n%1")
                         .arg(encodeFailureText(result.status.error()))
                   : QString();
    };
    s_.encodings->startSourceAs(joinedSongsSource(workingCopies(), songNames()),
                                tr("the song list"), target, {settings, {}}, std::move(done));
}

} // namespace quaverly
