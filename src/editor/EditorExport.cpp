// "Export Clip…": the song in the editor, as it stands, into a file of the chosen format.
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "engines/encoder/Presets.h"
#include "engines/player/WavPlayer.h"
#include "engines/tags/ClipTags.h"
#include "engines/util/SameFile.h"
#include "engines/wav/WavHeader.h"
#include "ui/Dialogs.h"
#include "ui/EncodedSave.h"
#include "ui/Encodings.h"
#include "ui/OutputChoice.h"

#include <QDir>
#include <QWidget>

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
    if (song_.isEmpty() || !s_.encodings)
        return;
    const OutputChoice output = s_.output();
    // The working copy as it is now: a "Done" has cut it since it was opened.
    if (const encode::Preset* preset = output.preset(); preset && preset->maxSeconds > 0) {
        if (const auto layout = probeWav(song_); layout && layout->blockAlign) {
            const auto shorten = askToShorten(*s_.dialogs, *preset,
                                              std::int64_t(layout->dataSize / layout->blockAlign),
                                              int(layout->sampleRate));
            if (shorten) {
                if (*shorten)
                    markFirst(qint64(preset->maxSeconds) * 1000);
                return;
            }
        }
    }
    const QString offered = QDir(s_.baseFolder())
                                .filePath(fileNameFor(songName_) + QLatin1Char('.') +
                                          QLatin1String(encode::info(output.format()).extension));
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
    const encode::Settings settings = output.settingsFor(target->format, true);
    if (!settingsUsable(*s_.dialogs, settings, target->path))
        return;
    ClipTags tags = songSource_.isEmpty() ? ClipTags{} : clipTagsFrom(songSource_);
    const std::optional<QString> title =
        askClipTitle(*s_.dialogs, tags.title.isEmpty() ? songName_ : tags.title);
    if (!title)
        return;
    tags.title = *title;
    if (const encode::Preset* preset = output.presetFor(target->format))
        encode::applyPreset(*preset, &tags);

    // The working copy is read until the job ends: the window stays disabled until then, so
    // that no "Done" or undo replaces it meanwhile.
    s_.MMCEdit->stop();
    s_.encodings->startAs(song_, target->path, {settings, std::move(tags)}, {});
}

void EditorHandlers::markFirst(qint64 outMs) {
    if (song_.isEmpty())
        return;
    if (!editing_) {
        openForEditing(song_, songName_);
        if (!editing_)
            return;
    }
    setMarkIn(0);
    setMarkOut(outMs);
}

} // namespace quaverly
