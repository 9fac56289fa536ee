#pragma once
// The joined songs as the encoder's source: the list is encoded straight from its songs' working
// copies, with no joined file in between. The encoder gets exactly the samples it would read
// from the WAV file that joinSongs writes for the same songs, converted as the one sample reader
// converts them (see SampleReader.h), in blocks of the size it asks for, so the file comes out
// the same byte for byte.
//
// A song's failure (one could not be read) reaches the encoding's result as the source's own
// (mp3::EncodeStep::Source), naming the song; any other failure is the encoder's or the target's.
//
// Threads: a JoinedPcm is made, read and destroyed on the thread that encodes (the factory below
// runs on the encoding's thread).

#include "engines/encoder/MeteredSource.h"
#include "engines/encoder/Mp3Encode.h"
#include "songlist/JoinedSongs.h"

#include <memory>

namespace quaverly {

class JoinedPcm final : public mp3::PcmSource {
public:
    // As JoinedSongs::open.
    Status open(const QStringList& songs, const QStringList& names = {});

    int channels() const override { return join_.format().channels; }
    int sampleRate() const override { return int(join_.format().sampleRate); }
    std::int64_t lengthHint() const override {
        return std::int64_t(join_.expectedBytes() / join_.format().blockAlign);
    }
    // Fills all `frames` but at the end. A failure names the song and the cause.
    Result<std::size_t> read(float* dst, std::size_t frames) override;
    // Opens the same songs again from their first sample.
    bool rewind() override;

private:
    QStringList songs_, names_;
    JoinedSongs join_;
    std::span<const char> block_; // the frames of the join not given yet
    bool ended_ = false;
};

// A source for an encoding (Encodings::startSourceAs, the command line's join): opens the joined
// songs on the encoding's thread when it starts. The songs must stay as they are until it ends.
encode::SourceFactory joinedSongsSource(QStringList songs, QStringList names = {});

} // namespace quaverly
