#pragma once
// Decodes a song (an MP3, or any file the sound layer reads) into a PCM WAV file with the
// 44-byte header, block by block, so a long song never freezes the window.

#include "engines/wav/WavHeader.h"

#include <QString>

#include <functional>

namespace quaverly {

struct DecodeOutcome {
    bool ok = false;
    int soundError = 0; // the sound layer's error code when it refused the source, else 0
    QString error;      // what went wrong, naming the file
    QString cause;      // when the sound layer refused the source: its own words, else empty
    WavHeader header;   // the header written, when ok
};

// Not thread-safe: one decoder per thread; the window uses one on the UI thread.
class SongDecoder {
public:
    static constexpr unsigned kBlockBytes = 20000;

    // Starts the sound layer for decoding (no sound device needed), opens `source`, writes its
    // PCM to `target` and releases the layer again. `target` is written under a temporary name
    // and renamed into place when complete, so an older file there is replaced whole, never
    // overwritten in part, and survives a failure. A decode that stops before the length the
    // stream announced (a read error, a source that shrank, the sound layer freed under it) is a
    // failure naming the file and the cause, and writes nothing. `yield` runs after every block;
    // returning false cancels. While a decode runs, a second call (from inside `yield`) is
    // refused.
    DecodeOutcome decode(const QString& source, const QString& target,
                         const std::function<bool()>& yield = {});

    bool busy() const { return busy_; }

private:
    bool busy_ = false;
};

} // namespace quaverly
