#pragma once
// The songs of the list as one sound: their samples in list order, block after block, in the
// joined format. Both saves of the list are made of it: the WAV save writes the blocks into a
// file (joinSongs), the MP3 save hands them to the encoder (JoinedPcm), so the two can never
// disagree about what the joined list sounds like.
//
// The joined format is the first song's rate and channels, as 8- or 16-bit PCM (a first song
// that is not plain PCM makes it 16-bit). Plain PCM songs already in that format give their
// sample bytes as they are; the others are converted to it (channels mixed or duplicated, rate
// resampled, sample size changed), so nothing is garbled. Only the samples of each song are
// taken, never its header or other chunks. Every song is read through the one sample reader
// (SampleReader), which also turns the converted samples into the joined format's bytes.
//
// Not thread-safe: one thread opens it, reads it and destroys it. Each song is opened when its
// turn comes and closed when it is done.

#include "engines/util/Error.h"
#include "engines/wav/WavHeader.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quaverly {

class JoinedSongs {
public:
    JoinedSongs();
    ~JoinedSongs();
    JoinedSongs(const JoinedSongs&) = delete;
    JoinedSongs& operator=(const JoinedSongs&) = delete;

    // Finds the samples and the format of every song, reading only their headers. `names`, when
    // given (one per song), are what failures call the songs (the Error's file); otherwise a
    // song is called by its file's name. Fails for an empty list, and for a song it cannot take,
    // naming it.
    Status open(const QStringList& songs, const QStringList& names = {});

    const WavHeader& format() const { return format_; }
    // Sample bytes the join gives: each song's frames at the joined rate and frame size. A
    // resampled song comes out within a few frames of this.
    std::uint64_t expectedBytes() const;

    // The next block of whole frames in the joined format, as sample bytes, valid until the
    // next call; an empty block at the end. A failure names the song and the cause; a song that
    // ends before its announced samples is one. After a failure the join is over: every later
    // call gives it again.
    Status next(std::span<const char>* block);

    class Song; // the reader of the song being joined

private:
    Status advance(std::span<const char>* block);
    Error failure(std::size_t song, const Error& error) const;

    QStringList paths_;
    QStringList names_;
    std::vector<WavLayout> layouts_;
    WavHeader format_;
    std::size_t nextSong_ = 0; // the song opened after the current one ends
    std::unique_ptr<Song> song_;
    std::optional<Error> failed_;
};

} // namespace quaverly
