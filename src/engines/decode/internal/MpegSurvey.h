#pragma once
// What the MPEG audio decoder and its parallel engine share of libmpg123: a handle with one
// owner, reading through the program's stdio file with the system's error of a failed read kept,
// the words for a failed call, and the survey of every frame header that an open starts with.

#include "engines/decode/internal/ParallelMpeg.h"

#include <mpg123.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quaverly::decode {

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

// Makes libmpg123 read the std::FILE* handed to mpg123_open_handle. Returns libmpg123's code.
int readThroughStdio(mpg123_handle* mh);
// The system's error of the last read of such a handle on this thread, 0 when it succeeded:
// libmpg123 only says that its reader failed, never why. A decoder reads on one thread at a
// time; clearReadError() starts its open afresh.
int lastReadError();
void clearReadError();

// libmpg123 delays Layer III output by this many samples; its gapless trimming adds them to the
// tag's encoder delay at the start and takes them off its padding at the end.
constexpr std::uint64_t kLayer3DecoderDelay = 529;

// libmpg123's words for a failed call; a failed read is told by the system's words for it.
std::string mpgError(mpg123_handle* mh, int code);

// What one pass over the frame headers found.
struct Survey {
    long rate = 0;
    int layer = 0;
    int version = 0;
    bool anyStereo = false;
    bool anyMono = false;
    bool rateChanges = false;
    std::uint64_t frames = 0;
    bool firstTwoAdjacent = false;
    MpegStreamFacts facts;  // for decoding on several threads
    std::string stopReason; // why the pass ended early, empty at a normal end
};

// Walks the frame headers of the stream open in `mh` from its start to its end.
Survey survey(mpg123_handle* mh);

// Whether the stream's frame count (a Xing/Info tag's, or libmpg123's estimate) fits in the
// file: no MPEG audio frame is shorter than 24 bytes (Layer III, MPEG-2 at 24 kHz, 8 kbit/s).
// Asked right after the open (a survey resets the count); moves the file's position.
bool tagFramesPlausible(mpg123_handle* mh, std::FILE* f);

} // namespace quaverly::decode
