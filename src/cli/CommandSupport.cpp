#include "cli/CommandSupport.h"

#include "convert/SongDecoder.h"
#include "engines/bass/Bass.h"
#include "engines/util/SameFile.h"

#include <QEventLoop>
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

QString readFailure(const QString& in, const QString& cause) {
    const QString named = in + QStringLiteral(": ");
    QString said = cause.startsWith(named) ? cause.mid(named.size()) : cause;
    if (const auto layout = probeWav(in); layout && layout->channels > 2) {
        said = QStringLiteral("unsupported WAV: %1 channels (only mono and stereo are read)")
                   .arg(layout->channels);
    } else if (said.contains(QLatin1String("no MPEG audio frames")) ||
               said.contains(QLatin1String("not an MPEG audio stream")) ||
               said.contains(QLatin1String("not a WAV file"))) {
        QFile f(in);
        const bool tagged = f.open(QIODevice::ReadOnly) && f.read(3) == "ID3";
        said = tagged || in.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)
                   ? QStringLiteral("MP3 holds no audio frames")
                   : QStringLiteral("not a WAV or MP3 file");
    }
    return named + said;
}

QString writeFailure(const QString& out, const QString& text) {
    return text.startsWith(out + QStringLiteral(": ")) ? QStringLiteral("cannot write ") + text
                                                       : text;
}

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
    // The sound layer's own words name the cause; its code alone says little.
    if (!r.cause.isEmpty())
        return failed(io, readFailure(in, r.cause));
    if (r.soundError)
        return failed(io,
                      QStringLiteral("%1: %2 (error code %3)").arg(in, r.error).arg(r.soundError));
    return failed(io, r.error.contains(in) || r.error.contains(out)
                          ? writeFailure(out, r.error)
                          : QStringLiteral("%1: %2").arg(in, r.error));
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
    if (result.ok)
        return kOk;
    // The encoder's words for a failed write read as the other commands' do.
    const QString encoderSays = QStringLiteral("Cannot write \"%1\": ").arg(mp3);
    return failed(
        io,
        result.error.startsWith(encoderSays)
            ? QStringLiteral("cannot write %1: %2").arg(mp3, result.error.mid(encoderSays.size()))
            : result.error);
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
