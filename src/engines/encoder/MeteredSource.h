#pragma once
// One encoding as the window's jobs and the command line run it: the source made on the
// encoding's thread, its frames counted as the encoder reads them, and the target written in any
// format, an MP3 without tags exactly as the plain MP3 encoder writes it.
//
// Threads: no state is kept between calls; the progress is told on the encoding's thread.

#include "engines/encoder/SongEncode.h"
#include "engines/util/WorkProgress.h"

#include <QMetaType>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quaverly::encode {

// Makes the sound to encode on the encoding's thread when it starts (the list's joined songs, a
// WAV file).
using SourceFactory = std::function<Result<std::unique_ptr<PcmSource>>()>;

// The source as it is, telling `work` how many of its frames the encoder has read against its
// lengthHint() (the encoder reads a little ahead of what it has written); nothing while the
// length is unknown.
class MeteredSource final : public PcmSource {
public:
    MeteredSource(PcmSource& source, WorkProgress work);

    int channels() const override { return source_.channels(); }
    int sampleRate() const override { return source_.sampleRate(); }
    std::int64_t lengthHint() const override { return source_.lengthHint(); }
    Result<std::size_t> read(float* dst, std::size_t frames) override;
    bool rewind() override;

    // A read of the source failed (as opposed to the encoding or the writing).
    bool readFailed() const { return readFailed_; }

private:
    PcmSource& source_;
    WorkProgress work_;
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

// A format with its setting and the clip's tags: an encoding other than the plain MP3.
struct Output {
    Settings settings;
    ClipTags tags;
};

// Runs `order` until the target is complete and in place (success) or has failed, the target
// then as it was; a stop requested on work.stop ends it within one block as EncodeStep::Cancel.
// `work` hears the frames read (see MeteredSource).
Status encodeMetered(const EncodeOrder& order, const WorkProgress& work = {});

// Opens the WAV file `wav` (see openWavSource) when the encoding starts.
SourceFactory wavFileSource(const QString& wav);

} // namespace quaverly::encode

namespace quaverly {

// How one encoding of the window went, handed to whoever asked for it.
struct EncodeResult {
    int jobId = 0;   // the id the encoding's start returned
    QString source;  // the source as given (the WAV path, or the name that stands for the sound)
    QString target;  // the target path as given
    int bitRate = 0; // the format's setting the encoding ran with (kbit/s for MP3)
    encode::Format format = encode::Format::Mp3;
    // Success only when the target is complete and in place; a failure's Error carries its
    // EncodeStep.
    Status status;

    bool ok() const { return status.ok(); }
};

} // namespace quaverly

Q_DECLARE_METATYPE(quaverly::EncodeResult)
