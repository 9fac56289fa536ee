#include "ui/KeptSave.h"

#include "ui/Dialogs.h"
#include "ui/Encodings.h"
#include "ui/Jobs.h"
#include "ui/OutputChoice.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <memory>

namespace quaverly {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("KeptSave", text);
}

// Whether `target` is written with the codec of a song whose row shows `formatWord`.
bool sameCodec(const QString& formatWord, const formats::FileFormat& target) {
    if (&target == &formats::wav())
        return formatWord == QLatin1String("WAV");
    if (target.writer != formats::Writer::Encoder)
        return false;
    switch (target.format) {
    case encode::Format::Mp3:
        return formatWord == QLatin1String("MP3");
    case encode::Format::M4a:
    case encode::Format::M4r:
        return formatWord == QLatin1String("AAC");
    case encode::Format::Flac:
        return formatWord == QLatin1String("FLAC");
    default:
        return false;
    }
}

} // namespace

SongOrigin songOrigin(const QString& file, std::uint64_t frames) {
    const QFileInfo info(file);
    SongOrigin origin;
    origin.file = file;
    origin.size = info.size();
    origin.modified = info.lastModified();
    origin.stretchKnown = true;
    origin.to = frames;
    return origin;
}

SongOrigin cutOrigin(const SongOrigin& origin, std::uint64_t first, std::uint64_t end,
                     bool effects) {
    SongOrigin cut = origin;
    cut.stretchKnown = origin.stretchKnown && !effects && first < end;
    cut.from = origin.from + first;
    cut.to = origin.from + end;
    return cut;
}

bool originChanged(const SongOrigin& origin) {
    const QFileInfo info(origin.file);
    return !info.isFile() || info.size() != origin.size || info.lastModified() != origin.modified;
}

KeepChance keepChance(const SongOrigin& origin, const QString& formatWord,
                      const formats::FileFormat& target, bool wanted, bool effects) {
    using Kind = KeepChance::Kind;
    if (origin.file.isEmpty() || !sameCodec(formatWord, target))
        return {};
    if (!wanted)
        return {Kind::Hindered, tr("keeping the song's own sound is turned off")};
    if (effects)
        return {Kind::Hindered, tr("fades or a level change are set")};
    if (!origin.stretchKnown)
        return {Kind::Hindered, tr("\"Done\" applied fades or a level change to the song")};
    if (originChanged(origin))
        return {Kind::Changed, tr("the song's file has changed since it was added")};
    return {Kind::Maybe, {}};
}

framecopy::ClipOutput clipOutputFor(const OutputChoice& choice, const QString& target) {
    framecopy::ClipOutput output;
    if (isWavTarget(target)) {
        output.kind = &formats::wav();
        return output;
    }
    const encode::Format format = targetFormat(target, choice.format());
    output.kind = &formats::info(format);
    output.settings = choice.settingsFor(format, true);
    output.preset = choice.presetFor(format);
    return output;
}

QString reencodedWords(const QString& why) {
    return tr("Re-encoded: %1").arg(why);
}

QString notKeptNote(const QString& why) {
    return tr("The song's own sound could not be kept (%1): the clip was re-encoded.").arg(why);
}

void startKeptSave(Jobs& jobs, Dialogs& dialogs, KeptClip clip,
                   std::function<void(const QString& why)> reencode) {
    // Filled by the job's thread, read by the completion after it.
    auto copied = std::make_shared<Status>();
    const QString words = tr("Saving %1").arg(QFileInfo(clip.target).fileName());
    const QString target = clip.target;
    const formats::FileFormat* kind = clip.output.kind;
    jobs.start({words,
                [copied, clip = std::move(clip)](JobContext& job) {
                    const ClipTags tags = clip.tags ? clip.tags() : ClipTags{};
                    *copied = framecopy::copyClip(clip.source, clip.from, clip.to, clip.target,
                                                  clip.output, tags, job.work());
                },
                [&dialogs, copied, target, kind, reencode = std::move(reencode)](bool cancelled) {
                    if (*copied) {
                        dialogs.tell(savedText(target), Dialogs::Icon::Information);
                        return;
                    }
                    const Error& error = copied->error();
                    const auto step = framecopy::CopyStep(error.step());
                    if (step == framecopy::CopyStep::CannotKeep) {
                        reencode(error.cause());
                        return;
                    }
                    if (cancelled || step == framecopy::CopyStep::Cancel)
                        return;
                    const QString detail = error.text();
                    dialogs.tell(kind == &formats::wav()
                                     ? tr("The WAV file was not saved.\n\n%1").arg(detail)
                                     : notSavedText(kind->format, detail),
                                 Dialogs::Icon::Critical);
                }});
}

} // namespace quaverly
