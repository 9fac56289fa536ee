#include "Mp3TestSupport.h"

#include "engines/wav/WavHeader.h"
#include "support/Peers.h"

#include <QFile>

#include <mpg123.h>
#include <sndfile.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace quaverly::test {
namespace {

double sample(const Sine& s, std::uint64_t i, int channel) {
    const double hz = channel == 0 ? s.leftHz : s.rightHz;
    return 0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / s.sampleRate);
}

} // namespace

void writeCanonicalWav(const QString& path, const Sine& s) {
    const auto bytes = std::uint32_t(s.frames * s.channels * 2);
    const auto header =
        WavHeader::pcm(std::uint16_t(s.channels), std::uint32_t(s.sampleRate), 16, bytes).toBytes();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot create " + path.toStdString());
    f.write(reinterpret_cast<const char*>(header.data()), qint64(header.size()));
    std::vector<std::int16_t> block;
    for (std::uint64_t i = 0; i < s.frames; ++i)
        for (int c = 0; c < s.channels; ++c)
            block.push_back(std::int16_t(std::lround(sample(s, i, c) * 32767)));
    f.write(reinterpret_cast<const char*>(block.data()), qint64(block.size() * 2));
}

void writeSndfileWav(const QString& path, const Sine& s, int sfFormat) {
    SF_INFO info{};
    info.samplerate = s.sampleRate;
    info.channels = s.channels;
    info.format = sfFormat;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        throw std::runtime_error(std::string("sf_open: ") + sf_strerror(nullptr));
    std::vector<float> pcm;
    for (std::uint64_t i = 0; i < s.frames; ++i)
        for (int c = 0; c < s.channels; ++c)
            pcm.push_back(float(sample(s, i, c)));
    const sf_count_t written = sf_writef_float(f, pcm.data(), sf_count_t(s.frames));
    sf_close(f);
    if (written != sf_count_t(s.frames))
        throw std::runtime_error("short write to " + path.toStdString());
}

std::optional<std::vector<Frame>> readFrames(const QString& path, QString* error) {
    static constexpr int kMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                       112, 128, 160, 192, 224, 256, 320, -1};
    static constexpr int kMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                       64, 80, 96, 112, 128, 144, 160, -1};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return std::nullopt;
    }
    const QByteArray data = f.readAll();
    const auto* b = reinterpret_cast<const unsigned char*>(data.constData());
    const qsizetype size = data.size();
    std::vector<Frame> frames;
    qsizetype pos = 0;
    while (pos < size) {
        const auto fail = [&](const char* what) {
            *error =
                QStringLiteral("%1 at byte %2 (frame %3)").arg(what).arg(pos).arg(frames.size());
            return std::nullopt;
        };
        if (size - pos < 4)
            return fail("trailing bytes");
        if (b[pos] != 0xFF || (b[pos + 1] & 0xE0) != 0xE0)
            return fail("no frame sync");
        Frame fr;
        const int versionBits = (b[pos + 1] >> 3) & 3;
        if (versionBits == 1)
            return fail("reserved MPEG version");
        fr.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
        fr.layer = 4 - ((b[pos + 1] >> 1) & 3);
        const int rateIndex = (b[pos + 2] >> 2) & 3;
        if (rateIndex == 3)
            return fail("reserved sample rate");
        fr.sampleRate = kRates[rateIndex] / (fr.version == 1 ? 1 : fr.version == 2 ? 2 : 4);
        fr.kbps = (fr.version == 1 ? kMpeg1 : kMpeg2)[b[pos + 2] >> 4];
        if (fr.kbps <= 0 || fr.layer != 3)
            return fail("not a Layer III frame with a bit rate");
        const int padding = (b[pos + 2] >> 1) & 1;
        fr.mode = b[pos + 3] >> 6;
        fr.bytes = (fr.version == 1 ? 144000 : 72000) * fr.kbps / fr.sampleRate + padding;
        if (pos + fr.bytes > size)
            return fail("last frame cut short");
        frames.push_back(fr);
        pos += fr.bytes;
    }
    return frames;
}

std::optional<Decoded> decodeMp3(const QString& path, QString* error) {
    static const int init = mpg123_init();
    (void)init;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> h(mpg123_new(nullptr, &err),
                                                               &mpg123_delete);
    if (!h) {
        *error = QString::fromUtf8(mpg123_plain_strerror(err));
        return std::nullopt;
    }
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(h.get());
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h.get(), QFile::encodeName(path).constData()) != MPG123_OK) {
        *error = QString::fromUtf8(mpg123_strerror(h.get()));
        return std::nullopt;
    }
    Decoded d;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        std::size_t done = 0;
        const int rc = mpg123_read(h.get(), buf.data(), buf.size(), &done);
        if (rc == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(h.get(), &d.sampleRate, &d.channels, &encoding);
        }
        const auto* s = reinterpret_cast<const std::int16_t*>(buf.data());
        d.pcm.insert(d.pcm.end(), s, s + done / 2);
        if (rc == MPG123_DONE)
            break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            *error = QString::fromUtf8(mpg123_strerror(h.get()));
            mpg123_close(h.get());
            return std::nullopt;
        }
    }
    mpg123_close(h.get());
    return d;
}

double toneHz(const Decoded& d, int channel) {
    const std::uint64_t n = d.frames();
    const std::uint64_t from = n / 10, to = n - n / 10;
    // Crossings upwards through a band around zero, so coding noise cannot add any.
    constexpr int kBand = 1000;
    int crossings = 0;
    bool below = true;
    std::uint64_t first = 0, last = 0;
    for (std::uint64_t i = from; i < to; ++i) {
        const int v = d.pcm[i * d.channels + channel];
        if (below && v > kBand) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
            below = false;
        } else if (!below && v < -kBand) {
            below = true;
        }
    }
    if (crossings < 2)
        return 0;
    return double(crossings - 1) * d.sampleRate / double(last - first);
}

std::optional<QString> ffmpegComplaints(const QString& path) {
    if (!havePeer(QStringLiteral("ffmpeg")))
        return std::nullopt;
    const PeerRun r = runPeer(QStringLiteral("ffmpeg"),
                              {QStringLiteral("-nostdin"), QStringLiteral("-v"),
                               QStringLiteral("error"), QStringLiteral("-i"), path,
                               QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    if (!r.finished)
        return QStringLiteral("ffmpeg did not finish");
    QString complaints = QString::fromUtf8(r.err).trimmed();
    if (r.exitCode != 0)
        complaints += QStringLiteral(" (exit code %1)").arg(r.exitCode);
    return complaints;
}

std::string failureText(const Status& status) {
    return status ? std::string() : status.error().text().toStdString();
}

} // namespace quaverly::test
