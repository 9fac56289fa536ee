#pragma once
// One encoding as the window's jobs and the command line run it: the source made on the
// encoding's thread, its frames counted as the encoder reads them, and the target written in any
// format, an MP3 without tags exactly as the plain MP3 encoder writes it.
//
// Threads: no state is kept between calls; the progress is told on the encoding's thread.

#include "engines/encoder/SongEncode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quaverly::encode {

// How far an encoding is: `done` of `total` frames read (total 0 while the length is unknown).
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Makes the sound to encode on the encoding's thread when it starts (the list's joined songs, a
// WAV file).
using SourceFactory = std::function<Result<std::unique_ptr<PcmSource>>()>;

// The source as it is, telling `progress` how many of its frames the encoder has read against
// its lengthHint() (the encoder reads a little ahead of what it has written).
class MeteredSource final : public PcmSource {
public:
    MeteredSource(PcmSource& source, Progress progress);

    int channels() const override { return source_.channels(); }
    int sampleRate() const override { return source_.sampleRate(); }
    std::int64_t lengthHint() const override { return source_.lengthHint(); }
    Result<std::size_t> read(float* dst, std::size_t frames) override;
    bool rewind() override;

    // A read of the source failed (as opposed to the encoding or the writing).
    bool readFailed() const { return readFailed_; }

private:
    PcmSource& source_;
    Progress progress_;
    std::uint64_t total_;
    std::uint64_t read_ = 0;
    bool readFailed_ = false;
};

// What one encoding reads and writes.
struct EncodeOrder {
    SourceFactory make;
    QString sourceName;       // names the source in messages
    bool sourceIsWav = false; // `make` opens the WAV file sourceName: its failures are ReadWav
    QString target;
    Settings settings;
    // Unset: a plain MP3 at settings' bit rate, LAME's bytes alone (settings.format is Mp3).
    std::optional<ClipTags> tags;
};

// Runs `order` until the target is complete and in place (nullopt) or has failed, the target
// then as it was; a stop request ends it within one block as EncodeStep::Cancel.
std::optional<EncodeFailure> encodeMetered(const EncodeOrder& order, std::stop_token stop,
                                           const Progress& progress);

// Opens the WAV file `wav` (see openWavSource) when the encoding starts.
SourceFactory wavFileSource(const QString& wav);

} // namespace quaverly::encode
