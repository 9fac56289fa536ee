// quaverly-cli record OUT --seconds S: a take from a recording input, as the recorder makes it.
// Ctrl+C while it records discards the take: nothing is written.
#include "cli/CommandSupport.h"
#include "cli/Console.h"
#include "cli/ProgressLine.h"
#include "cli/Target.h"

#include "engines/audio/CaptureDevice.h"
#include "engines/wav/WavHeader.h"
#include "recorder/TakeRecorder.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>

namespace quaverly::cli {
namespace {

constexpr std::uint32_t kRecordRate = RecordTake::kSampleRate;
constexpr std::uint16_t kRecordChannels = RecordTake::kChannels;
constexpr std::uint32_t kRecordBytesPerSecond = RecordTake::kBytesPerSecond;
// The longest take a WAV file can hold.
constexpr long long kMaxRecordSeconds = WavHeader::kMaxDataSize / kRecordBytesPerSecond;
// A recording that delivers nothing for this long has stalled.
constexpr auto kRecordStall = std::chrono::seconds(10);
// The longest a Ctrl+C waits to be heeded while recording.
constexpr auto kCtrlCLatency = std::chrono::milliseconds(100);

// What the command line asks for.
struct Request {
    double seconds = 0;
    long long frames = 0;
    int input = -1; // -1: the device's default input
};

// Reads the options into `r`; false when they are not usable (then said).
bool readRequest(const Options& opts, const Io& io, Request* r) {
    bool ok = false;
    r->seconds = opts.value(QStringLiteral("seconds")).toDouble(&ok);
    r->frames = ok && std::isfinite(r->seconds) ? std::llround(r->seconds * kRecordRate) : 0;
    if (!ok || !(r->seconds > 0) || r->seconds > double(kMaxRecordSeconds) || r->frames < 1) {
        say(io.err, QStringLiteral("quaverly-cli: --seconds must be a number of seconds above 0 "
                                   "and at most %1 (what a WAV file holds)")
                        .arg(kMaxRecordSeconds));
        return false;
    }
    if (opts.contains(QStringLiteral("input"))) {
        r->input = opts[QStringLiteral("input")].toInt(&ok);
        if (!ok || r->input < 0) {
            say(io.err, QStringLiteral("quaverly-cli: --input must be an input number from "
                                       "'quaverly-cli inputs'"));
            return false;
        }
    }
    return true;
}

// Records the take into `recorder` until it holds exactly what was asked for. Failures name the
// file that is not written and the cause; a Ctrl+C discards the take (kCancelled, unsaid).
int recordTake(const QString& out, const Request& r, TakeRecorder& recorder, const Io& io) {
    const QString notRecorded = out + QStringLiteral(": not recorded: ");
    auto device = audio::CaptureDevice::open();
    if (!device)
        return failed(io, notRecorded + QStringLiteral("cannot start the recording device: ") +
                              soundError(device.error()));
    if (r.input >= 0) {
        if (const Status chosen = device->choose(r.input); !chosen)
            return failed(io, notRecorded + QStringLiteral("input %1: ").arg(r.input) +
                                  soundError(chosen.error()));
    }
    const std::uint64_t wanted = std::uint64_t(r.frames) * kRecordChannels * 2;
    if (const Status started = recorder.BeginRecording(*device); !started)
        return failed(io, notRecorded + started.error().cause());
    // The bar is the seconds recorded of those asked for.
    ProgressLine line(io, QStringLiteral("recording ") + QFileInfo(out).fileName());
    std::uint64_t seen = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    for (TakeRecorder::Stop why = TakeRecorder::Stop::None; why != TakeRecorder::Stop::TooLarge;
         why = recorder.pump()) {
        if (why == TakeRecorder::Stop::OutOfMemory)
            return failed(io,
                          notRecorded +
                              QStringLiteral("not enough memory for %1 seconds").arg(r.seconds));
        if (why == TakeRecorder::Stop::DeviceFailed)
            return failed(io, notRecorded + QStringLiteral("the recording stopped: ") +
                                  recorder.failure().error().cause());
        if (interrupted()) {
            recorder.discard();
            return kCancelled;
        }
        // On at the next block, or at the latest in time to heed a Ctrl+C (which only sets a
        // mark) and to see a device that has gone quiet.
        (void)recorder.awaitBlock(kCtrlCLatency);
        const std::uint64_t now = recorder.take().dataBytes();
        const auto when = std::chrono::steady_clock::now();
        line.update(now, wanted);
        if (now != seen) {
            seen = now;
            lastProgress = when;
        } else if (when - lastProgress > kRecordStall) {
            return failed(io, notRecorded + QStringLiteral("the input delivers no sound"));
        }
    }
    recorder.EndRecording(); // no block after this: the take is ours
    if (recorder.lostBytes() > 0)
        return failed(
            io,
            notRecorded +
                QStringLiteral("%1 bytes of sound were lost on the way").arg(recorder.lostBytes()));
    return kOk;
}

} // namespace

int recordCommand(const QStringList& args, const Options& opts, const Io& io) {
    const QString& out = args[0];
    Target target;
    if (const int read = readTarget(out, opts, io, &target); read != kOk)
        return read;
    Request request;
    if (!readRequest(opts, io, &request))
        return kUsage;
    if (!lengthFits(target, request.frames, int(kRecordRate), io))
        return kFailed;

    // Refused before recording, rather than after.
    if (!QFileInfo(QFileInfo(out).absolutePath()).isDir())
        return failed(io, QStringLiteral("%1: no such folder").arg(out));
    if (!targetAllowed(out, {}, io))
        return kFailed;

    // The recorder's own engine, told to end the take at exactly the length asked for.
    TakeRecorder::Options limits;
    limits.maxDataBytes = static_cast<std::uint32_t>(request.frames * kRecordChannels * 2);
    TakeRecorder recorder(limits);
    if (const int recorded = recordTake(out, request, recorder, io); recorded != kOk)
        return recorded;

    // Any other format is encoded from the take written as WAV first, which goes with `work`.
    QTemporaryDir work;
    if (!target.isWav() && !work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = target.isWav() ? out : work.filePath(QStringLiteral("take.wav"));
    // Writing the take from memory takes no stop: a Ctrl+C during it is heeded by the encoding.
    if (interrupted())
        return kCancelled;
    Status written;
    {
        const ProgressLine line(io, QStringLiteral("saving ") + QFileInfo(out).fileName(), false);
        written = recorder.take().writeTo(wav);
    }
    if (!written)
        return failed(io, writeFailure(wav, written.error()));
    if (target.isWav())
        return kOk;
    // A take has no tags of its own: the title is OUT's name unless --title gives one.
    ClipTags tags;
    if (!target.plainMp3()) {
        tags.title = QFileInfo(out).completeBaseName();
        tags = clipTags(target, tags);
    }
    return encodeTo(wav, target, tags, io);
}

} // namespace quaverly::cli
