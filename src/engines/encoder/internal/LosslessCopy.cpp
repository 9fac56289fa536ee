// Keeping a FLAC or WAV song's samples at their own width in its clip.
// - FLAC: libFLAC decodes the song from the clip's first sample (it seeks there) at its own
//   bits per sample, and encodes the clip at the same rate, channels and width; STREAMINFO gets
//   the clip's length and the MD5 of its sound, as any FLAC file the program writes.
// - WAV: the sample bytes of the clip are copied as they are, under the song's own format chunk.
// The length a probe tells is the song reader's, so that marks agree with the working copy.
#include "engines/decode/SongReader.h"
#include "engines/encoder/internal/FlacCodec.h"
#include "engines/encoder/internal/FrameCopies.h"
#include "engines/wav/WavHeader.h"

#include <FLAC/stream_decoder.h>

#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace quaverly::framecopy::internal {
namespace {

using encode::internal::FlacEncoderPtr;
using encode::internal::FlacFileSink;
using encode::internal::flacMetadataBlocks;
using encode::internal::flacStateWords;
using encode::internal::flacWords;

// The compression the flac tool uses by default: a good size at a small cost.
constexpr int kFlacLevel = 5;

Error readFailure(const QString& song, const QString& cause) {
    return Error(song, cause).during(CopyStep::Read);
}
Error writeFailure(const Error& e) {
    return e.during(CopyStep::Write);
}
Error cancelled(const AtomicFile& target) {
    return Error(target.target(), QStringLiteral("cancelled")).during(CopyStep::Cancel);
}

// The song reader's length of `song`, which marks are counted in; 0 when it is only known once
// the whole song is decoded.
Result<std::uint64_t> readerFrames(const QString& song) {
    Result<SongReader> reader = SongReader::open(song);
    if (!reader)
        return reader.error();
    return reader->format().lengthExact ? reader->frames() : 0;
}

struct FlacDecoderDeleter {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};
using FlacDecoderPtr = std::unique_ptr<FLAC__StreamDecoder, FlacDecoderDeleter>;

// A FLAC song decoded by libFLAC from a file opened as every reader of a song opens it (so
// that the song may be replaced while it is read). The samples of the frames decoded since
// the last take(), interleaved, at the song's own width.
class FlacSong {
public:
    explicit FlacSong(QString song) : song_(std::move(song)), file_(song_) {}

    // Opens the file and reads its metadata up to the first frame.
    Status open() {
        if (Status opened = openForReading(file_, QIODevice::ReadOnly); !opened)
            return readFailure(song_, opened.error().cause());
        decoder_.reset(FLAC__stream_decoder_new());
        if (!decoder_)
            return readFailure(song_, QStringLiteral("libFLAC: out of memory"));
        const FLAC__StreamDecoderInitStatus init = FLAC__stream_decoder_init_stream(
            decoder_.get(), &FlacSong::read, &FlacSong::seek, &FlacSong::tell, &FlacSong::length,
            &FlacSong::eof, &FlacSong::write, &FlacSong::metadata, &FlacSong::error, this);
        if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return readFailure(song_, flacWords(FLAC__StreamDecoderInitStatusString[init]));
        if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()))
            return failure();
        if (info_.channels == 0 || info_.sample_rate == 0)
            return readFailure(song_, QStringLiteral("no FLAC stream information"));
        return {};
    }

    const FLAC__StreamMetadata_StreamInfo& info() const { return info_; }

    // The next decode delivers frame `frame` first.
    Status seekTo(std::uint64_t frame) {
        pcm_.clear();
        if (frame == 0)
            return {};
        if (FLAC__stream_decoder_seek_absolute(decoder_.get(), frame))
            return {};
        // A stream that states no length or no seek table may refuse: decode up to the mark.
        if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_SEEK_ERROR &&
            !FLAC__stream_decoder_flush(decoder_.get()))
            return failure();
        if (!FLAC__stream_decoder_reset(decoder_.get()) ||
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()))
            return failure();
        skip_ = frame;
        while (skip_ > 0) {
            if (Result<bool> more = next(); !more || !*more)
                return more ? readFailure(song_, QStringLiteral("the sound ends before the clip"))
                            : more.error();
            pcm_.clear();
        }
        return {};
    }

    // Decodes one frame into the samples waiting; false at the end of the stream.
    Result<bool> next() {
        if (!FLAC__stream_decoder_process_single(decoder_.get()) || damaged_)
            return failure();
        return FLAC__stream_decoder_get_state(decoder_.get()) != FLAC__STREAM_DECODER_END_OF_STREAM;
    }
    std::vector<FLAC__int32>& samples() { return pcm_; }

private:
    Error failure() const {
        if (!readError_.isEmpty())
            return readFailure(song_, readError_);
        if (damaged_)
            return readFailure(song_,
                               QStringLiteral("damaged FLAC frame (%1)").arg(flacWords(damaged_)));
        return readFailure(
            song_, flacWords(FLAC__stream_decoder_get_resolved_state_string(decoder_.get())));
    }

    static FlacSong& self(void* p) { return *static_cast<FlacSong*>(p); }

    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                              size_t* bytes, void* p) {
        FlacSong& s = self(p);
        const qint64 n = s.file_.read(reinterpret_cast<char*>(buffer), qint64(*bytes));
        if (n < 0) {
            s.readError_ = s.file_.errorString();
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = size_t(n);
        return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                      : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus seek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                              void* p) {
        return self(p).file_.seek(qint64(offset)) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                  : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    }
    static FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                              void* p) {
        *offset = FLAC__uint64(self(p).file_.pos());
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus length(const FLAC__StreamDecoder*, FLAC__uint64* bytes,
                                                  void* p) {
        *bytes = FLAC__uint64(self(p).file_.size());
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool eof(const FLAC__StreamDecoder*, void* p) { return self(p).file_.atEnd(); }
    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*,
                                                const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* p) {
        FlacSong& s = self(p);
        const unsigned channels = frame->header.channels;
        unsigned from = 0;
        if (s.skip_ > 0) {
            from = unsigned(std::min<std::uint64_t>(s.skip_, frame->header.blocksize));
            s.skip_ -= from;
        }
        for (unsigned i = from; i < frame->header.blocksize; ++i)
            for (unsigned c = 0; c < channels; ++c)
                s.pcm_.push_back(buffer[c][i]);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* p) {
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO)
            self(p).info_ = m->data.stream_info;
    }
    static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* p) {
        // A frame that does not decode would leave a gap or silence in the clip.
        if (!self(p).damaged_)
            self(p).damaged_ = FLAC__StreamDecoderErrorStatusString[status];
    }

    QString song_;
    QFile file_;
    FlacDecoderPtr decoder_; // after file_: deleted first
    FLAC__StreamMetadata_StreamInfo info_{};
    std::vector<FLAC__int32> pcm_;
    std::uint64_t skip_ = 0; // frames still to drop on the way to a mark
    QString readError_;
    const char* damaged_ = nullptr;
};

// The "fmt " chunk of a WAV file as it is (its body), for the clip's header.
Result<QByteArray> formatChunk(QFile& in, const WavLayout& layout) {
    std::uint64_t pos = 12;
    while (pos + 8 <= layout.dataOffset) {
        char chunk[8];
        if (!in.seek(qint64(pos)) || in.read(chunk, 8) != 8)
            break;
        const std::uint32_t size = std::uint32_t(std::uint8_t(chunk[4])) |
                                   std::uint32_t(std::uint8_t(chunk[5])) << 8 |
                                   std::uint32_t(std::uint8_t(chunk[6])) << 16 |
                                   std::uint32_t(std::uint8_t(chunk[7])) << 24;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && size <= 4096) {
            QByteArray body = in.read(size);
            if (body.size() == qint64(size))
                return body;
            break;
        }
        pos += 8 + std::uint64_t(size) + (size & 1u);
    }
    return Error(in.fileName(), QStringLiteral("no format chunk before the samples"));
}

void put32(char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = char((v >> (8 * i)) & 0xFF);
}

// RIFF/WAVE with the song's format chunk, a "fact" chunk where the format is not integer PCM,
// and the header of the data chunk of `dataBytes`.
QByteArray wavHead(const QByteArray& format, std::uint16_t formatTag, std::uint64_t frames,
                   std::uint64_t dataBytes) {
    QByteArray head("RIFF\0\0\0\0WAVEfmt \0\0\0\0", 20);
    put32(head.data() + 16, std::uint32_t(format.size()));
    head += format;
    if (format.size() & 1)
        head += '\0';
    if (formatTag != 1) {
        head += QByteArray("fact\4\0\0\0\0\0\0\0", 12);
        put32(head.data() + head.size() - 4, std::uint32_t(std::min<std::uint64_t>(frames, ~0u)));
    }
    head += QByteArray("data\0\0\0\0", 8);
    put32(head.data() + head.size() - 4, std::uint32_t(dataBytes));
    put32(head.data() + 4, std::uint32_t(head.size() - 8 + dataBytes + (dataBytes & 1)));
    return head;
}

// Why the samples of a WAV song are not kept byte for byte; empty when they are.
QString wavWhyNot(const WavLayout& l) {
    const bool integer = l.formatTag == 1 && (l.bitsPerSample == 8 || l.bitsPerSample == 16 ||
                                              l.bitsPerSample == 24 || l.bitsPerSample == 32);
    const bool floating = l.formatTag == 3 && (l.bitsPerSample == 32 || l.bitsPerSample == 64);
    if (!integer && !floating)
        return QStringLiteral("the song's WAV holds no plain PCM samples");
    if (l.blockAlign != l.channels * (l.bitsPerSample / 8))
        return QStringLiteral("the song's WAV packs its samples in an unusual way");
    return {};
}

} // namespace

Result<SongStream> probeFlac(const QString& song) {
    FlacSong flac(song);
    if (Status opened = flac.open(); !opened)
        return opened.error();
    SongStream s;
    s.sampleRate = int(flac.info().sample_rate);
    s.channels = int(flac.info().channels);
    s.bitsPerSample = int(flac.info().bits_per_sample);
    const Result<std::uint64_t> frames = readerFrames(song);
    if (!frames)
        return frames.error();
    s.frames = *frames;
    return s;
}

Status copyFlac(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
                const WorkProgress& work) {
    FlacSong flac(song);
    if (Status opened = flac.open(); !opened)
        return opened;
    if (Status sought = flac.seekTo(in); !sought)
        return sought;
    const auto& info = flac.info();
    const std::uint64_t total = out - in;

    // Declared before the encoder, which writes into the sink even while it is deleted.
    FlacFileSink sink{&target, std::nullopt};
    const auto blocks = flacMetadataBlocks(std::int64_t(total), int(info.sample_rate));
    const FlacEncoderPtr encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return writeFailure(Error(target.target(), QStringLiteral("libFLAC: out of memory")));
    FLAC__StreamEncoder* e = encoder.get();
    if (!encode::internal::setUpFlacStream(e, int(info.channels), int(info.sample_rate), kFlacLevel,
                                           std::int64_t(total), blocks) ||
        !FLAC__stream_encoder_set_bits_per_sample(e, info.bits_per_sample))
        return writeFailure(
            Error(target.target(), QStringLiteral("libFLAC refused the song's sample format")));
    const auto encoderFailure = [&] {
        return writeFailure(sink.failed ? *sink.failed : Error(target.target(), flacStateWords(e)));
    };
    if (const FLAC__StreamEncoderInitStatus init = FLAC__stream_encoder_init_stream(
            e, &FlacFileSink::write, &FlacFileSink::seek, &FlacFileSink::tell, nullptr, &sink);
        init != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                   ? encoderFailure()
                   : writeFailure(Error(target.target(),
                                        flacWords(FLAC__StreamEncoderInitStatusString[init])));

    std::uint64_t done = 0;
    std::vector<FLAC__int32>& pcm = flac.samples();
    while (done < total) {
        if (work.stopped())
            return cancelled(target);
        if (pcm.empty()) {
            const Result<bool> more = flac.next();
            if (!more)
                return more.error();
            if (!*more && pcm.empty())
                return readFailure(song, QStringLiteral("the sound ends before the clip"));
            continue;
        }
        const std::uint64_t n = std::min<std::uint64_t>(pcm.size() / info.channels, total - done);
        if (!FLAC__stream_encoder_process_interleaved(e, pcm.data(), unsigned(n)))
            return encoderFailure();
        pcm.clear();
        done += n;
        work.report(done, total);
    }
    if (!FLAC__stream_encoder_finish(e))
        return encoderFailure();
    // STREAMINFO and the seek table were written last, at the start: back to the end.
    if (!sink.seekTo(sink.end))
        return writeFailure(*sink.failed);
    return {};
}

Result<SongStream> probeWav(const QString& song) {
    const Result<WavLayout> layout = ::quaverly::probeWav(song);
    if (!layout)
        return layout.error();
    SongStream s;
    s.sampleRate = int(layout->sampleRate);
    s.channels = int(layout->channels);
    s.bitsPerSample = int(layout->bitsPerSample);
    s.whyNot = wavWhyNot(*layout);
    const Result<std::uint64_t> frames = readerFrames(song);
    if (!frames)
        return frames.error();
    s.frames = *frames;
    return s;
}

Status copyWav(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work) {
    QFile file(song);
    if (Status opened = openForReading(file, QIODevice::ReadOnly); !opened)
        return readFailure(song, opened.error().cause());
    const Result<WavLayout> layout = ::quaverly::probeWav(file);
    if (!layout)
        return readFailure(song, layout.error().cause());
    if (const QString why = wavWhyNot(*layout); !why.isEmpty())
        return Error(song, why).during(CopyStep::CannotKeep);
    const Result<QByteArray> format = formatChunk(file, *layout);
    if (!format)
        return readFailure(song, format.error().cause());

    const std::uint64_t frameBytes = layout->blockAlign;
    const std::uint64_t bytes = (out - in) * frameBytes;
    const std::uint64_t from = layout->dataOffset + in * frameBytes;
    if (from + bytes > layout->fileSize)
        return readFailure(song, QStringLiteral("the sound ends before the clip"));
    const QByteArray head = wavHead(*format, layout->formatTag, out - in, bytes);
    if (bytes + std::uint64_t(head.size()) > 0xFFFFFFFFu)
        return writeFailure(Error(target.target(), QStringLiteral("too long for a WAV file")));
    if (Status written = target.write(head.constData(), head.size()); !written)
        return writeFailure(written.error());
    if (!file.seek(qint64(from)))
        return readFailure(song, file.errorString());

    // Whole frames per block, about 1 MiB.
    std::vector<char> block(std::size_t(std::max<std::uint64_t>(1, (1 << 20) / frameBytes)) *
                            frameBytes);
    std::uint64_t done = 0;
    while (done < bytes) {
        if (work.stopped())
            return cancelled(target);
        const qint64 want = qint64(std::min<std::uint64_t>(block.size(), bytes - done));
        const qint64 got = file.read(block.data(), want);
        if (got != want)
            return readFailure(song, got < 0 ? file.errorString()
                                             : QStringLiteral("the sound ends before the clip"));
        if (Status written = target.write(block.data(), got); !written)
            return writeFailure(written.error());
        done += std::uint64_t(got);
        work.report(done, bytes);
    }
    if (bytes & 1)
        if (Status written = target.write("", 1); !written)
            return writeFailure(written.error());
    return {};
}

} // namespace quaverly::framecopy::internal
