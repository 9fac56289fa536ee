#include "ui/Encodings.h"

#include "engines/player/WavPlayer.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/Jobs.h"
#include "ui/OutputChoice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <QtDebug>

#include <algorithm>
#include <climits>

namespace quaverly {

QString encodeFailureText(const Error& error) {
    const QString file = QDir::toNativeSeparators(error.file());
    const auto words = [&](const char* text) {
        return QCoreApplication::translate("Encodings", text).arg(file, error.cause());
    };
    switch (mp3::encodeStep(error)) {
    case mp3::EncodeStep::ReadWav:
        return words("Cannot read \"%1\": %2");
    case mp3::EncodeStep::Source:
        return error.text();
    case mp3::EncodeStep::Encode:
        if (file.isEmpty())
            return QCoreApplication::translate("Encodings", "Cannot encode: %1").arg(error.cause());
        return words("Cannot encode \"%1\": %2");
    case mp3::EncodeStep::Resample:
        return words("Cannot resample \"%1\": %2");
    case mp3::EncodeStep::Write:
        return words("Cannot write \"%1\": %2");
    case mp3::EncodeStep::Cancel:
        return QCoreApplication::translate("Encodings", "Encoding \"%1\" was cancelled").arg(file);
    }
    return error.text();
}

QString notSavedText(encode::Format format, const QString& detail) {
    return QCoreApplication::translate("Encodings", "The %1 file was not saved.\n\n%2")
        .arg(formatWord(format), detail);
}

QString savedText(const QString& target) {
    return QCoreApplication::translate("Encodings", "Finish Save: %1 is saved.")
        .arg(QFileInfo(target).fileName());
}

QString convertedText(const QString& target) {
    return QCoreApplication::translate("Encodings", "Convert Finish: %1 is saved.")
        .arg(QFileInfo(target).fileName());
}

Encodings::Encodings(Dialogs& dialogs, BusyWindow& busy, Jobs& jobs, WavPlayer& editPlayer,
                     WavPlayer& listPlayer, QObject* parent)
    : QObject(parent), dialogs_(dialogs), busy_(busy), jobs_(jobs), editPlayer_(editPlayer),
      listPlayer_(listPlayer) {
    qRegisterMetaType<quaverly::EncodeResult>("quaverly::EncodeResult");
}

int Encodings::start(const QString& wav, const QString& mp3, int bitRate, Job job) {
    return run({encode::wavFileSource(wav), wav, true, mp3, {encode::Format::Mp3, bitRate}, {}},
               std::move(job));
}

int Encodings::startAs(const QString& wav, const QString& target, encode::Output output, Job job) {
    return run(
        {encode::wavFileSource(wav), wav, true, target, output.settings, std::move(output.tags)},
        std::move(job));
}

int Encodings::startSourceAs(encode::SourceFactory make, const QString& sourceName,
                             const QString& target, encode::Output output, Job job) {
    return run(
        {std::move(make), sourceName, false, target, output.settings, std::move(output.tags)},
        std::move(job));
}

namespace {

// The share of a job's thousandths that its preparation takes, when it has one.
constexpr std::uint64_t kPrepareShare = 100;

// A part of a job: its stop, and `done` of `total` mapped onto its thousandths
// [from, from + span].
WorkProgress partOf(JobContext& job, std::uint64_t from, std::uint64_t span) {
    return {job.stop(), [&job, from, span](std::uint64_t done, std::uint64_t total) {
                if (total > 0)
                    job.progress(from + span * std::min(done, total) / total, 1000);
            }};
}

} // namespace

std::function<ClipTags()> tagsReadFrom(const QString& source, const QString& title,
                                       const encode::Preset* preset) {
    return [source, title, preset] {
        ClipTags tags = source.isEmpty() ? ClipTags{} : clipTagsFrom(source);
        tags.title = title;
        if (preset)
            encode::applyPreset(*preset, &tags);
        return tags;
    };
}

int Encodings::run(encode::EncodeOrder order, Job job) {
    if (running_ || jobs_.running()) {
        qWarning("Encodings: %s not started, another job runs", qPrintable(order.target));
        for (const QString& file : job.workFiles)
            QFile::remove(file);
        return 0;
    }
    const int id = nextId_;
    nextId_ = nextId_ == INT_MAX ? 1 : nextId_ + 1;
    QString words = QStringLiteral("Saving.......");
    if (job.showsBusyWindow && busy_.window().isVisible())
        words = busy_.window().Label1->text();
    // Shared by the work (which fills in the failure) and the completion, which runs after it.
    auto result = std::make_shared<EncodeResult>(EncodeResult{id,
                                                              order.sourceName,
                                                              order.target,
                                                              order.settings.effectiveValue(),
                                                              order.settings.format,
                                                              {}});
    auto work = [result, order = std::move(order), prepare = job.prepare,
                 tags = job.tags](JobContext& context) mutable {
        std::uint64_t from = 0;
        if (prepare) {
            const Status prepared = prepare(partOf(context, 0, kPrepareShare));
            if (!prepared) {
                const auto step =
                    context.stopRequested() ? mp3::EncodeStep::Cancel : mp3::EncodeStep::Write;
                result->status = prepared.error().during(step);
                return;
            }
            from = kPrepareShare;
        }
        if (tags)
            order.tags = tags();
        result->status = encode::encodeMetered(order, partOf(context, from, 1000 - from));
    };
    running_ = true;
    jobs_.start({words, std::move(work), [this, result, job = std::move(job)](bool cancelled) {
                     running_ = false;
                     finishEncoding(*result, job, cancelled);
                 }});
    return id;
}

void Encodings::finishEncoding(const EncodeResult& result, const Job& job, bool cancelled) {
    // A stop asked for after the target was complete and in place comes too late: it is saved.
    if (result.ok()) {
        dialogs_.tell(job.savedNote.isEmpty()
                          ? savedText(result.target)
                          : savedText(result.target) + QStringLiteral("\n\n") + job.savedNote,
                      Dialogs::Icon::Information);
    } else if (!cancelled && !(job.tellsFailure && job.tellsFailure(result))) {
        QString text = job.failureText ? job.failureText(result) : QString();
        if (text.isEmpty())
            text = notSavedText(result.format, encodeFailureText(result.status.error()));
        dialogs_.tell(text, Dialogs::Icon::Critical);
    }
    if (!cancelled || result.ok()) {
        editPlayer_.stop();
        listPlayer_.stop();
    }
    for (const QString& file : job.workFiles)
        QFile::remove(file);
    emit finished(result);
}

} // namespace quaverly
