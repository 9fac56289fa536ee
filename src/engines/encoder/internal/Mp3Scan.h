#pragma once
// One pass over an MP3 song's frame headers, with large reads: where its frames lie, how far
// back each one's main data begins, and what its LAME/Xing tag frame says, as much as keeping
// its frames in a clip needs. The song's leading ID3v2 tag and trailing ID3v1 and APE tags are
// passed over.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace quaverly::framecopy::internal {

struct ScannedFrame {
    std::uint64_t offset = 0;        // of its header in the file
    std::uint32_t size = 0;          // header to the last byte
    std::uint16_t dataOffset = 0;    // of its main data area, from its header
    std::uint16_t mainDataBegin = 0; // its main data starts this many data bytes earlier
    std::uint8_t kbps = 0;           // in units of 2 kbit/s (the table's highest is 320)
};

struct Mp3Scan {
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    bool constantRate = true; // every audio frame has the same bit rate
    // The song's tag frame (skipped by decoders), and its gapless fields: libmpg123 trims
    // `delay` + its own decoder delay at the start and `padding` less that delay at the end.
    bool tagged = false;
    std::uint32_t taggedFrames = 0; // as the tag counts them, 0 when it does not
    int delay = -1;                 // -1 without the fields
    int padding = -1;
    std::array<char, 9> encoder{};    // the tag's encoder name, zero without one
    std::vector<ScannedFrame> frames; // the audio frames, the tag frame not among them
    std::uint64_t audioBytes = 0;
    // Empty when the song's frames can be kept; else why not, in words for the user.
    QString whyNot;
};

// Scans `song`; an Error at CopyStep::Read when it cannot be read, CopyStep::Cancel when `work`
// asks to stop. A song whose frames cannot be kept is no error: whyNot says why, and the scan
// ends there.
Result<Mp3Scan> scanMp3(const QString& song, const WorkProgress& work);

} // namespace quaverly::framecopy::internal
