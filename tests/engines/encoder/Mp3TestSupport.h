#pragma once
// Shared by the encoder tests: sine sources in several WAV layouts, an MPEG audio frame walker,
// a gapless decoder (libmpg123, the library behind `mpg123 -w`) and a frequency estimate.

#include "engines/encoder/Mp3Encode.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quaverly::test {

struct Sine {
    int sampleRate = 44100;
    int channels = 2;
    std::uint64_t frames = 44100;
    double leftHz = 440;  // mono sources carry this one
    double rightHz = 660; // a different tone, so swapped or mixed channels show
};

// The 44-byte canonical PCM WAV, 16-bit, as the program's working copies are.
void writeCanonicalWav(const QString& path, const Sine& sine);
// Any layout libsndfile writes, e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_WAVEX | ...
void writeSndfileWav(const QString& path, const Sine& sine, int sfFormat);

struct Frame {
    int version = 0; // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int layer = 0;
    int kbps = 0;
    int sampleRate = 0;
    int mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int bytes = 0;
};
// Walks the frames of an MP3 file that starts with a frame (no ID3v2 tag) and must consist of
// whole frames to its last byte; nullopt with *error when it does not.
std::optional<std::vector<Frame>> readFrames(const QString& path, QString* error);

struct Decoded {
    long sampleRate = 0;
    int channels = 0;
    std::vector<std::int16_t> pcm; // interleaved
    std::uint64_t frames() const { return channels ? pcm.size() / channels : 0; }
};
// Decodes with libmpg123's default (gapless) settings to 16-bit; nullopt with *error on failure.
std::optional<Decoded> decodeMp3(const QString& path, QString* error);

// Frequency of a tone in one channel, from its zero crossings over the middle 80%.
double toneHz(const Decoded& d, int channel);

// Runs ffmpeg on the file and returns its complaints ("" when it decodes cleanly); nullopt when
// there is no ffmpeg.
std::optional<QString> ffmpegComplaints(const QString& path);

// The failure's Error as text for a test's message; empty on success.
std::string failureText(const Status& status);

} // namespace quaverly::test
