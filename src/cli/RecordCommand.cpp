// quaverly-cli record OUT --seconds S: a take from a recording input, as the recorder makes it.
#include "cli/CommandSupport.h"

#include "engines/bass/Bass.h"
#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"
#include "recorder/TakeRecorder.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <thread>

namespace quaverly::cli {
namespace {

constexpr std::uint32_t kRecordRate = RecordTake::kSampleRate;
constexpr std::uint16_t kRecordChannels = RecordTake::kChannels;
constexpr std::uint32_t kRecordBytesPerSecond = RecordTake::kBytesPerSecond;
// The longest take a WAV file can hold.
constexpr long long kMaxRecordSeconds = WavHeader::kMaxDataSize / kRecordBytesPerSecond;
// A recording that delivers nothing for this long has stalled.
constexpr auto kRecordStall = std::chrono::seconds(10);

} // namespace

int recordCommand(const QStringList& args, const Options& opts, const Io& io) {
    using namespace quaverly::bass;
    const QString& out = args[0];
    int bitRate = 0;
    if (!bitRateOption(opts, &bitRate, io))
        return kUsage;
    if (!isSoundTarget(out, io))
        return kUsage;
    bool ok = false;
    const double seconds = opts.value(QStringLiteral("seconds")).toDouble(&ok);
    const long long frames = ok && std::isfinite(seconds) ? std::llround(seconds * kRecordRate) : 0;
    if (!ok || !(seconds > 0) || seconds > double(kMaxRecordSeconds) || frames < 1) {
        say(io.err, QStringLiteral("quaverly-cli: --seconds must be a number of seconds above 0 "
                                   "and at most %1 (what a WAV file holds)")
                        .arg(kMaxRecordSeconds));
        return kUsage;
    }
    int input = -1;
    if (opts.contains(QStringLiteral("input"))) {
        input = opts[QStringLiteral("input")].toInt(&ok);
        if (!ok || input < 0) {
            say(io.err, QStringLiteral("quaverly-cli: --input must be an input number from "
                                       "'quaverly-cli inputs'"));
            return kUsage;
        }
    }

    // Refused before recording, rather than after.
    if (!QFileInfo(QFileInfo(out).absolutePath()).isDir())
        return failed(io, QStringLiteral("%1: no such folder").arg(out));
    if (!targetAllowed(out, {}, io))
        return kFailed;

    // The recorder's own engine, told to end the take at exactly the length asked for.
    const auto dataBytes = static_cast<std::uint32_t>(frames * kRecordChannels * 2);
    TakeRecorder::Options limits;
    limits.maxDataBytes = dataBytes;
    TakeRecorder recorder(limits);
    {
        // Failures name the file that is not written and the cause.
        const QString notRecorded = out + QStringLiteral(": not recorded: ");
        const RecordingDevice device;
        if (!device.started())
            return failed(io, notRecorded + QStringLiteral("cannot start the recording device: ") +
                                  soundError());
        if (input >= 0 && !BASS_RecordSetInput(input, BASS_INPUT_ON))
            return failed(io, notRecorded + QStringLiteral("input %1: ").arg(input) + soundError());
        if (!recorder.BeginRecording())
            return failed(io, notRecorded + QString::fromStdString(recorder.errorText()));
        Progress progress(io, QStringLiteral("recording"));
        std::uint64_t seen = 0;
        auto lastProgress = std::chrono::steady_clock::now();
        for (TakeRecorder::Stop why = TakeRecorder::Stop::None; why != TakeRecorder::Stop::TooLarge;
             why = recorder.pump()) {
            if (why == TakeRecorder::Stop::OutOfMemory)
                return failed(io,
                              notRecorded +
                                  QStringLiteral("not enough memory for %1 seconds").arg(seconds));
            if (why == TakeRecorder::Stop::DeviceFailed)
                return failed(io, notRecorded + QStringLiteral("the recording stopped: ") +
                                      QString::fromStdString(recorder.errorText()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::uint64_t now = recorder.take().dataBytes();
            const auto when = std::chrono::steady_clock::now();
            if (now != seen) {
                seen = now;
                lastProgress = when;
                progress.show(
                    QStringLiteral("%1 s").arg(double(now) / kRecordBytesPerSecond, 0, 'f', 1));
            } else if (when - lastProgress > kRecordStall) {
                return failed(io, notRecorded + QStringLiteral("the input delivers no sound"));
            }
        }
        recorder.EndRecording(); // no block after this: the take is ours
        if (recorder.lostBytes() > 0)
            return failed(io, notRecorded + QStringLiteral("%1 bytes of sound were lost on the way")
                                                .arg(recorder.lostBytes()));
    }

    const RecordTake& take = recorder.take();
    QTemporaryDir work;
    if (isMp3Target(out) && !work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = isWavTarget(out) ? out : work.filePath(QStringLiteral("take.wav"));
    AtomicFile file(wav);
    QString error;
    if (!file.open(&error) ||
        !file.write(reinterpret_cast<const char*>(take.data()), qint64(take.length()), &error) ||
        !file.commit(&error))
        return failed(io, writeFailure(wav, error));
    return isWavTarget(out) ? kOk : encodeTo(wav, out, bitRate, io);
}

} // namespace quaverly::cli
