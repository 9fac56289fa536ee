#pragma once
// Fades and normalising for a clip: applied to an 8 or 16-bit PCM WAV file (a working copy, or a
// cut just made) by streaming it in blocks, so memory stays small whatever the file's size.
//
// Fades are linear in amplitude. Frame i of a fade-in of N frames gets the gain i / N: exactly 0
// at the clip's first frame, rising to 1 at frame N, the first frame after the fade. A fade-out
// of N frames is its mirror image: frame L-1-i of a clip of L frames gets i / N, so the clip's
// last frame is exactly 0. Fade lengths are milliseconds at the file's rate, rounded to the
// nearest frame (a half rounds up). Fades longer than the clip are shortened: one fade alone
// takes the whole clip; two that together would overlap share it in proportion to the lengths
// asked for, the fade-in ending where the fade-out begins.
//
// Sample levels: 0 dBFS is the largest positive sample (32767 at 16 bits, 127 at 8 bits; an 8-bit
// sample is its stored byte less 128). Every output sample is computed once from the input
// sample, the fade's gain and the normalising gain, rounded to the nearest integer (a half away
// from zero, so positive and negative samples are treated alike) and kept within the sample
// range.
//
// Normalising measures the clip as the fades leave it, then applies one gain:
// - Peak: the largest absolute sample becomes exactly the target level's sample value, the
//   target's amplitude times the largest positive sample, rounded to the nearest integer
//   (-1 dBFS: 29204 at 16 bits, 113 at 8 bits).
// - Loudness: the integrated loudness (EBU R128, measured by libebur128) is brought to the
//   target, unless that would take a sample past full scale: the gain is then what brings the
//   largest sample to full scale, and the outcome says the target was not reached.
// A silent clip (every sample 0) is left as it is. A clip whose loudness cannot be measured
// (shorter than the 400 ms of one measuring block, or quieter than -70 LUFS throughout) is not
// normalised; its fades are still applied.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

namespace quaverly {

struct ClipEffects {
    enum class Normalise { Off, Peak, Loudness };

    qint64 fadeInMs = 0; // 0: no fade-in
    qint64 fadeOutMs = 0;
    Normalise normalise = Normalise::Off;
    double peakDbfs = -1.0;      // Peak: the level of the largest sample, at most 0 dBFS
    double loudnessLufs = -14.0; // Loudness: the integrated loudness, at most 0 LUFS

    bool any() const { return fadeInMs > 0 || fadeOutMs > 0 || normalise != Normalise::Off; }
};

// What applying the effects found and did.
struct EffectsOutcome {
    enum Result {
        Applied,   // the file was rewritten
        Unchanged, // nothing to change: the file was not touched
    };
    enum class Level {
        NotAsked,      // normalising was off
        Reached,       // the target level is met
        LimitedByPeak, // Loudness: the gain stopped where the largest sample reaches full scale
        Silent,        // every sample is 0: nothing to normalise
        Unmeasurable,  // Loudness: too short or too quiet to measure
    };

    Result result = Unchanged;
    ClipEffects::Normalise normalise = ClipEffects::Normalise::Off; // as asked
    double target = 0; // the target asked for: dBFS (Peak) or LUFS (Loudness)
    Level level = Level::NotAsked;
    // When normalising: the largest sample before the gain, dBFS (-inf when silent), and with
    // Loudness, the integrated loudness before the gain (-inf when it cannot be measured).
    double peakDbfs = 0;
    double loudnessLufs = 0;
    double gainDb = 0;       // the normalising gain applied
    qint64 fadeInFrames = 0; // the fades as applied, after shortening to the clip
    qint64 fadeOutFrames = 0;

    // One line for the user about the normalising ("" when it was not asked for).
    QString summary() const;
};

// Fails, naming no file, when the options cannot be applied (negative fades, a target that is
// not a number or above 0 dB).
Status checkClipEffects(const ClipEffects& effects);

// Applies `effects` to the PCM WAV file `in` and writes the result to `out` through an
// AtomicFile, with the 44-byte header (the working copies' layout). `out` may be `in`: the file
// is then rewritten in place, and left untouched when nothing would change. When they differ,
// `out` is always written. On failure `out` is as it was and nothing is left behind; the Error
// names `in` for a read or a measurement, `out` for a write. A stop requested through `progress`
// is such a failure ("cancelled", naming `out`); the progress counts the frames of each pass
// over the file (two when normalising: the measuring and the writing).
Result<EffectsOutcome> applyClipEffects(const QString& in, const QString& out,
                                        const ClipEffects& effects,
                                        const WorkProgress& progress = {});

inline Result<EffectsOutcome> applyClipEffects(const QString& wav, const ClipEffects& effects) {
    return applyClipEffects(wav, wav, effects);
}

} // namespace quaverly
