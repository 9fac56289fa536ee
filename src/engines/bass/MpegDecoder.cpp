// MPEG audio (MP3, and the MP2/MP1 and MPEG-2/2.5 streams libmpg123 reads) through libmpg123.
//
// One output format for the whole file. A stream may change its channel mode or even its
// sample rate from frame to frame (the ISO test stream l3-he_mode goes mono, dual, stereo,
// joint stereo, mono). A WAV file has one format, so before decoding the whole stream is
// scanned once, frame header by frame header, and the output is fixed to:
//  - stereo when any frame has two channels (mono frames are then played on both sides), mono
//    when every frame is mono: nothing of a stereo passage is lost by mixing it down;
//  - the sample rate of the first frame; frames at another rate are resampled by libmpg123.
// The samples are those of a plain decode from the first byte to the last, never of a scanned
// stream: mpg123_scan ends with a seek back to the start, and with a LAME/Xing tag that seek
// skips the encoder delay's frames instead of decoding them, which leaves the synthesis filter
// in another state (samples off by 1 here and there) and, when the tag's frame count is larger
// than the stream (a cut file), turns gapless trimming off altogether.
// The length is known at open: mpg123_scan on the side counts every frame and mpg123_length
// applies the encoder delay and padding of the tag (gapless decoding). That is the plain
// decode's length too when the tag agrees with the stream and every frame has the output
// rate. Otherwise (a tag whose frame count is off, streams glued after the tagged one, a rate
// change, where the resampler's output cannot be predicted from frame counts) the stream is
// decoded once at open to measure it.
//
// Not audio: libmpg123 searches for frame sync words, and random bytes or a text may contain
// one that looks like a frame header. A stream is accepted only when its first two frames
// follow each other without a gap and agree in layer, version and sample rate. (libmpg123 1.31
// looks ahead for the second header itself when the input can seek, as ours can; the rule is
// checked here all the same so that it does not rest on that detail. A stream of a single
// frame, which libmpg123 decodes to nothing, is refused by it.)
//
// A tag that announces more frames than the file can hold is false, and it is not only wrong:
// when libmpg123 resamples, it works out gapless positions by walking the announced frames
// one by one (about 30 s for a count of 2^32). Such a file is decoded without gapless
// trimming, so every frame it holds is kept.

#include "engines/bass/BassInternal.h"
#include "engines/bass/Decoder.h"
#include "engines/bass/ParallelMpeg.h"
#include "engines/util/CodecThreads.h"

#include <mpg123.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quaverly::bass::detail {
namespace {

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

// The system's error of the last read on this thread, 0 when it succeeded: libmpg123 only says
// that its reader failed, never why. A decoder reads on one thread at a time.
thread_local int lastReadError = 0;

// libmpg123 reads through the layer's buffered stdio file.
mpg123_ssize_t readCallback(void* handle, void* buffer, size_t bytes) {
    auto* f = static_cast<std::FILE*>(handle);
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, bytes, f);
    lastReadError = got == 0 && std::ferror(f) ? (errno != 0 ? errno : EIO) : 0;
    return lastReadError != 0 ? -1 : static_cast<mpg123_ssize_t>(got);
}
off_t seekCallback(void* handle, off_t offset, int whence) {
    auto* f = static_cast<std::FILE*>(handle);
    if (seekFile(f, offset, whence) != 0)
        return -1;
    return static_cast<off_t>(tellFile(f));
}

// libmpg123's words for a failed call; a failed read is told by the system's words for it.
std::string mpgError(mpg123_handle* mh, int code) {
    if (lastReadError != 0)
        return std::string("read error: ") + std::strerror(lastReadError);
    return (code == MPG123_ERR && mh) ? mpg123_strerror(mh) : mpg123_plain_strerror(code);
}

DWORD ctypeOfLayer(int layer) {
    switch (layer) {
    case 1:
        return BASS_CTYPE_STREAM_MP1;
    case 2:
        return BASS_CTYPE_STREAM_MP2;
    default:
        return BASS_CTYPE_STREAM_MP3;
    }
}

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

Survey survey(mpg123_handle* mh) {
    Survey s;
    off_t firstEnd = 0;
    for (;;) {
        const int r = mpg123_framebyframe_next(mh);
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            s.stopReason = mpgError(mh, r);
            break;
        }
        mpg123_frameinfo2 fi{};
        if (mpg123_info2(mh, &fi) != MPG123_OK) {
            s.stopReason = mpg123_strerror(mh);
            break;
        }
        const off_t pos = mpg123_framepos(mh);
        if (s.frames == 0) {
            s.rate = fi.rate;
            s.layer = fi.layer;
            s.version = fi.version;
            firstEnd = pos + fi.framesize;
        } else if (s.frames == 1) {
            s.firstTwoAdjacent = pos == firstEnd && fi.layer == s.layer &&
                                 fi.version == s.version && fi.rate == s.rate;
        }
        if (fi.mode != MPG123_M_MONO)
            s.anyStereo = true;
        else
            s.anyMono = true;
        if (fi.rate != s.rate)
            s.rateChanges = true;
        s.facts.add(pos, fi.framesize, fi.layer, fi.version, fi.rate, fi.mode == MPG123_M_MONO,
                    (fi.flags & MPG123_CRC) != 0, fi.bitrate == 0);
        ++s.frames;
    }
    return s;
}

// Whether the stream's frame count (a Xing/Info tag's, or libmpg123's estimate) fits in the
// file: no MPEG audio frame is shorter than 24 bytes (Layer III, MPEG-2 at 24 kHz, 8 kbit/s).
// Asked right after the open (a survey resets the count); moves the file's position.
bool tagFramesPlausible(mpg123_handle* mh, std::FILE* f) {
    const off_t frames = mpg123_framelength(mh);
    if (frames <= 0 || seekFile(f, 0, SEEK_END) != 0)
        return true;
    const std::int64_t size = tellFile(f);
    return size < 0 || static_cast<std::int64_t>(frames) <= size / 24 + 1;
}

class MpegDecoder final : public Decoder {
public:
    MpegDecoder(CFile file, Mpg123Ptr mh) : file_(std::move(file)), mh_(std::move(mh)) {}

    // Second half of the open: fixes the output format and finds the exact length.
    bool start(Survey& s, const std::string& name, bool gapless) {
        mpg123_handle* mh = mh_.get();
        format_.rate = static_cast<std::uint32_t>(s.rate);
        format_.channels = s.anyStereo ? 2 : 1;
        format_.ctype = ctypeOfLayer(s.layer);
        format_.origres = 0;
        format_.channelsChange = s.anyStereo && s.anyMono;
        frameBytes_ = static_cast<std::size_t>(format_.channels) * 2;
        measured_ = s.rateChanges;

        int r = mpg123_format_none(mh);
        if (r == MPG123_OK)
            r = mpg123_format(mh, s.rate, format_.channels, MPG123_ENC_SIGNED_16);
        if (r != MPG123_OK)
            return fail(BASS_ERROR_FORMAT, name + ": output format refused: " + mpgError(mh, r));
        const auto scanned = scannedLength();
        if (!scanned)
            return fail(BASS_ERROR_FILEFORM, name + ": " + errorText_);
        if (!restart())
            return fail(BASS_ERROR_FILEFORM, name + ": " + errorText_);
        // Such a stream is measured, and its positions found by decoding from the start:
        // libmpg123's own positions follow the tag, not what the plain decode delivers.
        if (!scanned->matchesPlainDecode)
            measured_ = true;

        if (measured_) {
            const auto measured = measure();
            if (!measured)
                return false;
            frames_ = *measured;
        } else {
            if (scanned->length < 0)
                return fail(BASS_ERROR_FILEFORM, name + ": unknown length: " + errorText_);
            frames_ = static_cast<std::uint64_t>(scanned->length);
        }
        long rate = 0;
        int channels = 0, encoding = 0;
        if (frames_ > 0 &&
            ((r = mpg123_getformat(mh, &rate, &channels, &encoding)) != MPG123_OK ||
             rate != s.rate || channels != format_.channels || encoding != MPG123_ENC_SIGNED_16))
            return fail(BASS_ERROR_FORMAT, name + ": the decoder did not take the output format" +
                                               (r != MPG123_OK ? ": " + mpgError(mh, r) : ""));
        position_ = 0; // measuring read the stream once
        MpegStreamFacts& facts = s.facts;
        facts.path = name;
        facts.uniform = facts.uniform && !format_.channelsChange;
        facts.channels = format_.channels;
        facts.encoderDelay = scanned->delay;
        facts.encoderPadding = scanned->padding;
        facts.gapless = gapless;
        facts.measured = measured_;
        facts.length = frames_;
        layout_ = planParallelMpeg(std::move(facts));
        engineMayStart_ = layout_ != nullptr;
        return true;
    }

    // Reading from position 0 goes through the engine when the stream qualifies and more than
    // one thread may decode. The engine's output is the one pass's; when it cannot go on, the
    // one pass takes over at the same position.
    std::size_t read(std::int16_t* out, std::size_t frames) override {
        if (engineMayStart_ && position_ == 0 && !ended_) {
            engineMayStart_ = false;
            const int threads = codecThreads();
            if (threads > 1)
                engine_ = std::make_unique<ParallelMpeg>(layout_, threads);
        }
        if (!engine_)
            return readOnePass(out, frames);
        const std::size_t got = engine_->read(out, frames);
        position_ += got;
        onePassBehind_ = onePassBehind_ || got > 0;
        if (!engine_->failed()) {
            if (position_ == frames_) {
                engine_.reset();
                ended_ = true;
            }
            return got;
        }
        engine_.reset();
        catchUp();
        return got +
               readOnePass(out + got * static_cast<std::size_t>(format_.channels), frames - got);
    }

private:
    std::size_t readOnePass(std::int16_t* out, std::size_t frames) {
        if (ended_)
            return 0;
        auto* bytes = reinterpret_cast<unsigned char*>(out);
        const std::size_t want = frames * frameBytes_;
        std::size_t got = 0;
        int idle = 0;
        while (got < want) {
            std::size_t done = 0;
            const int r = mpg123_read(mh_.get(), bytes + got, want - got, &done);
            got += done;
            if (r == MPG123_DONE) {
                ended_ = true;
                break;
            }
            if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
                errorText_ = mpgError(mh_.get(), r);
                ended_ = true;
                break;
            }
            // libmpg123 fills the buffer unless it ends; guard against a decoder that neither
            // delivers nor ends.
            if (done == 0 && ++idle > 1000) {
                errorText_ = "the decoder makes no progress";
                ended_ = true;
                break;
            }
        }
        position_ += got / frameBytes_;
        return got / frameBytes_;
    }

    // Brings the one pass to where the engine stopped, in the very state it would have had
    // reading there itself. The engine only runs while mh_ is as the open or the rewind left it
    // (not even reopened: libmpg123 learns the file's size at the open, and a file that has
    // shrunk since must fail as it would have), so decoding up to the position is enough.
    void catchUp() {
        const std::uint64_t target = position_;
        position_ = 0;
        onePassBehind_ = false;
        skip(target);
    }

public:
    // libmpg123 seeks to the exact sample, but its synthesis filter keeps the phase it had
    // before the seek, so a few samples after it may differ by 1 from a straight decode.
    // Position 0 therefore restarts the decoder: a rewound stream repeats its bytes exactly.
    // With the engine running, a seek to where it stands lets it go on. Any other seek stops
    // it; the one pass then seeks from the state it would have had after reading as far as the
    // engine did (libmpg123's seek keeps the synthesis filter's phase), so even the samples
    // after a seek are those of a decoder that never had an engine.
    bool seek(std::uint64_t frame) override {
        if (engine_ && frame == position_)
            return true;
        engine_.reset();
        if (frame == 0) {
            engineMayStart_ = layout_ != nullptr;
            onePassBehind_ = false;
        } else if (onePassBehind_) {
            ended_ = false;
            catchUp();
        }
        ended_ = false;
        errorText_.clear();
        if (frame == 0 || measured_) {
            position_ = 0;
            if (!restart()) {
                ended_ = true;
                return false;
            }
            // Positions in a resampled stream, or one whose tag is off, are not exact in
            // libmpg123: decode up to them.
            return skip(frame);
        }
        if (mpg123_seek(mh_.get(), static_cast<off_t>(frame), SEEK_SET) < 0) {
            errorText_ = mpg123_strerror(mh_.get());
            ended_ = true;
            return false;
        }
        position_ = frame;
        return true;
    }

private:
    bool fail(int code, std::string text) {
        setError(code, std::move(text));
        return false;
    }

    // Opens the stream from its first byte, as fresh as a new decoder; the output format set
    // in start() stays. Not scanned: see the top of the file.
    bool restart() {
        mpg123_handle* mh = mh_.get();
        mpg123_close(mh);
        if (seekFile(file_.get(), 0, SEEK_SET) != 0) {
            errorText_ = "cannot seek in the file";
            return false;
        }
        const int r = mpg123_open_handle(mh, file_.get());
        if (r != MPG123_OK) {
            errorText_ = mpgError(mh, r);
            return false;
        }
        return true;
    }

    struct Scanned {
        off_t length = -1; // after gapless trimming, -1 when libmpg123 cannot tell
        long delay = -1;   // the tag's encoder delay and padding, -1 without one
        long padding = -1;
        bool matchesPlainDecode = true;
    };

    // The stream's length from a scan of every frame (about 10 ms for a 5-minute MP3), and
    // whether a plain decode delivers just as much. It does unless the stream has a tag with
    // encoder delay and padding whose frame count is not the stream's (the length the tag
    // announces differs from the scanned one), or more audio follows the tagged part.
    std::optional<Scanned> scannedLength() {
        mpg123_handle* mh = mh_.get();
        if (!restart())
            return std::nullopt;
        Scanned s;
        const off_t announced = mpg123_length(mh);
        long delay = -1, padding = -1, stitched = 0;
        double unused = 0;
        mpg123_getstate(mh, MPG123_ENC_DELAY, &delay, &unused);
        mpg123_getstate(mh, MPG123_ENC_PADDING, &padding, &unused);
        const int r = mpg123_scan(mh);
        // libmpg123 ends a scan at a failed read as at the end of the file.
        if (r != MPG123_OK || lastReadError != 0) {
            errorText_ = mpgError(mh, r);
            return std::nullopt;
        }
        s.length = mpg123_length(mh);
        if (s.length < 0)
            errorText_ = mpg123_strerror(mh);
        mpg123_getstate(mh, MPG123_FRANKENSTEIN, &stitched, &unused);
        const bool gapless = delay >= 0 || padding >= 0;
        s.matchesPlainDecode = stitched == 0 && (!gapless || announced == s.length);
        s.delay = delay;
        s.padding = padding;
        return s;
    }

    // Decodes and drops `frames` frames.
    bool skip(std::uint64_t frames) {
        if (frames == 0)
            return true;
        std::vector<std::int16_t> scratch(16384);
        const std::size_t perRead = scratch.size() / static_cast<std::size_t>(format_.channels);
        while (frames > 0) {
            const std::size_t n = frames < perRead ? static_cast<std::size_t>(frames) : perRead;
            const std::size_t got = read(scratch.data(), n);
            frames -= got;
            if (got < n)
                return true; // past the decodable end: the next read comes up short and fails
        }
        return true;
    }

    // Frames of the whole stream, by decoding it; rewinds afterwards.
    std::optional<std::uint64_t> measure() {
        std::vector<std::int16_t> scratch(16384);
        const std::size_t perRead = scratch.size() / static_cast<std::size_t>(format_.channels);
        std::uint64_t total = 0;
        for (;;) {
            const std::size_t got = read(scratch.data(), perRead);
            total += got;
            if (got < perRead)
                break;
        }
        if (lastReadError != 0) {
            setError(BASS_ERROR_FILEFORM, "cannot measure the length: " + errorText_);
            return std::nullopt;
        }
        ended_ = false;
        errorText_.clear();
        if (!restart()) {
            setError(BASS_ERROR_FILEFORM, "cannot rewind after measuring: " + errorText_);
            return std::nullopt;
        }
        return total;
    }

    CFile file_; // must outlive mh_, which reads through it
    Mpg123Ptr mh_;
    std::size_t frameBytes_ = 2;
    bool measured_ = false; // the length was measured by decoding, and so are positions
    bool ended_ = false;
    std::uint64_t position_ = 0;               // of the next frame read
    std::shared_ptr<const MpegLayout> layout_; // null when the stream is decoded in one pass
    std::unique_ptr<ParallelMpeg> engine_;
    bool engineMayStart_ = false;
    bool onePassBehind_ = false; // the engine delivered what mh_ has not decoded
};

} // namespace

std::unique_ptr<Decoder> openMpegDecoder(CFile file, const char* path) {
    const std::string name(path);
    lastReadError = 0;
    // Since libmpg123 1.27 this does nothing; older versions need it once per process.
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    int err = MPG123_OK;
    Mpg123Ptr mh(mpg123_new(nullptr, &err));
    if (!mh) {
        setError(BASS_ERROR_MEM, name + ": no decoder: " + mpg123_plain_strerror(err));
        return nullptr;
    }
    // Gapless: a LAME/Xing tag's encoder delay and padding are cut, so the PCM has the length
    // of the encoded sound. Quiet: failures are reported through the layer's error, not stderr.
    int r = mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    if (r == MPG123_OK)
        r = mpg123_replace_reader_handle(mh.get(), readCallback, seekCallback, nullptr);
    if (r != MPG123_OK) {
        setError(BASS_ERROR_CREATE, name + ": decoder set-up failed: " + mpgError(mh.get(), r));
        return nullptr;
    }
    const auto open = [&] {
        if (seekFile(file.get(), 0, SEEK_SET) != 0) {
            setError(BASS_ERROR_FILEOPEN, name + ": cannot seek");
            return false;
        }
        if ((r = mpg123_open_handle(mh.get(), file.get())) != MPG123_OK) {
            setError(BASS_ERROR_FILEFORM, name + ": " + mpgError(mh.get(), r));
            return false;
        }
        return true;
    };
    // The tag is read at the open, but asking for its count takes the first frame away from
    // the survey, so the stream is opened again for it.
    if (!open())
        return nullptr;
    const bool plausible = tagFramesPlausible(mh.get(), file.get());
    mpg123_close(mh.get());
    if (!plausible &&
        (r = mpg123_param(mh.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0)) != MPG123_OK) {
        setError(BASS_ERROR_CREATE, name + ": decoder set-up failed: " + mpgError(mh.get(), r));
        return nullptr;
    }
    if (!open())
        return nullptr;
    Survey s = survey(mh.get());
    mpg123_close(mh.get());
    // A survey cut short by a failed read would pass the part before it off as the whole stream.
    if (lastReadError != 0) {
        setError(BASS_ERROR_FILEOPEN, name + ": " + s.stopReason);
        return nullptr;
    }
    if (s.frames == 0) {
        setError(BASS_ERROR_FILEFORM, name + ": no MPEG audio frames" +
                                          (s.stopReason.empty() ? "" : ": " + s.stopReason));
        return nullptr;
    }
    if (s.frames < 2 || !s.firstTwoAdjacent) {
        setError(BASS_ERROR_FILEFORM,
                 name + ": not an MPEG audio stream (no two consecutive frames)");
        return nullptr;
    }

    auto decoder = std::make_unique<MpegDecoder>(std::move(file), std::move(mh));
    if (!decoder->start(s, name, plausible))
        return nullptr;
    return decoder;
}

} // namespace quaverly::bass::detail
