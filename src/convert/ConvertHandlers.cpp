#include "convert/ConvertHandlers.h"

#include "convert/ConvertPanel.h"
#include "engines/formats/Formats.h"
#include "engines/tags/ClipTags.h"
#include "engines/util/AtomicFile.h"
#include "engines/util/SameFile.h"
#include "engines/wav/WavHeader.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/EncodedSave.h"
#include "ui/Encodings.h"
#include "ui/OutputChoice.h"
#include "ui/SongFilter.h"
#include "ui/Widgets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

namespace quaverly {

namespace {

constexpr char kBusyText[] = "Converting.......";

QString wavFilter() {
    return formats::dialogFilter(formats::wav(), QStringLiteral("Wav File"));
}

// Whether the encoder reads `source` as it is: a WAV file of one or two channels (any sample
// format; a deeper one keeps its precision). Anything else is decoded to 16 bits first.
bool encodesAsIs(const QString& source) {
    const auto layout = probeWav(source);
    return layout && layout->channels <= 2;
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

ConvertHandlers::ConvertHandlers(ConvertPanel& panel, ConvertServices services, QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)) {
    connectClicks(this, {{panel_.CmdopenMp3, &ConvertHandlers::CmdopenMp3_Click},
                         {panel_.CmdSavewav2, &ConvertHandlers::CmdSavewav2_Click},
                         {panel_.Cmdopenwav, &ConvertHandlers::Cmdopenwav_Click},
                         {panel_.CmdSaveMP3, &ConvertHandlers::CmdSaveMP3_Click},
                         {panel_.CmdconvertWav, &ConvertHandlers::CmdconvertWav_Click},
                         {panel_.CmdConvertMP3, &ConvertHandlers::CmdConvertMP3_Click}});
    connect(panel_.txtEncodeTarget, &QLineEdit::textChanged, this, &ConvertHandlers::showTarget);
    for (QLineEdit* box :
         {panel_.txtWavSource, panel_.txtsavewav, panel_.txtEncodeSource, panel_.txtEncodeTarget})
        connect(box, &QLineEdit::textChanged, this, &ConvertHandlers::enableButtons);
    showTarget();
    enableButtons();
}

void ConvertHandlers::enableButtons() {
    // A button that could only do nothing is not offered: each needs both its names.
    panel_.CmdconvertWav->setEnabled(!panel_.txtWavSource->text().isEmpty() &&
                                     !panel_.txtsavewav->text().isEmpty());
    panel_.CmdConvertMP3->setEnabled(!panel_.txtEncodeSource->text().isEmpty() &&
                                     !panel_.txtEncodeTarget->text().isEmpty());
}

void ConvertHandlers::showTarget() {
    const QString target = panel_.txtEncodeTarget->text();
    panel_.CmdConvertMP3->setText(
        tr("Convert to %1")
            .arg(isWavTarget(target) ? QLatin1String(formats::wav().word)
                                     : formatWord(targetFormat(target, s_.output().format()))));
    panel_.CmdConvertMP3->setAccessibleName(panel_.CmdConvertMP3->text());
}

// The choosers always write the dialog's answer into their box: a cancelled dialog answers
// with the empty text, so the box empties and its convert button is disabled until a new
// choice. A target the save dialog gave was confirmed there if it replaces a file; one typed
// into the box is confirmed when converting (keepsTarget).

void ConvertHandlers::CmdopenMp3_Click() {
    panel_.txtWavSource->setText(
        s_.dialogs->openFile({tr("Open a song to convert to WAV"), QString(), songFileFilter(),
                              QString(), Dialogs::FileKind::Songs}));
}

void ConvertHandlers::CmdSavewav2_Click() {
    pickedWav_ =
        s_.dialogs->saveFile({tr("Save Wav File"), s_.baseFolder(), wavFilter(),
                              QLatin1String(formats::wav().extension), Dialogs::FileKind::Saves});
    panel_.txtsavewav->setText(pickedWav_);
}

void ConvertHandlers::Cmdopenwav_Click() {
    panel_.txtEncodeSource->setText(
        s_.dialogs->openFile({tr("Open a song to convert"), QString(), songFileFilter(), QString(),
                              Dialogs::FileKind::Songs}));
}

void ConvertHandlers::CmdSaveMP3_Click() {
    const encode::Format chosen = s_.output().format();
    pickedEncoded_ = s_.dialogs->saveFile(
        {tr("Save %1 File").arg(formatWord(chosen)), s_.baseFolder(), encodedSaveFilter(chosen),
         QLatin1String(formats::info(chosen).extension), Dialogs::FileKind::Saves});
    panel_.txtEncodeTarget->setText(pickedEncoded_);
}

bool ConvertHandlers::keepsTarget(const QString& target, const QString& picked) {
    if (target == picked || !QFileInfo::exists(target))
        return false;
    return !s_.dialogs->question(QLatin1String(kApplicationTitle),
                                 tr("%1 already exists. Replace it?").arg(shown(target)));
}

bool ConvertHandlers::refuseSameFile(const QString& source, const QString& target) {
    // Writing the result over its own source would destroy the user's file in the middle of
    // reading it; the boxes can be typed into, so this is possible.
    // Any spelling counts: a link, "./", "..", or a hard link (another name for the same file).
    if (!sameFile(source, target))
        return false;
    s_.dialogs->tell(tr("%1 cannot be converted into itself: choose another file to save to.")
                         .arg(shown(source)),
                     Dialogs::Icon::Critical);
    return true;
}

bool ConvertHandlers::holdsBack(const QString& source, const QString& target,
                                const QString& picked) {
    return source.isEmpty() || target.isEmpty() || refuseSameFile(source, target) ||
           keepsTarget(target, picked);
}

void ConvertHandlers::restoreEncodingsBusyWindow() {
    // The job hid the busy window as it ended; an MP3 encoding that runs on keeps the one it
    // showed.
    if (s_.encodings->holdsBusyWindow())
        s_.busy->show(QLatin1String(kBusyText));
}

void ConvertHandlers::CmdconvertWav_Click() {
    const QString source = panel_.txtWavSource->text();
    const QString target = panel_.txtsavewav->text();
    if (holdsBack(source, target, pickedWav_))
        return;
    convertToWav(source, target, /*listing=*/true);
}

void ConvertHandlers::convertToWav(const QString& source, const QString& target, bool listing) {
    // The song is decoded into a working copy of its own, which is listed when `listing` (an
    // undecodable source lists nothing and is reported as adding reports it), and then copied
    // to the target through a temporary file beside it that is renamed into place: a failure
    // or a Cancel leaves no partial file, and an older file there is replaced whole.
    const auto copyToTarget = [target](const QString& copy, const WorkProgress& progress) {
        const Status copied = copyFileAtomically(copy, target, progress);
        if (!copied)
            return copied;
        const QFileInfo written(target);
        if (!written.isFile() || written.size() != QFileInfo(copy).size())
            return Status(Error({}, tr("%1 is not there as written").arg(shown(target))));
        return Status();
    };
    s_.copySong(source, listing, QLatin1String(kBusyText), copyToTarget,
                [this, target, listing](const QString& copy, const Status& copied) {
                    if (!listing)
                        QFile::remove(copy); // nobody else holds it
                    restoreEncodingsBusyWindow();
                    if (copy.isEmpty())
                        return; // reported, or cancelled
                    if (copied)
                        s_.dialogs->tell(convertedText(target), Dialogs::Icon::Information);
                    else
                        s_.dialogs->tell(
                            tr("The WAV file was not saved.\n\n%1").arg(copied.error().text()),
                            Dialogs::Icon::Critical);
                });
}

void ConvertHandlers::CmdConvertMP3_Click() {
    const QString source = panel_.txtEncodeSource->text();
    const QString target = panel_.txtEncodeTarget->text();
    if (holdsBack(source, target, pickedEncoded_))
        return;
    if (isWavTarget(target)) {
        // A typed .wav name gets a WAV file, never encoded data under that name.
        convertToWav(source, target, /*listing=*/false);
        return;
    }
    const OutputChoice output = s_.output();
    const encode::Format format = targetFormat(target, output.format());
    const encode::Settings settings = output.settingsFor(format, false);
    if (!settingsUsable(*s_.dialogs, settings, target))
        return;
    if (encodesAsIs(source)) {
        startEncoding(source, QString(), target, format, settings);
        return;
    }
    // Decoded as adding a song decodes, as a job; the encoding starts when it has ended.
    s_.copySong(source, /*listing=*/false, QLatin1String(kBusyText), {},
                [this, source, target, format, settings](const QString& wav, const Status&) {
                    if (wav.isEmpty())
                        restoreEncodingsBusyWindow();
                    else
                        startEncoding(source, wav, target, format, settings);
                });
}

void ConvertHandlers::startEncoding(const QString& source, const QString& decoded,
                                    const QString& target, encode::Format format,
                                    const encode::Settings& settings) {
    s_.busy->show(QLatin1String(kBusyText));
    Encodings::Job job{/*showsBusyWindow=*/true, {}};
    const QString wav = decoded.isEmpty() ? source : decoded;
    if (!decoded.isEmpty()) {
        // The decoded file is the job's own and goes when the job ends, and a failure of it is
        // the source's.
        job.workFiles << decoded;
        job.failureText = [decoded, source](const EncodeResult& result) {
            if (result.status.error().file() != decoded)
                return QString();
            return notSavedText(result.format,
                                encodeFailureText(result.status.error().about(source)));
        };
    }
    // The window stays usable while the encoder works; the completion hides the busy window
    // and says how it went. Both files are the user's: the job removes only a decoded copy.
    if (format == encode::Format::Mp3) {
        s_.encodings->start(wav, target, settings.effectiveValue(), std::move(job));
        return;
    }
    // The source's tags and cover are read on the job's thread.
    job.tags = [source] { return clipTagsFrom(source); };
    s_.encodings->startAs(wav, target, {settings, {}}, std::move(job));
}

} // namespace quaverly
