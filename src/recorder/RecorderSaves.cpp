// The recorder's saves: as WAV (a job of the window), encoded (a job of the window's encodings,
// titled with the take's start), and the question "Record", a toolbar click and quitting ask
// over a take not saved.
#include "recorder/RecorderHandlers.h"

#include "engines/formats/Formats.h"
#include "recorder/RecorderPanel.h"
#include "ui/Dialogs.h"
#include "ui/EncodedSave.h"
#include "ui/Encodings.h"
#include "ui/Jobs.h"
#include "ui/OutputChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <memory>

namespace quaverly {

namespace {

QString wavFilter() {
    return formats::dialogFilter(formats::wav(), QStringLiteral("WAV files"));
}

} // namespace

QString RecorderHandlers::takeTitle(const QDateTime& started) {
    return tr("Recording %1").arg(started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

void RecorderHandlers::CmdWav_Click() {
    SaveRecordingAsWav();
    panel_.CmdWav->setVisible(false);
    panel_.CmdMp3->setVisible(false);
}

void RecorderHandlers::CmdMp3_Click() {
    const EncodedTake save = SaveRecordingEncoded();
    if (!save.wav.isEmpty())
        startEncoded(save);
    panel_.CmdWav->setVisible(false);
    panel_.CmdMp3->setVisible(false);
}

bool RecorderHandlers::startEncoded(const EncodedTake& save) {
    // One job: the take is written into the work file, then encoded; the completion says
    // "Finish Save" or what failed, and removes the work file. The take is read on the job's
    // thread: the window is disabled meanwhile, so nothing records into it or lets it go.
    Encodings::Job job{/*showsBusyWindow=*/false, {save.wav}};
    const RecordTake* take = &engine_.take();
    job.prepare = [take, wav = save.wav](const WorkProgress& work) {
        return take->writeTo(wav, work);
    };
    job.tellsFailure = [this, wav = save.wav](const EncodeResult& result) {
        const Error& failure = result.status.error();
        if (mp3::encodeStep(failure) != mp3::EncodeStep::Write || failure.file() != wav)
            return false;
        tellNotWritten(failure);
        return true;
    };
    ClipTags tags;
    tags.title = takeTitle(takeStarted_);
    encodingId_ =
        s_.encodings->startAs(save.wav, save.target, {save.settings, tags}, std::move(job));
    return encodingId_ != 0;
}

void RecorderHandlers::encodingFinished(const EncodeResult& result) {
    if (result.jobId != encodingId_ || encodingId_ == 0)
        return;
    encodingId_ = 0;
    saveEnded(result.ok());
}

void RecorderHandlers::saveEnded(bool saved) {
    const bool record = recordAfterSave_;
    recordAfterSave_ = false;
    if (!saved)
        return;
    unsaved_ = false;
    if (record)
        BeginRecording();
}

RecorderHandlers::TakeAnswer RecorderHandlers::askOverTake(const QString& text) {
    if (!unsaved_ || !engine_.take().exists())
        return TakeAnswer::NothingToAsk;
    const int choice = s_.dialogs->choose(QLatin1String(kApplicationTitle),
                                          tr("The take is not saved.\n\n") + text,
                                          {tr("Save"), tr("Discard"), tr("Cancel")});
    if (choice == 1)
        return TakeAnswer::Discard;
    if (choice == 0 && saveTakeAnyFormat())
        return TakeAnswer::Saving;
    return TakeAnswer::Keep;
}

bool RecorderHandlers::keepTakeBeforeRecording() {
    const TakeAnswer answer =
        askOverTake(tr("Save: save it, then record a new one.\nDiscard: record a new one; this "
                       "take is lost.\nCancel: keep this take."));
    recordAfterSave_ = answer == TakeAnswer::Saving;
    return answer == TakeAnswer::Saving || answer == TakeAnswer::Keep;
}

bool RecorderHandlers::mayLetTakeGo() {
    if (engine_.recording())
        EndRecording();
    const TakeAnswer answer =
        askOverTake(tr("Save: save it; then go on once it is there.\nDiscard: go on; this take "
                       "is lost.\nCancel: keep this take and stay."));
    return answer == TakeAnswer::NothingToAsk || answer == TakeAnswer::Discard;
}

bool RecorderHandlers::saveTakeAnyFormat() {
    // The output frame's format first, WAV next, then the other formats.
    const encode::Format chosen = s_.output().format();
    QStringList filters = encodedSaveFilter(chosen).split(QStringLiteral(";;"));
    filters.insert(1, wavFilter());
    const QString extension = QLatin1String(formats::info(chosen).extension);
    const QString target = s_.dialogs->saveFile({tr("Save the take"), offeredName(extension),
                                                 filters.join(QStringLiteral(";;")), extension,
                                                 Dialogs::FileKind::Recordings});
    if (target.isEmpty())
        return false;
    lastName_ = target;
    if (isWavTarget(target))
        return writeTake(target);
    const EncodedTake save = encodedTake(target, targetFormat(target, chosen));
    return !save.wav.isEmpty() && startEncoded(save);
}

QString RecorderHandlers::offeredName(const QString& suffix) const {
    if (lastName_.isEmpty())
        return s_.baseFolder ? s_.baseFolder() : QString();
    const QFileInfo last(lastName_);
    return last.dir().filePath(last.completeBaseName() + QLatin1Char('.') + suffix);
}

void RecorderHandlers::tellNotWritten(const Error& error) {
    s_.dialogs->message(QStringLiteral("Error"),
                        QStringLiteral("Can't create the file\r\n\r\n") + error.text(),
                        Dialogs::Icon::Warning);
}

bool RecorderHandlers::writeTake(const QString& path) {
    // The take is read on the job's thread: the window is disabled meanwhile, so nothing
    // records into it or lets it go.
    const RecordTake* take = &engine_.take();
    auto written = std::make_shared<Status>();
    return s_.jobs->start(
        {QStringLiteral("Saving......."),
         [take, path, written](JobContext& job) { *written = take->writeTo(path, job.work()); },
         [this, written, path](bool cancelled) {
             // A Cancel that came after the last block still wrote the file.
             if (*written)
                 s_.dialogs->tell(savedText(path), Dialogs::Icon::Information);
             else if (!cancelled)
                 tellNotWritten(written->error());
             saveEnded(bool(*written));
         }});
}

bool RecorderHandlers::SaveRecordingAsWav() {
    if (engine_.recording() || !engine_.take().exists())
        return false;
    const QString name = s_.dialogs->saveFile(
        {QStringLiteral("Save As..."), offeredName(formats::wav().extension),
         wavFilter() + QStringLiteral(";;All files (*)"), QLatin1String(formats::wav().extension),
         Dialogs::FileKind::Recordings});
    if (name.isEmpty())
        return false;
    lastName_ = name;
    return writeTake(name);
}

RecorderHandlers::EncodedTake RecorderHandlers::SaveRecordingEncoded() {
    if (engine_.recording() || !engine_.take().exists())
        return {};
    const encode::Format format = s_.output().format();
    const auto chosen =
        askEncodedTarget(*s_.dialogs, QStringLiteral("Save As..."),
                         offeredName(QLatin1String(formats::info(format).extension)), format,
                         Dialogs::FileKind::Recordings);
    if (!chosen)
        return {};
    lastName_ = chosen->path;
    return encodedTake(chosen->path, chosen->format);
}

RecorderHandlers::EncodedTake RecorderHandlers::encodedTake(const QString& target,
                                                            encode::Format format) {
    const encode::Settings settings = s_.output().settingsFor(format, false);
    if (!settingsUsable(*s_.dialogs, settings, target))
        return {};
    // A name of its own, so that two saves one after the other never share a work file.
    const QString wav = QDir(s_.workPath())
                            .filePath(QStringLiteral("tempwav-%1.wav")
                                          .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    return {wav, target, settings};
}

} // namespace quaverly
