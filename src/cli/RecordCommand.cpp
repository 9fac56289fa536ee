// quaverly-cli record OUT --seconds S: a take from a recording input, as the recorder makes it.
#include "cli/CommandSupport.h"

#include "engines/bass/Bass.h"
#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace quaverly::cli {
namespace {

// What the recording proc fills: a take as the recorder makes it, a 44-byte WAV header and the
// samples in one block of memory. Its size is known here before recording, so the block is
// allocated once and the device thread only copies into it.
struct Take {
    std::vector<std::uint8_t> bytes; // header and samples
    std::atomic<std::size_t> length{WavHeader::kSize};
    std::atomic<bool> full{false};

    // Device thread: no allocation, no lock.
    static bass::BOOL proc(bass::HRECORD, const void* data, bass::DWORD length, void* user) {
        auto* take = static_cast<Take*>(user);
        const std::size_t at = take->length.load(std::memory_order_relaxed);
        const std::size_t n = std::min<std::size_t>(length, take->bytes.size() - at);
        std::memcpy(take->bytes.data() + at, data, n);
        take->length.store(at + n, std::memory_order_release);
        if (at + n < take->bytes.size())
            return 1;
        take->full.store(true, std::memory_order_release);
        return 0;
    }
};

constexpr std::uint32_t kRecordRate = 44100;
constexpr std::uint16_t kRecordChannels = 2;
constexpr std::uint32_t kRecordBytesPerSecond = kRecordRate * kRecordChannels * 2;
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

    Take take;
    const auto dataBytes = static_cast<std::uint32_t>(frames * kRecordChannels * 2);
    try {
        take.bytes.resize(WavHeader::kSize + dataBytes);
    } catch (const std::bad_alloc&) {
        return failed(io, QStringLiteral("%1: not recorded: not enough memory for %2 seconds")
                              .arg(out)
                              .arg(seconds));
    }

    {
        // Failures name the file that is not written and the cause.
        const QString notRecorded = out + QStringLiteral(": not recorded: ");
        const RecordingDevice device;
        if (!device.started())
            return failed(io, notRecorded + QStringLiteral("cannot start the recording device: ") +
                                  soundError());
        if (input >= 0 && !BASS_RecordSetInput(input, BASS_INPUT_ON))
            return failed(io, notRecorded + QStringLiteral("input %1: ").arg(input) + soundError());
        const HRECORD h = BASS_RecordStart(kRecordRate, kRecordChannels, 0, Take::proc, &take);
        if (!h)
            return failed(io, notRecorded + soundError());
        Progress progress(io, QStringLiteral("recording"));
        std::size_t seen = take.length;
        auto lastProgress = std::chrono::steady_clock::now();
        while (!take.full.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (take.full.load(std::memory_order_acquire))
                break;
            // The proc marks the take full before it ends the recording: stopped and not full is
            // a device that failed.
            if (BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED &&
                !take.full.load(std::memory_order_acquire))
                return failed(io, notRecorded + QStringLiteral("the recording stopped: ") +
                                      soundError());
            const std::size_t now = take.length.load(std::memory_order_acquire);
            const auto when = std::chrono::steady_clock::now();
            if (now != seen) {
                seen = now;
                lastProgress = when;
                progress.show(QStringLiteral("%1 s").arg(
                    double(now - WavHeader::kSize) / kRecordBytesPerSecond, 0, 'f', 1));
            } else if (when - lastProgress > kRecordStall) {
                return failed(io, notRecorded + QStringLiteral("the input delivers no sound"));
            }
        }
        BASS_ChannelStop(h); // no proc call after this: the take is ours
    }

    const auto head = WavHeader::pcm(kRecordChannels, kRecordRate, 16, dataBytes).toBytes();
    std::memcpy(take.bytes.data(), head.data(), head.size());
    QTemporaryDir work;
    if (isMp3Target(out) && !work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = isWavTarget(out) ? out : work.filePath(QStringLiteral("take.wav"));
    AtomicFile file(wav);
    QString error;
    if (!file.open(&error) ||
        !file.write(reinterpret_cast<const char*>(take.bytes.data()), qint64(take.bytes.size()),
                    &error) ||
        !file.commit(&error))
        return failed(io, error);
    return isWavTarget(out) ? kOk : encodeTo(wav, out, bitRate, io);
}

} // namespace quaverly::cli
