#include "cli/CommandSupport.h"

#include "engines/decode/SongDecode.h"
#include "engines/util/SameFile.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <iterator>

namespace quaverly::cli {
namespace {

constexpr int kDefaultBitRate = 256;
const int kBitRates[] = {56, 96, 128, 256};

} // namespace

void say(std::FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    std::fputc('\n', f);
}

int failed(const Io& io, const QString& text) {
    say(io.err, QStringLiteral("quaverly-cli: ") + text);
    return kFailed;
}

Progress::Progress(const Io& io, QString what) : io_(io), what_(std::move(what)) {
    tick();
}

Progress::~Progress() {
    if (io_.progress)
        std::fputs("\r\033[K", io_.err);
}

void Progress::tick(qint64 done) {
    show(done < 0 ? QString() : QStringLiteral("%1 MB").arg(done >> 20));
}

void Progress::show(const QString& detail) {
    if (!io_.progress)
        return;
    const QString line = what_ + QStringLiteral("...") +
                         (detail.isEmpty() ? QString() : QStringLiteral(" ") + detail);
    std::fprintf(io_.err, "\r\033[K%s", line.toLocal8Bit().constData());
    std::fflush(io_.err);
}

bool isMp3Target(const QString& path) {
    return path.right(4).toLower() == QLatin1String(".mp3");
}

bool isWavTarget(const QString& path) {
    return path.right(4).toLower() == QLatin1String(".wav");
}

bool isSoundTarget(const QString& path, const Io& io) {
    if (isWavTarget(path) || isMp3Target(path))
        return true;
    say(io.err, QStringLiteral("quaverly-cli: %1: the output must end in .wav or .mp3").arg(path));
    return false;
}

bool targetAllowed(const QString& out, const QStringList& sources, const Io& io) {
    if (QFileInfo(out).isDir()) {
        failed(io, QStringLiteral("cannot write %1: it is a folder").arg(out));
        return false;
    }
    for (const QString& in : sources) {
        if (sameFile(in, out)) {
            failed(io, QStringLiteral("cannot write %1: it is the same file as the input %2")
                           .arg(out, in));
            return false;
        }
    }
    return true;
}

QString readFailure(const Error& refusal) {
    // The reader tries libmpg123 last, on whatever it knows by no signature and FFmpeg finds no
    // container in: its refusal of frames it cannot find is one of a file of no kind that is read.
    const QString& cause = refusal.cause();
    const bool noKind = refusal.code() == sound::kFileForm &&
                        (cause.startsWith(QLatin1String("no MPEG audio frames")) ||
                         cause.startsWith(QLatin1String("not an MPEG audio stream")));
    if (!noKind)
        return refusal.text();
    const QString& in = refusal.file();
    QFile f(in);
    const bool tagged = f.open(QIODevice::ReadOnly) && f.read(3) == "ID3";
    return in + (tagged || in.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)
                     ? QStringLiteral(": MP3 holds no audio frames")
                     : QStringLiteral(": not a sound file of a kind that is read"));
}

QString writeFailure(const QString& out, const Error& error) {
    return error.file() == out ? QStringLiteral("cannot write ") + error.text() : error.text();
}

int decodeTo(const QString& in, const QString& wav, const Io& io) {
    Progress progress(io, QStringLiteral("decoding ") + QFileInfo(in).fileName());
    auto song = SongReader::open(in);
    if (!song)
        return failed(io, readFailure(song.error()));
    qint64 blocks = 0;
    const auto decoded = decodeSong(*song, wav, [&](std::uint64_t done, std::uint64_t) {
        if ((++blocks & 63) == 0)
            progress.tick(qint64(done));
        return true;
    });
    if (decoded)
        return kOk;
    const Error& e = decoded.error();
    if (e.file() == wav)
        return failed(io, QStringLiteral("cannot write %1: %2").arg(wav, e.cause()));
    return failed(io, e.code() != 0
                          ? QStringLiteral("%1 (error code %2)").arg(e.text()).arg(e.code())
                          : e.text());
}

QString encodeFailure(const mp3::EncodeFailure& failure) {
    const Error& e = failure.error;
    switch (failure.step) {
    case mp3::EncodeStep::Write:
        return QStringLiteral("cannot write %1: %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::ReadWav:
        return QStringLiteral("Cannot read \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Source:
        return e.text();
    case mp3::EncodeStep::Encode:
        return e.file().isEmpty()
                   ? QStringLiteral("Cannot encode: %1").arg(e.cause())
                   : QStringLiteral("Cannot encode \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Resample:
        return QStringLiteral("Cannot resample \"%1\": %2").arg(e.file(), e.cause());
    case mp3::EncodeStep::Cancel:
        return QStringLiteral("Encoding \"%1\" was cancelled").arg(e.file());
    }
    return e.text();
}

namespace {

// Runs one job of the encoder component, queued by `queue`, and waits for its end.
int encodeJob(const std::function<void(Mp3Encoder&)>& queue, const QString& mp3, int bitRate,
              const Io& io) {
    Progress progress(io, QStringLiteral("encoding ") + QFileInfo(mp3).fileName());
    Mp3Encoder encoder;
    encoder.setBitRate(bitRate);
    EncodeResult result;
    QEventLoop loop;
    QObject::connect(&encoder, &Mp3Encoder::EncodeDone, &loop, [&](const EncodeResult& r) {
        result = r;
        loop.quit();
    });
    queue(encoder);
    loop.exec();
    if (result.ok())
        return kOk;
    return failed(io, encodeFailure(*result.failure));
}

} // namespace

int encodeTo(const QString& wav, const QString& mp3, int bitRate, const Io& io) {
    return encodeJob([&](Mp3Encoder& encoder) { encoder.EncodeFiles(wav, mp3); }, mp3, bitRate, io);
}

int encodeTo(Mp3Encoder::SourceFactory make, const QString& sourceName, const QString& mp3,
             int bitRate, const Io& io) {
    return encodeJob(
        [&](Mp3Encoder& encoder) { encoder.EncodeSource(std::move(make), sourceName, mp3); }, mp3,
        bitRate, io);
}

bool bitRateOption(const Options& opts, int* bitRate, const Io& io) {
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

QString soundError(const Error& error) {
    return QStringLiteral("%1 (error code %2)").arg(error.cause()).arg(error.code());
}

} // namespace quaverly::cli
