#include "cli/Cli.h"

#include "convert/SongDecoder.h"
#include "editor/ClipCut.h"
#include "engines/bass/Bass.h"
#include "engines/bass/InputType.h"
#include "engines/encoder/Mp3Encoder.h"
#include "engines/mci/MciTime.h"
#include "engines/mci/WaveCommands.h"
#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"
#include "songlist/ListJoin.h"
#include "songlist/WorkingCopy.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

namespace quaverly::cli {
namespace {

constexpr int kDefaultBitRate = 256;
const int kBitRates[] = {56, 96, 128, 256};

struct Io {
    std::FILE* out;
    std::FILE* err;
    bool progress; // standard error is a terminal: show what long work is doing
};

void say(std::FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    std::fputc('\n', f);
}

int failed(const Io& io, const QString& text) {
    say(io.err, QStringLiteral("quaverly-cli: ") + text);
    return kFailed;
}

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    QStringList valued; // options that take a value
    int minArgs;
    int maxArgs; // -1: any
    std::function<int(const QStringList& args, const QMap<QString, QString>& opts, const Io&)> run;
};

// Shows a progress line on a terminal and clears it when the work is done.
class Progress {
public:
    Progress(const Io& io, QString what) : io_(io), what_(std::move(what)) { tick(); }
    ~Progress() {
        if (io_.progress)
            std::fputs("\r\033[K", io_.err);
    }
    void tick(qint64 done = -1) {
        show(done < 0 ? QString() : QStringLiteral("%1 MB").arg(done >> 20));
    }
    // "what... detail"
    void show(const QString& detail) {
        if (!io_.progress)
            return;
        const QString line = what_ + QStringLiteral("...") +
                             (detail.isEmpty() ? QString() : QStringLiteral(" ") + detail);
        std::fprintf(io_.err, "\r\033[K%s", line.toLocal8Bit().constData());
        std::fflush(io_.err);
    }

private:
    const Io& io_;
    QString what_;
};

bool isMp3Target(const QString& path) {
    return path.right(4).toLower() == QLatin1String(".mp3");
}
bool isWavTarget(const QString& path) {
    return path.right(4).toLower() == QLatin1String(".wav");
}
// The outputs the commands write; anything else is a usage error, said once here.
bool isSoundTarget(const QString& path, const Io& io) {
    if (isWavTarget(path) || isMp3Target(path))
        return true;
    say(io.err, QStringLiteral("quaverly-cli: %1: the output must end in .wav or .mp3").arg(path));
    return false;
}

// Decodes any source the sound layer reads into a WAV file, as adding a song does.
int decodeTo(const QString& in, const QString& out, const Io& io) {
    Progress progress(io, QStringLiteral("decoding ") + QFileInfo(in).fileName());
    SongDecoder decoder;
    qint64 blocks = 0;
    const auto r = decoder.decode(in, out, [&] {
        if ((++blocks & 63) == 0)
            progress.tick(blocks * SongDecoder::kBlockBytes);
        return true;
    });
    if (r.ok)
        return kOk;
    if (r.soundError)
        return failed(io,
                      QStringLiteral("%1: %2 (error code %3)").arg(in, r.error).arg(r.soundError));
    return failed(io, r.error.contains(in) || r.error.contains(out)
                          ? r.error
                          : QStringLiteral("%1: %2").arg(in, r.error));
}

// Encodes a WAV file into an MP3 file through the encoder component, waiting for its end.
int encodeTo(const QString& wav, const QString& mp3, int bitRate, const Io& io) {
    Progress progress(io, QStringLiteral("encoding ") + QFileInfo(mp3).fileName());
    Mp3Encoder encoder;
    encoder.setBitRate(bitRate);
    EncodeResult result;
    QEventLoop loop;
    QObject::connect(&encoder, &Mp3Encoder::EncodeDone, &loop, [&](const EncodeResult& r) {
        result = r;
        loop.quit();
    });
    encoder.EncodeFiles(wav, mp3);
    loop.exec();
    return result.ok ? kOk : failed(io, result.error);
}

bool bitRateOption(const QMap<QString, QString>& opts, int* bitRate, const Io& io) {
    *bitRate = kDefaultBitRate;
    if (!opts.contains(QStringLiteral("bitrate")))
        return true;
    bool ok = false;
    const int v = opts[QStringLiteral("bitrate")].toInt(&ok);
    if (ok && std::find(std::begin(kBitRates), std::end(kBitRates), v) != std::end(kBitRates)) {
        *bitRate = v;
        return true;
    }
    say(io.err, QStringLiteral("quaverly-cli: --bitrate must be 56, 96, 128 or 256"));
    return false;
}

int convert(const QStringList& args, const QMap<QString, QString>& opts, const Io& io) {
    const QString& in = args[0];
    const QString& out = args[1];
    int bitRate = 0;
    if (!bitRateOption(opts, &bitRate, io))
        return kUsage;
    if (!QFileInfo(in).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(in));
    if (isWavTarget(out))
        return decodeTo(in, out, io);
    if (!isSoundTarget(out, io))
        return kUsage;
    const auto layout = probeWav(in);
    if (layout)
        return encodeTo(in, out, bitRate, io);
    // Not a WAV file: decode it first, then encode the decoded sound.
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
    const QString wav = work.filePath(QStringLiteral("decoded.wav"));
    const int decoded = decodeTo(in, wav, io);
    return decoded == kOk ? encodeTo(wav, out, bitRate, io) : decoded;
}

int join(const QStringList& args, const QMap<QString, QString>& opts, const Io& io) {
    const QString& out = args[0];
    const QStringList inputs = args.mid(1);
    int bitRate = 0;
    if (!bitRateOption(opts, &bitRate, io))
        return kUsage;
    if (!isSoundTarget(out, io))
        return kUsage;
    QTemporaryDir work;
    if (!work.isValid())
        return failed(io,
                      QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));

    // Each input becomes a song as adding it to the list makes one. A WAV file already in the
    // plain layout would be copied byte for byte, so it serves as its own working copy.
    QStringList songs;
    SongDecoder decoder;
    for (const QString& in : inputs) {
        if (!QFileInfo(in).isFile())
            return failed(io, QStringLiteral("%1: no such file").arg(in));
        if (!isSongFile(in))
            return failed(io, QStringLiteral("%1: not a WAV or MP3 file").arg(in));
        const auto layout = isWavTarget(in) ? probeWav(in) : std::nullopt;
        if (layout && layout->canonical && layout->dataSize > 0) {
            songs << in;
            continue;
        }
        const QString copy = newWorkingCopyPath(work.path());
        Progress progress(io, QStringLiteral("reading ") + QFileInfo(in).fileName());
        const auto r = makeWorkingCopy(in, copy, decoder);
        if (!r.ok)
            return failed(
                io,
                r.soundError
                    ? QStringLiteral("%1: %2 (error code %3)").arg(in, r.error).arg(r.soundError)
                    : r.error);
        songs << copy;
    }

    const QString joined = isWavTarget(out) ? out : work.filePath(QStringLiteral("concat.wav"));
    {
        Progress progress(io, QStringLiteral("joining"));
        const auto r = joinSongs(songs, joined);
        if (!r.ok)
            return failed(io, r.error);
    }
    return isWavTarget(out) ? kOk : encodeTo(joined, out, bitRate, io);
}

int cut(const QStringList& args, const QMap<QString, QString>& opts, const Io& io) {
    const QString& in = args[0];
    const QString& out = args[1];
    if (!opts.contains(QStringLiteral("from")) || !opts.contains(QStringLiteral("to"))) {
        say(io.err, QStringLiteral("quaverly-cli cut: --from and --to are both needed"));
        return kUsage;
    }
    const long long markIn = parseTime(opts[QStringLiteral("from")]);
    const long long markOut = parseTime(opts[QStringLiteral("to")]);
    if (markIn < 0 || markOut < 0) {
        say(io.err, QStringLiteral("quaverly-cli cut: a time is milliseconds or h:mm:ss.mmm"));
        return kUsage;
    }
    if (markIn >= markOut) {
        say(io.err, QStringLiteral("quaverly-cli cut: Time Input Error: --from must be before "
                                   "--to"));
        return kUsage;
    }
    if (!isWavTarget(out)) {
        say(io.err, QStringLiteral("quaverly-cli: %1: the output must end in .wav").arg(out));
        return kUsage;
    }
    if (!QFileInfo(in).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(in));

    // The cut works on a plain PCM WAV, as on a song's working copy; anything else is first
    // made into one, as adding it to the list would.
    QTemporaryDir work;
    QString song = in;
    auto layout = probeWav(in);
    const bool plain = layout && layout->formatTag == 1 && layout->channels <= 2 &&
                       (layout->bitsPerSample == 8 || layout->bitsPerSample == 16);
    if (!plain) {
        if (!work.isValid())
            return failed(
                io, QStringLiteral("cannot make a temporary folder: %1").arg(work.errorString()));
        song = newWorkingCopyPath(work.path());
        if (const int decoded = decodeTo(in, song, io); decoded != kOk)
            return decoded;
        layout = probeWav(song);
        if (!layout)
            return failed(io, QStringLiteral("%1: the decoded sound cannot be read").arg(in));
    }
    const auto lengthMs = static_cast<long long>(
        mcitime::framesToMs(layout->dataSize / layout->blockAlign, layout->sampleRate));
    if (markOut > lengthMs) {
        say(io.err, QStringLiteral("quaverly-cli cut: %1: --to is past the end of the sound "
                                   "(%2 ms)")
                        .arg(in)
                        .arg(lengthMs));
        return kUsage;
    }
    WaveCommands commands;
    const auto r = cutClip(song, out, markIn, markOut, lengthMs, commands);
    return r.result == CutOutcome::Cut ? kOk
                                       : failed(io, QStringLiteral("%1: %2").arg(in, r.error));
}

QString formatName(const WavLayout& w) {
    switch (w.formatTag) {
    case 1:
        return QStringLiteral("PCM %1-bit").arg(w.bitsPerSample);
    case 3:
        return QStringLiteral("float %1-bit").arg(w.bitsPerSample);
    default:
        return QStringLiteral("format %1").arg(w.formatTag);
    }
}

int info(const QStringList& args, const QMap<QString, QString>&, const Io& io) {
    const QString& file = args[0];
    if (!QFileInfo(file).isFile())
        return failed(io, QStringLiteral("%1: no such file").arg(file));
    QString why;
    const auto w = probeWav(file, &why);
    QString kind;
    std::uint64_t frames = 0, dataBytes = 0;
    std::uint32_t rate = 0;
    int channels = 0;
    if (w) {
        kind = QStringLiteral("WAV, ") + formatName(*w);
        frames = w->dataSize / w->blockAlign;
        dataBytes = w->dataSize;
        rate = w->sampleRate;
        channels = w->channels;
    } else {
        // Anything else is measured by decoding it through the sound layer.
        using namespace quaverly::bass;
        const bool started = BASS_Init(0, 44100, 0, nullptr, nullptr) != 0;
        const HSTREAM h =
            BASS_StreamCreateFile(0, QFile::encodeName(file).constData(), 0, 0, BASS_STREAM_DECODE);
        BASS_CHANNELINFO ci;
        const bool ok = h && BASS_ChannelGetInfo(h, &ci) && ci.chans > 0;
        const int code = BASS_ErrorGetCode();
        if (ok) {
            kind = ci.ctype == BASS_CTYPE_STREAM_MP3 ? QStringLiteral("MPEG audio")
                                                     : QStringLiteral("audio");
            kind += QStringLiteral(", decodes to PCM 16-bit");
            dataBytes = BASS_ChannelGetLength(h);
            rate = ci.freq;
            channels = int(ci.chans);
            frames = dataBytes / (2u * ci.chans);
        }
        if (h)
            BASS_StreamFree(h);
        if (started)
            BASS_Free();
        if (!ok)
            return failed(io, QStringLiteral("%1: not a sound file the program reads (%2; error "
                                             "code %3)")
                                  .arg(file, why)
                                  .arg(code));
    }
    const std::uint64_t ms = rate ? (frames * 1000 + rate / 2) / rate : 0;
    say(io.out, QStringLiteral("file: %1").arg(file));
    say(io.out, QStringLiteral("format: %1, %2 channel%3, %4 Hz")
                    .arg(kind)
                    .arg(channels)
                    .arg(channels == 1 ? "" : "s")
                    .arg(rate));
    say(io.out, QStringLiteral("duration_ms: %1").arg(ms));
    say(io.out, QStringLiteral("samples: %1").arg(frames));
    say(io.out, QStringLiteral("data_bytes: %1").arg(dataBytes));
    return kOk;
}

// The sound layer's last error on this thread, for a message: "text (error code N)".
QString soundError() {
    return QStringLiteral("%1 (error code %2)")
        .arg(QString::fromStdString(bass::lastErrorText()))
        .arg(bass::BASS_ErrorGetCode());
}

// The recording device for one command, released when the command ends.
class RecordingDevice {
public:
    RecordingDevice() : started_(bass::BASS_RecordInit(-1) != 0) {}
    ~RecordingDevice() {
        if (started_)
            bass::BASS_RecordFree();
    }
    RecordingDevice(const RecordingDevice&) = delete;
    RecordingDevice& operator=(const RecordingDevice&) = delete;
    bool started() const { return started_; }

private:
    const bool started_;
};

int inputs(const QStringList&, const QMap<QString, QString>&, const Io& io) {
    using namespace quaverly::bass;
    const RecordingDevice device;
    if (!device.started())
        return failed(io, QStringLiteral("cannot open the sound device's inputs: ") + soundError());
    QStringList lines;
    for (int i = 0;; ++i) {
        const char* name = BASS_RecordGetInputName(i);
        if (!name) {
            if (BASS_ErrorGetCode() == BASS_ERROR_ILLPARAM)
                break; // past the last input
            return failed(io, QStringLiteral("cannot list the inputs: ") + soundError());
        }
        const QString description = QString::fromUtf8(name);
        const DWORD v = BASS_RecordGetInput(i);
        if (v == 0xFFFFFFFFu) {
            // A source that went away while we listed.
            lines << QStringLiteral("%1\tgone\t-\t-\t%2").arg(i).arg(description);
            continue;
        }
        lines << QStringLiteral("%1\t%2\t%3\t%4\t%5")
                     .arg(i)
                     .arg((v & BASS_INPUT_OFF) ? QStringLiteral("off") : QStringLiteral("on"))
                     .arg(QLatin1String(inputTypeText(v)))
                     .arg(LoWord(v))
                     .arg(description);
    }
    for (const QString& line : lines)
        say(io.out, line);
    return kOk;
}

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

int record(const QStringList& args, const QMap<QString, QString>& opts, const Io& io) {
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

const std::vector<Command>& commands() {
    static const std::vector<Command> all = {
        {"convert",
         "convert IN OUT [--bitrate 56|96|128|256]",
         "Converts IN to OUT, chosen by OUT's extension: .wav decodes an MP3 (or any sound file\n"
         "the program reads) into a PCM WAV file; .mp3 encodes a WAV file (or a decoded MP3)\n"
         "at the bit rate (default 256 kbit/s).",
         {QStringLiteral("bitrate")},
         2,
         2,
         convert},
        {"join",
         "join OUT IN... [--bitrate 56|96|128|256]",
         "Joins the WAV and MP3 files IN, in order, into OUT, as the song list joins its songs:\n"
         "the result takes the first song's format, other formats are converted to it.\n"
         "OUT ending in .mp3 is encoded at the bit rate (default 256 kbit/s).",
         {QStringLiteral("bitrate")},
         2,
         -1,
         join},
        {"cut",
         "cut IN OUT --from T --to T",
         "Cuts IN down to the stretch from --from to --to, as the clip editor does, and writes\n"
         "it to OUT as a PCM WAV file. A time T is milliseconds (2500) or h:mm:ss.mmm\n"
         "(0:00:02.500, 1:05). --from must lie before --to.",
         {QStringLiteral("from"), QStringLiteral("to")},
         2,
         2,
         cut},
        {"info",
         "info FILE",
         "Prints the format, the duration in milliseconds and in samples (frames per channel)\n"
         "and the size of the sound data of a WAV or MP3 file.",
         {},
         1,
         1,
         info},
        {"inputs",
         "inputs",
         "Lists the recording inputs of the sound device, one a line, with tabs between: the\n"
         "number, on or off (on: the input recorded from, the sound server's default input),\n"
         "the type as the recorder shows it, the level (0-100) and the name.",
         {},
         0,
         0,
         inputs},
        {"record",
         "record OUT --seconds S [--input N] [--bitrate 56|96|128|256]",
         "Records S seconds (fractions allowed) of 44100 Hz stereo 16-bit sound from input N\n"
         "(see 'inputs'; default: the one that is on) into OUT, a WAV file, or an MP3 file at\n"
         "the bit rate (default 256 kbit/s) when OUT ends in .mp3.",
         {QStringLiteral("seconds"), QStringLiteral("input"), QStringLiteral("bitrate")},
         1,
         1,
         record},
    };
    return all;
}

void usage(std::FILE* f) {
    std::fputs("usage: quaverly-cli COMMAND [ARGS]   (quaverly-cli COMMAND --help for more)\n"
               "commands:\n",
               f);
    for (const auto& c : commands())
        std::fprintf(f, "  quaverly-cli %s\n", c.usage);
}

} // namespace

long long parseTime(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(?:(?:(\d+):)?(\d{1,2}):)?(\d+)(?:\.(\d{1,3}))?$)"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return -1;
    const bool clock = m.capturedLength(2) > 0 || m.capturedLength(4) > 0;
    const long long h = m.captured(1).toLongLong();
    const long long min = m.captured(2).toLongLong();
    const QString secText = m.captured(3);
    if (!clock) // a plain number is milliseconds
        return secText.size() > 15 ? -1 : secText.toLongLong();
    if (secText.size() > 2 && m.capturedLength(2) > 0)
        return -1;
    if ((m.capturedLength(2) > 0 && secText.toLongLong() >= 60) ||
        (m.capturedLength(1) > 0 && min >= 60) || secText.size() > 9)
        return -1;
    const QString frac = m.captured(4);
    const long long ms = frac.isEmpty() ? 0 : frac.leftJustified(3, QLatin1Char('0')).toLongLong();
    return ((h * 60 + min) * 60 + secText.toLongLong()) * 1000 + ms;
}

int run(const QStringList& args, std::FILE* out, std::FILE* err) {
    const Io io{out, err, isatty(fileno(err)) != 0};
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        usage(args.isEmpty() ? err : out);
        return args.isEmpty() ? kUsage : kOk;
    }
    const auto& all = commands();
    const auto it = std::find_if(
        all.begin(), all.end(), [&](const Command& c) { return args[0] == QLatin1String(c.name); });
    if (it == all.end()) {
        say(err, QStringLiteral("quaverly-cli: unknown command '%1'").arg(args[0]));
        usage(err);
        return kUsage;
    }
    QStringList positional;
    QMap<QString, QString> opts;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fprintf(out, "usage: quaverly-cli %s\n\n%s\n", it->usage, it->help);
            return kOk;
        }
        if (a.startsWith(QLatin1String("--")) && a.size() > 2) {
            QString name = a.mid(2), value;
            const auto eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
            } else if (it->valued.contains(name) && i + 1 < args.size()) {
                value = args[++i];
            }
            if (!it->valued.contains(name) || (eq < 0 && value.isNull())) {
                say(err, QStringLiteral("quaverly-cli %1: unknown or incomplete option '%2'")
                             .arg(QLatin1String(it->name), a));
                std::fprintf(err, "usage: quaverly-cli %s\n", it->usage);
                return kUsage;
            }
            opts[name] = value;
        } else {
            positional << a;
        }
    }
    if (positional.size() < it->minArgs || (it->maxArgs >= 0 && positional.size() > it->maxArgs)) {
        std::fprintf(err, "usage: quaverly-cli %s\n", it->usage);
        return kUsage;
    }
    return it->run(positional, opts, io);
}

} // namespace quaverly::cli
