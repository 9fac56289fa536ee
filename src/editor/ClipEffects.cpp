#include "editor/ClipEffects.h"

#include "engines/mci/MciWav.h"
#include "engines/wav/WavHeader.h"
#include "engines/wav/WavWriter.h"

#include <QFile>
#include <QFileInfo>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace quaverly {
namespace {

// Linear fades rather than equal-power ones: equal power keeps the sum of two overlapping
// sounds steady in a cross-fade, but a clip fades from and to silence, where nothing overlaps;
// a linear ramp is what the ear expects of a fade in an editor, and its every gain is exact.

constexpr qint64 kBlockFrames = 16384;
constexpr double kMinusInf = -std::numeric_limits<double>::infinity();
constexpr double kLowestLufs = -70.0; // loudness measuring ignores everything quieter

// The fades of one clip, in frames.
struct Fades {
    qint64 frames = 0;
    qint64 in = 0;
    qint64 out = 0;

    double gain(qint64 i) const {
        if (i < in)
            return double(i) / double(in);
        const qint64 fromEnd = frames - 1 - i;
        if (fromEnd < out)
            return double(fromEnd) / double(out);
        return 1.0;
    }
};

// Milliseconds to the nearest frame (a half rounds up), at most `limit`.
qint64 msToFrames(qint64 ms, std::uint32_t rate, qint64 limit) {
    const double f = std::floor(double(ms) * double(rate) / 1000.0 + 0.5);
    return f >= double(limit) ? limit : qint64(f);
}

Fades planFades(const ClipEffects& e, std::uint32_t rate, qint64 frames) {
    Fades f{frames, msToFrames(e.fadeInMs, rate, frames), msToFrames(e.fadeOutMs, rate, frames)};
    if (f.in + f.out > frames) { // both asked, and they overlap: share the clip as asked
        const double share = double(e.fadeInMs) / (double(e.fadeInMs) + double(e.fadeOutMs));
        f.in = std::min(frames, qint64(std::floor(double(frames) * share + 0.5)));
        f.out = frames - f.in;
    }
    return f;
}

// The samples of a plain PCM WAV file, block by block, as signed integers: 16-bit ones as they
// are, 8-bit ones (stored unsigned) less 128.
class SampleReader {
public:
    bool open(const QString& path, QString* error) {
        file_.setFileName(path);
        if (!file_.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(path, file_.errorString());
            return false;
        }
        QString cause;
        const auto layout = probeWav(file_, &cause);
        if (!layout) {
            *error = QStringLiteral("%1: %2").arg(path, cause);
            return false;
        }
        if (!mciwav::isPlainPcm(*layout)) {
            *error = QStringLiteral("%1: not an 8 or 16-bit PCM WAV file").arg(path);
            return false;
        }
        layout_ = *layout;
        return rewind(error);
    }

    const WavLayout& layout() const { return layout_; }
    qint64 frames() const { return qint64(layout_.dataSize / layout_.blockAlign); }

    bool rewind(QString* error) {
        done_ = 0;
        if (file_.seek(qint64(layout_.dataOffset)))
            return true;
        *error = QStringLiteral("%1: %2").arg(file_.fileName(), file_.errorString());
        return false;
    }

    // Reads the next block, interleaved, into `samples`: the frames read, 0 at the end, or -1 with
    // *error set.
    qint64 next(std::vector<int>& samples, QString* error) {
        const std::uint64_t want =
            std::min<std::uint64_t>(layout_.dataSize - done_, kBlockFrames * layout_.blockAlign);
        raw_.resize(want);
        const qint64 got = want == 0 ? 0 : file_.read(raw_.data(), qint64(want));
        if (got < 0) {
            *error = QStringLiteral("%1: %2").arg(file_.fileName(), file_.errorString());
            return -1;
        }
        if (std::uint64_t(got) != want) {
            *error = QStringLiteral("%1: the file ended before its sound did (it changed while "
                                    "being read)")
                         .arg(file_.fileName());
            return -1;
        }
        done_ += want;
        if (layout_.bitsPerSample == 8) {
            samples.resize(want);
            for (std::size_t i = 0; i < want; ++i)
                samples[i] = int(std::uint8_t(raw_[i])) - 128;
        } else {
            samples.resize(want / 2);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = std::int16_t(std::uint16_t(std::uint8_t(raw_[2 * i])) |
                                          std::uint16_t(std::uint8_t(raw_[2 * i + 1]) << 8));
        }
        return qint64(want / layout_.blockAlign);
    }

    // The bytes of the last block, as they are in the file.
    const std::vector<char>& raw() const { return raw_; }
    void close() { file_.close(); }

private:
    QFile file_;
    WavLayout layout_;
    std::uint64_t done_ = 0;
    std::vector<char> raw_;
};

struct Ebur128Destroyer {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Ebur128Ptr = std::unique_ptr<ebur128_state, Ebur128Destroyer>;

QString ebur128Cause(int code) {
    switch (code) {
    case EBUR128_ERROR_NOMEM:
        return QStringLiteral("out of memory while measuring the loudness");
    case EBUR128_ERROR_INVALID_MODE:
        return QStringLiteral("the loudness meter was not set up to measure this");
    case EBUR128_ERROR_INVALID_CHANNEL_INDEX:
        return QStringLiteral("the loudness meter does not know one of the channels");
    default:
        return QStringLiteral("the loudness meter failed (error %1)").arg(code);
    }
}

// The clip as the fades leave it: its largest absolute sample, and its integrated loudness when
// asked for.
struct Measured {
    double peak = 0;
    double lufs = kMinusInf;
};

bool measure(const QString& path, SampleReader& reader, const Fades& fades, bool loudness,
             double unit, Measured* m, QString* error) {
    const WavLayout& l = reader.layout();
    Ebur128Ptr meter;
    if (loudness) {
        // The integrated mode keeps one number per 100 ms of sound: 2 MB for the largest WAV file.
        meter.reset(ebur128_init(l.channels, l.sampleRate, EBUR128_MODE_I));
        if (!meter) {
            *error = QStringLiteral("%1: cannot measure the loudness of %2 channels at %3 Hz")
                         .arg(path)
                         .arg(l.channels)
                         .arg(l.sampleRate);
            return false;
        }
    }
    std::vector<int> samples;
    std::vector<double> scaled;
    qint64 frame = 0;
    for (;;) {
        const qint64 got = reader.next(samples, error);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        scaled.resize(samples.size());
        for (qint64 i = 0; i < got; ++i) {
            const double g = fades.gain(frame + i);
            for (std::size_t c = 0; c < l.channels; ++c) {
                const std::size_t k = std::size_t(i) * l.channels + c;
                const double v = double(samples[k]) * g; // as the writing pass computes it
                m->peak = std::max(m->peak, std::abs(v));
                scaled[k] = v * unit;
            }
        }
        if (meter) {
            if (const int rc = ebur128_add_frames_double(meter.get(), scaled.data(), size_t(got));
                rc != EBUR128_SUCCESS) {
                *error = QStringLiteral("%1: %2").arg(path, ebur128Cause(rc));
                return false;
            }
        }
        frame += got;
    }
    if (meter) {
        if (const int rc = ebur128_loudness_global(meter.get(), &m->lufs); rc != EBUR128_SUCCESS) {
            *error = QStringLiteral("%1: %2").arg(path, ebur128Cause(rc));
            return false;
        }
    }
    return reader.rewind(error);
}

// Whether `in` and `out` name the same file.
bool sameFile(const QString& in, const QString& out) {
    const QString a = QFileInfo(in).canonicalFilePath();
    return !a.isEmpty() && a == QFileInfo(out).canonicalFilePath();
}

QString dbText(double db) {
    return QString::asprintf("%+.1f dB", db);
}

} // namespace

QString checkClipEffects(const ClipEffects& e) {
    if (e.fadeInMs < 0 || e.fadeOutMs < 0)
        return QStringLiteral("a fade cannot be shorter than 0 ms");
    if (e.normalise == ClipEffects::Normalise::Peak &&
        !(std::isfinite(e.peakDbfs) && e.peakDbfs <= 0))
        return QStringLiteral("the peak level must be a number of dBFS, at most 0");
    if (e.normalise == ClipEffects::Normalise::Loudness &&
        !(std::isfinite(e.loudnessLufs) && e.loudnessLufs <= 0 && e.loudnessLufs >= kLowestLufs))
        return QStringLiteral("the loudness must be a number of LUFS from -70 to 0");
    return {};
}

EffectsOutcome applyClipEffects(const QString& in, const QString& out, const ClipEffects& e) {
    EffectsOutcome r;
    r.normalise = e.normalise;
    if (const QString bad = checkClipEffects(e); !bad.isEmpty()) {
        r.error = bad;
        return r;
    }
    SampleReader reader;
    if (!reader.open(in, &r.error))
        return r;
    const WavLayout& l = reader.layout();
    const bool eightBit = l.bitsPerSample == 8;
    const int fullScale = eightBit ? 127 : 32767;           // 0 dBFS
    const double unit = eightBit ? 1.0 / 128 : 1.0 / 32768; // to +-1, as libsndfile reads them
    const Fades fades = planFades(e, l.sampleRate, reader.frames());
    r.fadeInFrames = fades.in;
    r.fadeOutFrames = fades.out;

    double gain = 1.0;
    bool silent = false;
    if (e.normalise != ClipEffects::Normalise::Off) {
        const bool loudness = e.normalise == ClipEffects::Normalise::Loudness;
        Measured m;
        if (!measure(in, reader, fades, loudness, unit, &m, &r.error))
            return r;
        r.peakDbfs = m.peak > 0 ? 20 * std::log10(m.peak / fullScale) : kMinusInf;
        r.loudnessLufs = m.lufs;
        r.target = loudness ? e.loudnessLufs : e.peakDbfs;
        silent = m.peak == 0;
        if (silent) {
            r.level = EffectsOutcome::Level::Silent;
        } else if (!loudness) {
            const double level = std::floor(fullScale * std::pow(10.0, e.peakDbfs / 20) + 0.5);
            if (level < 1) {
                r.error = QStringLiteral("%1: %2 dBFS is below the smallest step of its %3-bit "
                                         "samples")
                              .arg(in)
                              .arg(e.peakDbfs, 0, 'f', 1)
                              .arg(l.bitsPerSample);
                return r;
            }
            gain = level / m.peak;
            r.level = EffectsOutcome::Level::Reached;
        } else if (!std::isfinite(m.lufs)) {
            r.level = EffectsOutcome::Level::Unmeasurable;
        } else {
            const double wanted = std::pow(10.0, (e.loudnessLufs - m.lufs) / 20);
            const double allowed = fullScale / m.peak; // the largest sample at full scale
            gain = std::min(wanted, allowed);
            r.level = wanted > allowed ? EffectsOutcome::Level::LimitedByPeak
                                       : EffectsOutcome::Level::Reached;
        }
        r.gainDb = 20 * std::log10(gain);
    }

    const bool changes = !silent && (gain != 1.0 || fades.in > 0 || fades.out > 0);
    if (!changes && sameFile(in, out)) {
        r.result = EffectsOutcome::Unchanged;
        return r;
    }

    WavWriter writer(out);
    if (!writer.open(l.header(), &r.error))
        return r;
    std::vector<int> samples;
    std::vector<char> bytes;
    const int lowest = -fullScale - 1;
    qint64 frame = 0;
    for (;;) {
        const qint64 got = reader.next(samples, &r.error);
        if (got < 0)
            return r;
        if (got == 0)
            break;
        // Between the fades, a gain of 1 leaves every sample as it is.
        if (gain == 1.0 && frame >= fades.in && frame + got <= fades.frames - fades.out) {
            if (!writer.write(reader.raw().data(), qint64(reader.raw().size()), &r.error))
                return r;
            frame += got;
            continue;
        }
        bytes.resize(samples.size() * (eightBit ? 1 : 2));
        for (qint64 i = 0; i < got; ++i) {
            const double g = fades.gain(frame + i);
            for (std::size_t c = 0; c < l.channels; ++c) {
                const std::size_t k = std::size_t(i) * l.channels + c;
                const double v = double(samples[k]) * g;
                const long s = std::clamp(std::lround(v * gain), long(lowest), long(fullScale));
                if (eightBit) {
                    bytes[k] = char(std::uint8_t(s + 128));
                } else {
                    bytes[2 * k] = char(std::uint8_t(s & 0xFF));
                    bytes[2 * k + 1] = char(std::uint8_t((s >> 8) & 0xFF));
                }
            }
        }
        if (!writer.write(bytes.data(), qint64(bytes.size()), &r.error))
            return r;
        frame += got;
    }
    reader.close();
    if (!writer.finish(&r.error))
        return r;
    r.result = EffectsOutcome::Applied;
    return r;
}

QString EffectsOutcome::summary() const {
    const bool loudness = normalise == ClipEffects::Normalise::Loudness;
    const QString unit = loudness ? QStringLiteral("LUFS") : QStringLiteral("dBFS");
    const double before = loudness ? loudnessLufs : peakDbfs;
    switch (level) {
    case Level::NotAsked:
        return {};
    case Level::Reached:
        return QStringLiteral("%1 normalised to %2 %3 (it was %4 %3; gain %5)")
            .arg(loudness ? QStringLiteral("Loudness") : QStringLiteral("Peak"))
            .arg(target, 0, 'f', 1)
            .arg(unit)
            .arg(before, 0, 'f', 1)
            .arg(dbText(gainDb));
    case Level::LimitedByPeak:
        return QStringLiteral("Loudness target %1 LUFS not reached: the peak allows a gain of %2 "
                              "only, which gives about %3 LUFS (it was %4 LUFS)")
            .arg(target, 0, 'f', 1)
            .arg(dbText(gainDb))
            .arg(loudnessLufs + gainDb, 0, 'f', 1)
            .arg(loudnessLufs, 0, 'f', 1);
    case Level::Silent:
        return QStringLiteral("The clip is silent: nothing to normalise");
    case Level::Unmeasurable:
        return QStringLiteral("The clip's loudness cannot be measured (it is shorter than 0.4 s "
                              "or quieter than -70 LUFS): not normalised");
    }
    return {};
}

} // namespace quaverly
