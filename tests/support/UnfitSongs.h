#pragma once
// Files the program cannot take as songs, one of each kind a user meets, for the tests that pin
// the texts which say so, in the window and on the command line alike; beside them a 3-channel
// WAV, which is read and mixed down to stereo, and a plain tone.

#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDir>

namespace quaverly::test {

// Writes into `dir`: notes.mp3, notes.txt and notes.flac (words, no sound), empty.mp3 (no bytes
// at all), three.wav (3 channels of 24 bits: decoded and mixed down to stereo), short.mp3 (a real
// MP3 without its last 100 bytes: the length found when it is opened counts sound that decoding
// cannot deliver, so decoding stops early) and tone.wav (a plain mono staircase).
inline bool writeUnfitSongs(const QString& dir) {
    const QDir d(dir);
    const QByteArray words = QByteArray("no sound in here at all, just words\n").repeated(50);
    const QByteArray mp3 = readFile(quaverly::test::dataPath("/real/mp3/edge/cbr.mp3"));
    return !mp3.isEmpty() && writeFile(d.filePath("notes.mp3"), words) &&
           writeFile(d.filePath("notes.txt"), words) &&
           writeFile(d.filePath("notes.flac"), words) &&
           writeFile(d.filePath("empty.mp3"), QByteArray()) &&
           writeFile(d.filePath("three.wav"),
                     wavBytes(WavHeader::pcm(3, 8000, 24), words.constData(), 900)) &&
           writeFile(d.filePath("short.mp3"), mp3.chopped(100)) &&
           writeWav16(d.filePath("tone.wav"), 1, 8000, staircase(800, 1));
}

} // namespace quaverly::test
