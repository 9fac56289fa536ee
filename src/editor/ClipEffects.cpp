#include "editor/ClipEffects.h"

#include "engines/util/CodeTable.h"
#include "engines/util/SameFile.h"
#include "engines/wav/SampleReader.h"
#include "engines/wav/WavWriter.h"

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

// One block of the clip: its bytes as they are in the file and, when asked for, its samples as
// levels (16-bit samples as they are; 8-bit ones, which the reader gives times 256, as their
// stored byte less 128).
struct Block {
    qint64 frames = 0;
    std::vector<char> raw;
    std::vector<std::int16_t> samples;
    std::vector<int> levels;
};

// Reads the next block into `b`; b.frames is 0 at the end.
Status readBlock(SampleReader& reader, Block& b) {
    b.raw.resize(std::size_t(kBlockFrames) * reader.layout().blockAlign);
    const auto got = reader.readRaw(b.raw.data(), std::size_t(kBlockFrames));
    if (!got)
        return got.error();
    b.frames = qint64(*got);
    b.raw.resize(*got * reader.layout().blockAlign);
    return {};
}

void takeLevels(const WavLayout& l, Block& b) {
    const std::size_t n = std::size_t(b.frames) * l.channels;
    b.samples.resize(n);
    pcm::toShorts(b.raw.data(), n, l.bitsPerSample, b.samples.data());
    b.levels.resize(n);
    const int shift = l.bitsPerSample == 8 ? 8 : 0;
    for (std::size_t i = 0; i < n; ++i)
        b.levels[i] = b.samples[i] >> shift;
}

struct Ebur128Destroyer {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Ebur128Ptr = std::unique_ptr<ebur128_state, Ebur128Destroyer>;

constexpr std::pair<int, const char*> kEbur128Causes[] = {
    {EBUR128_ERROR_NOMEM, "out of memory while measuring the loudness"},
    {EBUR128_ERROR_INVALID_MODE, "the loudness meter was not set up to measure this"},
    {EBUR128_ERROR_INVALID_CHANNEL_INDEX, "the loudness meter does not know one of the channels"},
};

QString ebur128Cause(int code) {
    return codeText(kEbur128Causes, code, "the loudness meter failed (error %1)");
}

// The clip as the fades leave it: its largest absolute sample, and its integrated loudness when
// asked for.
struct Measured {
    double peak = 0;
    double lufs = kMinusInf;
};

Error cancelled(const QString& file) {
    return Error(file, QStringLiteral("cancelled"));
}

Status measure(SampleReader& reader, const Fades& fades, bool loudness, double unit, Measured* m,
               const WorkProgress& progress) {
    const WavLayout& l = reader.layout();
    Ebur128Ptr meter;
    if (loudness) {
        // The integrated mode keeps one number per 100 ms of sound: 2 MB for the largest WAV file.
        meter.reset(ebur128_init(l.channels, l.sampleRate, EBUR128_MODE_I));
        if (!meter)
            return Error(reader.path(), QStringLiteral("cannot measure the loudness of %1 "
                                                       "channels at %2 Hz")
                                            .arg(l.channels)
                                            .arg(l.sampleRate));
    }
    Block block;
    std::vector<double> scaled;
    for (qint64 frame = 0;; frame += block.frames) {
        progress.report(std::uint64_t(frame), std::uint64_t(fades.frames));
        if (progress.stopped())
            return cancelled(reader.path());
        if (Status s = readBlock(reader, block); !s)
            return s;
        if (block.frames == 0)
            break;
        takeLevels(l, block);
        scaled.resize(block.levels.size());
        for (qint64 i = 0; i < block.frames; ++i) {
            const double g = fades.gain(frame + i);
            for (std::size_t c = 0; c < l.channels; ++c) {
                const std::size_t k = std::size_t(i) * l.channels + c;
                const double v = double(block.levels[k]) * g; // as the writing pass computes it
                m->peak = std::max(m->peak, std::abs(v));
                scaled[k] = v * unit;
            }
        }
        if (meter) {
            if (const int rc =
                    ebur128_add_frames_double(meter.get(), scaled.data(), size_t(block.frames));
                rc != EBUR128_SUCCESS)
                return Error(reader.path(), ebur128Cause(rc));
        }
    }
    if (meter) {
        if (const int rc = ebur128_loudness_global(meter.get(), &m->lufs); rc != EBUR128_SUCCESS)
            return Error(reader.path(), ebur128Cause(rc));
    }
    return reader.seek(0);
}

// The normalising gain the effects ask for, from a measuring pass over the clip; fills in what
// `r` tells of the normalising. Sets *silent for a clip of nothing but zeros.
Status normalisingGain(SampleReader& reader, const ClipEffects& e, const Fades& fades,
                       EffectsOutcome& r, double* gain, bool* silent,
                       const WorkProgress& progress) {
    const WavLayout& l = reader.layout();
    const bool eightBit = l.bitsPerSample == 8;
    const int fullScale = eightBit ? 127 : 32767;           // 0 dBFS
    const double unit = eightBit ? 1.0 / 128 : 1.0 / 32768; // to +-1, as libsndfile reads them
    const bool loudness = e.normalise == ClipEffects::Normalise::Loudness;
    Measured m;
    if (Status s = measure(reader, fades, loudness, unit, &m, progress); !s)
        return s;
    r.peakDbfs = m.peak > 0 ? 20 * std::log10(m.peak / fullScale) : kMinusInf;
    r.loudnessLufs = m.lufs;
    r.target = loudness ? e.loudnessLufs : e.peakDbfs;
    *silent = m.peak == 0;
    if (*silent) {
        r.level = EffectsOutcome::Level::Silent;
    } else if (!loudness) {
        const double level = std::floor(fullScale * std::pow(10.0, e.peakDbfs / 20) + 0.5);
        if (level < 1)
            return Error(reader.path(),
                         QStringLiteral("%1 dBFS is below the smallest step of its %2-bit samples")
                             .arg(e.peakDbfs, 0, 'f', 1)
                             .arg(l.bitsPerSample));
        *gain = level / m.peak;
        r.level = EffectsOutcome::Level::Reached;
    } else if (!std::isfinite(m.lufs)) {
        r.level = EffectsOutcome::Level::Unmeasurable;
    } else {
        const double wanted = std::pow(10.0, (e.loudnessLufs - m.lufs) / 20);
        const double allowed = fullScale / m.peak; // the largest sample at full scale
        *gain = std::min(wanted, allowed);
        r.level = wanted > allowed ? EffectsOutcome::Level::LimitedByPeak
                                   : EffectsOutcome::Level::Reached;
    }
    r.gainDb = 20 * std::log10(*gain);
    return {};
}

// The writing pass: every sample through the fades and the gain into `out`.
Status writeClip(SampleReader&& reader, const QString& out, const Fades& fades, double gain,
                 const WorkProgress& progress) {
    const WavLayout& l = reader.layout();
    const bool eightBit = l.bitsPerSample == 8;
    const int fullScale = eightBit ? 127 : 32767;
    const int lowest = -fullScale - 1;
    const int shift = eightBit ? 8 : 0;
    WavWriter writer(out);
    if (Status opened = writer.open(l.header()); !opened)
        return opened;
    Block block;
    std::vector<char> bytes;
    for (qint64 frame = 0;; frame += block.frames) {
        progress.report(std::uint64_t(frame), std::uint64_t(fades.frames));
        if (progress.stopped())
            return cancelled(out);
        if (Status s = readBlock(reader, block); !s)
            return s;
        if (block.frames == 0)
            break;
        // Between the fades, a gain of 1 leaves every sample as it is.
        if (gain == 1.0 && frame >= fades.in && frame + block.frames <= fades.frames - fades.out) {
            if (Status written = writer.write(block.raw.data(), qint64(block.raw.size())); !written)
                return written;
            continue;
        }
        takeLevels(l, block);
        for (qint64 i = 0; i < block.frames; ++i) {
            const double g = fades.gain(frame + i);
            for (std::size_t c = 0; c < l.channels; ++c) {
                const std::size_t k = std::size_t(i) * l.channels + c;
                const double v = double(block.levels[k]) * g;
                const long s = std::clamp(std::lround(v * gain), long(lowest), long(fullScale));
                block.samples[k] = std::int16_t(s * (1 << shift));
            }
        }
        bytes.resize(block.raw.size());
        pcm::fromShorts(block.samples.data(), block.samples.size(), l.bitsPerSample, bytes.data());
        if (Status written = writer.write(bytes.data(), qint64(bytes.size())); !written)
            return written;
    }
    { const SampleReader done = std::move(reader); } // closes the file `out` may replace
    // The last chance to leave `out` as it was: finish() puts the file in place.
    if (progress.stopped())
        return cancelled(out);
    return writer.finish();
}

QString dbText(double db) {
    return QString::asprintf("%+.1f dB", db);
}

} // namespace

Status checkClipEffects(const ClipEffects& e) {
    const auto refused = [](const QString& cause) { return Error(QString(), cause); };
    if (e.fadeInMs < 0 || e.fadeOutMs < 0)
        return refused(QStringLiteral("a fade cannot be shorter than 0 ms"));
    if (e.normalise == ClipEffects::Normalise::Peak &&
        !(std::isfinite(e.peakDbfs) && e.peakDbfs <= 0))
        return refused(QStringLiteral("the peak level must be a number of dBFS, at most 0"));
    if (e.normalise == ClipEffects::Normalise::Loudness &&
        !(std::isfinite(e.loudnessLufs) && e.loudnessLufs <= 0 && e.loudnessLufs >= kLowestLufs))
        return refused(QStringLiteral("the loudness must be a number of LUFS from -70 to 0"));
    return {};
}

Result<EffectsOutcome> applyClipEffects(const QString& in, const QString& out, const ClipEffects& e,
                                        const WorkProgress& progress) {
    if (Status checked = checkClipEffects(e); !checked)
        return checked.error();
    auto reader = SampleReader::openPlain(in);
    if (!reader)
        return reader.error();
    EffectsOutcome r;
    r.normalise = e.normalise;
    const Fades fades = planFades(e, reader->sampleRate(), reader->frames());
    r.fadeInFrames = fades.in;
    r.fadeOutFrames = fades.out;
    double gain = 1.0;
    bool silent = false;
    const bool normalising = e.normalise != ClipEffects::Normalise::Off;
    const std::uint64_t passes = normalising ? 2 : 1;
    if (normalising) {
        if (Status s =
                normalisingGain(*reader, e, fades, r, &gain, &silent, progress.step(0, 1, passes));
            !s)
            return s.error();
    }
    const bool changes = !silent && (gain != 1.0 || fades.in > 0 || fades.out > 0);
    if (!changes && sameFile(in, out)) {
        r.result = EffectsOutcome::Unchanged;
        progress.report(1, 1);
        return r;
    }
    const WorkProgress writing = progress.step(passes - 1, 1, passes);
    if (Status s = writeClip(std::move(*reader), out, fades, gain, writing); !s)
        return s.error();
    writing.report(1, 1);
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
