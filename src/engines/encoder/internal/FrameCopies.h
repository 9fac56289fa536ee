#pragma once
// Each kind's part of FrameCopy.h: what its song's stream is, and the copy of its frames into an
// open AtomicFile (before the tags; FrameCopy.cpp tags and commits it).
//
// Every copy returns an Error at framecopy::CopyStep (CannotKeep, Read, Write, Cancel) when it
// fails, and writes into `out` only bytes of the clip; `out` is not committed here.

#include "engines/encoder/FrameCopy.h"
#include "engines/util/AtomicFile.h"

#include <QString>

#include <cstdint>

namespace quaverly::framecopy::internal {

// What a song's own stream is, as far as keeping its frames needs to know.
struct SongStream {
    int sampleRate = 0;
    int channels = 0;
    int kbps = 0;             // average bit rate of the coded sound; 0 for lossless
    int bitsPerSample = 0;    // lossless kinds: the song's sample width
    std::uint64_t frames = 0; // sample frames of its gapless decode, 0 when not known
    // Empty when the frames of this song can be kept at all; else why never, in words for the
    // user ("the song is HE-AAC", "the song is MPEG Layer II").
    QString whyNot;
};

// MP3 (MPEG-1, 2 and 2.5 Layer III; Mp3Copy.cpp). The copy writes the Info frame with its LAME
// tag, then the frames; no ID3 tag.
Result<SongStream> probeMp3(const QString& song);
Status copyMp3(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work);

// AAC in MP4 (M4aCopy.cpp, FFmpeg's module). The copy writes the whole MP4 file with its edit
// list and sets *gapless for the iTunSMPB item.
Result<SongStream> probeM4a(const QString& song);
Status copyM4a(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work, AacGapless* gapless);

// FLAC and PCM WAV (LosslessCopy.cpp): exact to the sample at the song's own sample width.
Result<SongStream> probeFlac(const QString& song);
Status copyFlac(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
                const WorkProgress& work);
Result<SongStream> probeWav(const QString& song);
Status copyWav(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work);

} // namespace quaverly::framecopy::internal
