#include "ui/Encodings.h"

#include "engines/player/WavPlayer.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/OutputChoice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

namespace quaverly {

QString encodeFailureText(const mp3::EncodeFailure& failure) {
    const Error& error = failure.error;
    const QString file = QDir::toNativeSeparators(error.file());
    const auto words = [&](const char* text) {
        return QCoreApplication::translate("Encodings", text).arg(file, error.cause());
    };
    switch (failure.step) {
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

Encodings::Encodings(QWidget& window, Dialogs& dialogs, BusyWindow& busy, WavPlayer& editPlayer,
                     WavPlayer& listPlayer, QObject* parent)
    : QObject(parent), window_(window), dialogs_(dialogs), busy_(busy), editPlayer_(editPlayer),
      listPlayer_(listPlayer) {
    connect(&Mp3Enc1, &Mp3Encoder::EncodeDone, this, &Encodings::Mp3Enc1_EncodeDone);
}

int Encodings::start(const QString& wav, const QString& mp3, int bitRate, Job job) {
    Mp3Enc1.setBitRate(bitRate);
    const int id = Mp3Enc1.EncodeFiles(wav, mp3);
    jobs_.insert(id, std::move(job));
    Mp3Enc1.EncoderState();
    return id;
}

int Encodings::startAs(const QString& wav, const QString& target, Mp3Encoder::Output output,
                       Job job) {
    const int id = Mp3Enc1.EncodeFilesAs(wav, target, std::move(output));
    jobs_.insert(id, std::move(job));
    return id;
}

int Encodings::startSourceAs(Mp3Encoder::SourceFactory make, const QString& sourceName,
                             const QString& target, Mp3Encoder::Output output, Job job) {
    const int id = Mp3Enc1.EncodeSourceAs(std::move(make), sourceName, target, std::move(output));
    jobs_.insert(id, std::move(job));
    return id;
}

bool Encodings::holdsBusyWindow() const {
    for (const Job& job : jobs_)
        if (job.showsBusyWindow)
            return true;
    return false;
}

void Encodings::cancelAll() {
    Mp3Enc1.cancelAll();
    bool disabledWindow = false;
    for (const Job& job : std::as_const(jobs_)) {
        for (const QString& file : job.workFiles)
            QFile::remove(file);
        disabledWindow = disabledWindow || job.disablesWindow;
    }
    const bool showedBusyWindow = holdsBusyWindow();
    jobs_.clear();
    if (showedBusyWindow)
        busy_.hide();
    if (disabledWindow)
        window_.setEnabled(true);
}

void Encodings::Mp3Enc1_EncodeDone(const EncodeResult& result) {
    const Job job = jobs_.take(result.jobId);
    const auto stillHeld = [this](bool Job::*what) {
        for (const Job& other : std::as_const(jobs_))
            if (other.*what)
                return true;
        return false;
    };
    if (!stillHeld(&Job::showsBusyWindow))
        busy_.hide();
    if (result.ok()) {
        dialogs_.tell(QStringLiteral("Finish Save"), Dialogs::Icon::Information);
    } else {
        QString text = job.failureText ? job.failureText(result) : QString();
        if (text.isEmpty())
            text = notSavedText(result.format, encodeFailureText(*result.failure));
        dialogs_.tell(text, Dialogs::Icon::Critical);
    }
    editPlayer_.stop();
    listPlayer_.stop();
    for (const QString& file : job.workFiles)
        QFile::remove(file);
    if (job.disablesWindow && !stillHeld(&Job::disablesWindow))
        window_.setEnabled(true);
    emit finished(result);
}

} // namespace quaverly
