#!/usr/bin/env python3
"""The tones heard in a recording, in order, and its dropouts: walk-tones.py FILE

FILE is a WAV file, or raw signed 16-bit little-endian PCM at 44.1 kHz stereo (what
`parec --raw --format=s16le --rate=44100 --channels=2` writes). Its first channel is read in
50 ms windows: a window is silent below -40 dBFS, else its pitch comes from its zero crossings
(the tones here are pure sines). Runs of windows of one pitch, within 3 %, make a segment; the
windows where one tone gives way to the next, shorter than 0.15 s, go to neither. Prints:
    tone START_S LENGTH_S FREQ_HZ LEVEL_DBFS
    silence START_S LENGTH_S
    dropout AT_S LENGTH_MS       (digital silence of 1 to 50 ms inside a tone, not at its ends)
"""
import math
import sys
import wave
from array import array

WINDOW_S = 0.05
SILENT_DBFS = -40.0
SHORTEST_S = 0.15
DROPOUT_S = (0.001, 0.05)


def read(path):
    """The first channel's samples and the rate."""
    if path.lower().endswith(".wav"):
        with wave.open(path, "rb") as w:
            if w.getsampwidth() != 2:
                sys.exit(f"{path}: only 16-bit WAV is read")
            rate, channels, data = w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())
    else:
        rate, channels = 44100, 2
        with open(path, "rb") as f:
            data = f.read()
    samples = array("h")
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples[0::channels], rate


def windows(samples, rate):
    n = int(rate * WINDOW_S)
    for start in range(0, len(samples) - n + 1, n):
        w = samples[start:start + n]
        power = sum(s * s for s in w) / n
        dbfs = 10 * math.log10(power / 32768.0**2) if power > 0 else -200.0
        # The crossings' times, between the samples either side; from the first to the last,
        # (crossings - 1) half periods.
        times = [i + a / (a - b) for i, (a, b) in enumerate(zip(w, w[1:])) if (a < 0) != (b < 0)]
        if dbfs < SILENT_DBFS or len(times) < 3:
            yield None, dbfs
        else:
            yield (len(times) - 1) / 2 / ((times[-1] - times[0]) / rate), dbfs


def same(a, b):
    if a is None or b is None:
        return a is None and b is None
    return abs(a - b) <= 0.03 * max(a, b)


class Run:
    """Windows side by side of one pitch (None: silent)."""

    def __init__(self, first, pitch, dbfs):
        self.first, self.count = first, 1
        self.sounding, self.pitches, self.levels = (0, 0.0, 0.0) if pitch is None else (1, pitch, dbfs)

    def pitch(self):
        return self.pitches / self.sounding if self.sounding else None

    def take(self, other):
        self.count = other.first + other.count - self.first
        self.sounding += other.sounding
        self.pitches += other.pitches
        self.levels += other.levels


def segments(samples, rate):
    runs = []
    for i, (pitch, dbfs) in enumerate(windows(samples, rate)):
        if runs and same(pitch, runs[-1].pitch()):
            runs[-1].take(Run(i, pitch, dbfs))
        else:
            runs.append(Run(i, pitch, dbfs))
    # The short runs between two tones go; what is left of one kind joins up.
    kept = []
    for run in runs:
        if run.count * WINDOW_S < SHORTEST_S:
            continue
        if kept and same(run.pitch(), kept[-1].pitch()):
            kept[-1].take(run)
        else:
            kept.append(run)
    return kept


def dropouts(samples, rate):
    """Runs of exact zeros inside the sound."""
    lo, hi = int(DROPOUT_S[0] * rate), int(DROPOUT_S[1] * rate)
    i, n = 0, len(samples)
    while i < n:
        if samples[i] != 0:
            i += 1
            continue
        j = i
        while j < n and samples[j] == 0:
            j += 1
        if i > 0 and j < n and lo <= j - i < hi:
            yield i / rate, (j - i) / rate * 1000
        i = j


def main():
    samples, rate = read(sys.argv[1])
    runs = segments(samples, rate)
    for run in runs:
        where = f"{run.first * WINDOW_S:.2f} {run.count * WINDOW_S:.2f}"
        if run.sounding:
            print("tone", where, round(run.pitch()), f"{run.levels / run.sounding:.1f}")
        else:
            print("silence", where)
    # Inside a tone: where one song gives way to the next, a gap is no dropout.
    inside = [((r.first + 2) * WINDOW_S, (r.first + r.count - 2) * WINDOW_S) for r in runs if r.sounding]
    for at, ms in dropouts(samples, rate):
        if any(a < at < b for a, b in inside):
            print(f"dropout {at:.3f} {ms:.1f}")


if __name__ == "__main__":
    main()
