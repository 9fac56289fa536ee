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
// A tag that announces more frames than the stream holds mostly belongs to a download cut
// short: the plain decode trims the encoder delay at the start all the same and runs to the
// last frame there is, as `mpg123 -w` does. Such a stream is measured, and decoded in one pass.
// The format tells what the trimming removed from the raw decode: the tag's encoder delay plus
// libmpg123's Layer III delay at the start, the tag's padding less that delay at the end
// (nothing when the end is cut off); nothing without a tag.
//
// Not audio: libmpg123 searches for frame sync words, and random bytes or a text may contain
// one that looks like a frame header. A stream is accepted only when its first two frames
// follow each other without a gap and agree in layer, version and sample rate. (libmpg123 1.31
// looks ahead for the second header itself when the input can seek, as ours can; the rule is
// checked here all the same so that it does not rest on that detail. A stream of a single
// frame, which libmpg123 decodes to nothing, is refused by it.)
//
// A tag that announces more frames than the file can hold (cut short, or a false count) is
// harmful where libmpg123 resamples: it works out gapless positions by walking the announced
// frames one by one (about 30 s for a count of 2^32). A stream that changes rate with such a
// tag is decoded without gapless trimming, so every frame it holds is kept.

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/MpegSurvey.h"
#include "engines/decode/internal/ParallelMpeg.h"
#include "engines/util/CodecThreads.h"

#include <mpg123.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace quaverly::decode {
namespace {

SongKind kindOfLayer(int layer) {
    switch (layer) {
    case 1:
        return SongKind::MpegLayer1;
    case 2:
        return SongKind::MpegLayer2;
    default:
        return SongKind::MpegLayer3;
    }
}

// A failure of the stream while it is being opened: a failed read of the file is one of the
// file (it could not be read), anything else one of its format.
int openFailureCode() {
    return lastReadError() != 0 ? sound::kFileOpen : sound::kFileForm;
}

QString words(const std::string& text) {
    return QString::fromStdString(text);
}

// A failure of a step that the decoder's callers tell of in their own words: the cause alone.
Error because(const std::string& text) {
    return Error({}, words(text));
}

// The cause of a failed step, empty when it did not fail.
QString causeOf(const Status& s) {
    return s ? QString() : s.error().cause();
}

// Samples per channel in one frame.
std::uint64_t samplesPerFrame(int layer, int version) {
    if (layer == 1)
        return 384;
    return layer == 2 || version == 0 ? 1152 : 576;
}

class MpegDecoder final : public Decoder {
public:
    MpegDecoder(CFile file, Mpg123Ptr mh, QString path)
        : file_(std::move(file)), mh_(std::move(mh)), path_(std::move(path)) {}

    // Second half of the open: fixes the output format and finds the exact length.
    Status start(Survey& s, bool gapless) {
        format_.rate = static_cast<std::uint32_t>(s.rate);
        format_.channels = s.anyStereo ? 2 : 1;
        format_.kind = kindOfLayer(s.layer);
        format_.sourceBits = 0;
        format_.channelsChange = s.anyStereo && s.anyMono;
        format_.sourceChannels = format_.channels;
        format_.codec = QStringLiteral("MP%1").arg(s.layer == 1 || s.layer == 2 ? s.layer : 3);
        format_.container = QStringLiteral("MPEG audio");
        frameBytes_ = static_cast<std::size_t>(format_.channels) * 2;
        measured_ = s.rateChanges;

        mpg123_handle* mh = mh_.get();
        int r = mpg123_format_none(mh);
        if (r == MPG123_OK)
            r = mpg123_format(mh, s.rate, format_.channels, MPG123_ENC_SIGNED_16);
        if (r != MPG123_OK)
            return fail(sound::kFormat, "output format refused: " + mpgError(mh, r));
        const Result<Scanned> scanned = scannedLength();
        if (!scanned)
            return fail(openFailureCode(), scanned.error().cause());
        if (Status rewound = restart(); !rewound)
            return fail(openFailureCode(), rewound.error().cause());
        // Such a stream is measured, and its positions found by decoding from the start:
        // libmpg123's own positions follow the tag, not what the plain decode delivers.
        if (!scanned->matchesPlainDecode)
            measured_ = true;
        if (measured_) {
            const auto measured = measure();
            if (!measured)
                return measured.error();
            frames_ = *measured;
        } else {
            if (scanned->length < 0)
                return fail(sound::kFileForm, "unknown length: " + scanned->unknownWhy);
            frames_ = static_cast<std::uint64_t>(scanned->length);
        }
        if (const Status taken = checkOutputFormat(s.rate); !taken)
            return taken;
        position_ = 0; // measuring read the stream once
        noteTrimming(s, *scanned, gapless);
        planEngine(s.facts, *scanned, gapless);
        return {};
    }

    // Reading from position 0 goes through the engine when the stream qualifies and more than
    // one thread may decode. The engine's output is the one pass's; when it cannot go on, the
    // one pass takes over at the same position.
    Decoded read(std::int16_t* out, std::size_t frames) override {
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
            return {got, {}};
        }
        engine_.reset();
        if (Status caught = catchUp(); !caught)
            return {got, caught};
        Decoded rest =
            readOnePass(out + got * static_cast<std::size_t>(format_.channels), frames - got);
        rest.frames += got;
        return rest;
    }

    // libmpg123 seeks to the exact sample, but its synthesis filter keeps the phase it had
    // before the seek, so a few samples after it may differ by 1 from a straight decode.
    // Position 0 therefore restarts the decoder: a rewound stream repeats its bytes exactly.
    // With the engine running, a seek to where it stands lets it go on. Any other seek stops
    // it; the one pass then seeks from the state it would have had after reading as far as the
    // engine did (libmpg123's seek keeps the synthesis filter's phase), so even the samples
    // after a seek are those of a decoder that never had an engine.
    Status seek(std::uint64_t frame) override {
        if (engine_ && frame == position_)
            return {};
        engine_.reset();
        if (frame == 0) {
            engineMayStart_ = layout_ != nullptr;
            onePassBehind_ = false;
        } else if (onePassBehind_) {
            ended_ = false;
            // Where the catching up fails, the seek below starts from where it stopped, and
            // tells of its own failure.
            static_cast<void>(catchUp());
        }
        ended_ = false;
        if (frame == 0 || measured_) {
            position_ = 0;
            if (Status rewound = restart(); !rewound) {
                ended_ = true;
                return rewound;
            }
            // Positions in a resampled stream, or one whose tag is off, are not exact in
            // libmpg123: decode up to them.
            return skip(frame);
        }
        if (mpg123_seek(mh_.get(), static_cast<off_t>(frame), SEEK_SET) < 0) {
            ended_ = true;
            return because(mpg123_strerror(mh_.get()));
        }
        position_ = frame;
        return {};
    }

private:
    struct Scanned {
        off_t length = -1; // after gapless trimming, -1 when libmpg123 cannot tell
        long delay = -1;   // the tag's encoder delay and padding, -1 without one
        long padding = -1;
        off_t announcedFrames = 0; // by the tag, or estimated from the file's size
        off_t frames = 0;          // audio frames the scan found
        bool matchesPlainDecode = true;
        QString unknownWhy; // libmpg123's words when it cannot tell the length
    };

    Error fail(int code, const std::string& cause) const {
        return Error(path_, words(cause), code);
    }
    Error fail(int code, const QString& cause) const { return Error(path_, cause, code); }

    // The output format libmpg123 settled on must be the one fixed at the open.
    Status checkOutputFormat(long rate) {
        if (frames_ == 0)
            return {};
        long got = 0;
        int channels = 0, encoding = 0;
        const int r = mpg123_getformat(mh_.get(), &got, &channels, &encoding);
        if (r == MPG123_OK && got == rate && channels == format_.channels &&
            encoding == MPG123_ENC_SIGNED_16)
            return {};
        return fail(sound::kFormat, "the decoder did not take the output format" +
                                        (r != MPG123_OK ? ": " + mpgError(mh_.get(), r) : ""));
    }

    // Fills in what gapless decoding removed from the raw decode (see the top of the file),
    // whose length follows from the frame count when all frames are alike; else as tagged.
    void noteTrimming(const Survey& s, const Scanned& scanned, bool gapless) {
        if (!gapless || scanned.delay < 0 || scanned.padding < 0)
            return;
        const std::uint64_t begin = static_cast<std::uint64_t>(scanned.delay) + kLayer3DecoderDelay;
        const auto end = static_cast<std::uint64_t>(scanned.padding);
        const bool endCutOff = scanned.announcedFrames > scanned.frames;
        if (!s.facts.uniform || scanned.frames <= 0) {
            format_.delay = begin;
            format_.padding =
                endCutOff || end < kLayer3DecoderDelay ? 0 : end - kLayer3DecoderDelay;
            return;
        }
        const std::uint64_t raw =
            static_cast<std::uint64_t>(scanned.frames) * samplesPerFrame(s.layer, s.version);
        format_.delay = std::min(begin, raw);
        const std::uint64_t kept = format_.delay + frames_;
        format_.padding = raw > kept ? raw - kept : 0;
    }

    // Lays out the stream for decoding on several threads, when it qualifies.
    void planEngine(MpegStreamFacts& facts, const Scanned& scanned, bool gapless) {
        facts.path = path_;
        facts.uniform = facts.uniform && !format_.channelsChange;
        facts.channels = format_.channels;
        facts.encoderDelay = scanned.delay;
        facts.encoderPadding = scanned.padding;
        facts.gapless = gapless;
        facts.measured = measured_;
        facts.length = frames_;
        layout_ = planParallelMpeg(std::move(facts));
        engineMayStart_ = layout_ != nullptr;
    }

    Decoded readOnePass(std::int16_t* out, std::size_t frames) {
        if (ended_)
            return {};
        Status status;
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
                status = because(mpgError(mh_.get(), r));
                ended_ = true;
                break;
            }
            // libmpg123 fills the buffer unless it ends; guard against a decoder that neither
            // delivers nor ends.
            if (done == 0 && ++idle > 1000) {
                status = because("the decoder makes no progress");
                ended_ = true;
                break;
            }
        }
        position_ += got / frameBytes_;
        return {got / frameBytes_, status};
    }

    // Brings the one pass to where the engine stopped, in the very state it would have had
    // reading there itself. The engine only runs while mh_ is as the open or the rewind left it
    // (not even reopened: libmpg123 learns the file's size at the open, and a file that has
    // shrunk since must fail as it would have), so decoding up to the position is enough.
    Status catchUp() {
        const std::uint64_t target = position_;
        position_ = 0;
        onePassBehind_ = false;
        return skip(target);
    }

    // Opens the stream from its first byte, as fresh as a new decoder; the output format set
    // in start() stays. Not scanned: see the top of the file.
    Status restart() {
        mpg123_handle* mh = mh_.get();
        mpg123_close(mh);
        if (seekFile(file_.get(), 0, SEEK_SET) != 0)
            return because("cannot seek in the file");
        if (const int r = mpg123_open_handle(mh, file_.get()); r != MPG123_OK)
            return because(mpgError(mh, r));
        return {};
    }

    // The stream's length from a scan of every frame (about 10 ms for a 5-minute MP3), and
    // whether a plain decode delivers just as much. It does unless the stream has a tag with
    // encoder delay and padding whose frame count is not the stream's (the length the tag
    // announces differs from the scanned one), or more audio follows the tagged part.
    Result<Scanned> scannedLength() {
        mpg123_handle* mh = mh_.get();
        if (Status rewound = restart(); !rewound)
            return rewound.error();
        Scanned s;
        const off_t announced = mpg123_length(mh);
        s.announcedFrames = mpg123_framelength(mh);
        long delay = -1, padding = -1, stitched = 0;
        double unused = 0;
        mpg123_getstate(mh, MPG123_ENC_DELAY, &delay, &unused);
        mpg123_getstate(mh, MPG123_ENC_PADDING, &padding, &unused);
        const int r = mpg123_scan(mh);
        // libmpg123 ends a scan at a failed read as at the end of the file.
        if (r != MPG123_OK || lastReadError() != 0)
            return because(mpgError(mh, r));
        s.length = mpg123_length(mh);
        if (s.length < 0)
            s.unknownWhy = words(mpg123_strerror(mh));
        s.frames = mpg123_framelength(mh);
        mpg123_getstate(mh, MPG123_FRANKENSTEIN, &stitched, &unused);
        const bool gapless = delay >= 0 || padding >= 0;
        s.matchesPlainDecode = stitched == 0 && (!gapless || announced == s.length);
        s.delay = delay;
        s.padding = padding;
        return s;
    }

    // Decodes and drops `frames` frames; the decode's failure on the way. Past the decodable
    // end the next read comes up short.
    Status skip(std::uint64_t frames) {
        std::vector<std::int16_t> scratch(frames == 0 ? 0 : 16384);
        const std::size_t perRead = scratch.size() / static_cast<std::size_t>(format_.channels);
        while (frames > 0) {
            const std::size_t n = frames < perRead ? static_cast<std::size_t>(frames) : perRead;
            const Decoded got = read(scratch.data(), n);
            frames -= got.frames;
            if (got.frames < n)
                return got.status;
        }
        return {};
    }

    // Frames of the whole stream, by decoding it; rewinds afterwards.
    Result<std::uint64_t> measure() {
        std::vector<std::int16_t> scratch(16384);
        const std::size_t perRead = scratch.size() / static_cast<std::size_t>(format_.channels);
        std::uint64_t total = 0;
        Status stopped;
        for (;;) {
            const Decoded got = read(scratch.data(), perRead);
            total += got.frames;
            if (got.frames < perRead) {
                stopped = got.status;
                break;
            }
        }
        if (lastReadError() != 0)
            return fail(sound::kFileOpen, "cannot measure the length: " + causeOf(stopped));
        ended_ = false;
        if (Status rewound = restart(); !rewound)
            return fail(openFailureCode(),
                        "cannot rewind after measuring: " + rewound.error().cause());
        return total;
    }

    CFile file_; // must outlive mh_, which reads through it
    Mpg123Ptr mh_;
    QString path_;
    std::size_t frameBytes_ = 2;
    bool measured_ = false; // the length was measured by decoding, and so are positions
    bool ended_ = false;
    std::uint64_t position_ = 0;               // of the next frame read
    std::shared_ptr<const MpegLayout> layout_; // null when the stream is decoded in one pass
    std::unique_ptr<ParallelMpeg> engine_;
    bool engineMayStart_ = false;
    bool onePassBehind_ = false; // the engine delivered what mh_ has not decoded
};

// A new libmpg123 handle that reads through the stdio file, gapless (a LAME/Xing tag's encoder
// delay and padding are cut, so the PCM has the length of the encoded sound) and quiet
// (failures are reported through the Error, not on standard error).
Result<Mpg123Ptr> newHandle(const QString& path) {
    // Since libmpg123 1.27 this does nothing; older versions need it once per process.
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    int err = MPG123_OK;
    Mpg123Ptr mh(mpg123_new(nullptr, &err));
    if (!mh)
        return Error(path, QStringLiteral("no decoder: ") + mpg123_plain_strerror(err),
                     sound::kMemory);
    int r = mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    if (r == MPG123_OK)
        r = readThroughStdio(mh.get());
    if (r != MPG123_OK)
        return Error(path, words("decoder set-up failed: " + mpgError(mh.get(), r)),
                     sound::kCreate);
    return mh;
}

// Opens the stream in `mh` from the file's first byte.
Status openStream(mpg123_handle* mh, std::FILE* file, const QString& path) {
    if (seekFile(file, 0, SEEK_SET) != 0)
        return Error(path, QStringLiteral("cannot seek"), sound::kFileOpen);
    if (const int r = mpg123_open_handle(mh, file); r != MPG123_OK)
        return Error(path, words(mpgError(mh, r)), openFailureCode());
    return {};
}

// Refuses what is not MPEG audio (see the top of the file); `proof`: by its first two frames.
Status checkSurvey(const Survey& s, const QString& path, bool proof) {
    // A survey cut short by a failed read would pass the part before it off as the whole stream.
    if (lastReadError() != 0)
        return Error(path, words(s.stopReason), sound::kFileOpen);
    if (s.frames == 0)
        return Error(
            path, words("no MPEG audio frames" + (s.stopReason.empty() ? "" : ": " + s.stopReason)),
            sound::kFileForm);
    if (proof && (s.frames < 2 || !s.firstTwoAdjacent))
        return Error(path, QStringLiteral("not an MPEG audio stream (no two consecutive frames)"),
                     sound::kFileForm);
    return {};
}

// Turns gapless trimming on or off (for this survey and the decoding after it), walks the frame
// headers from the file's first byte and refuses what is not MPEG audio.
Result<Survey> surveyStream(mpg123_handle* mh, std::FILE* file, const QString& path, bool gapless,
                            bool proof) {
    const int r =
        mpg123_param(mh, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    if (r != MPG123_OK)
        return Error(path, words("decoder set-up failed: " + mpgError(mh, r)), sound::kCreate);
    if (Status opened = openStream(mh, file, path); !opened)
        return opened.error();
    Survey s = survey(mh);
    mpg123_close(mh);
    if (Status audio = checkSurvey(s, path, proof); !audio)
        return audio.error();
    return s;
}

} // namespace

Result<DecoderPtr> openMpegDecoder(CFile file, const QString& path) {
    clearReadError();
    auto handle = newHandle(path);
    if (!handle)
        return handle.error();
    Mpg123Ptr mh = std::move(*handle);
    // The tag is read at the open, but asking for its count takes the first frame away from
    // the survey, so the stream is opened again for it.
    if (Status opened = openStream(mh.get(), file.get(), path); !opened)
        return opened.error();
    const bool plausible = tagFramesPlausible(mh.get(), file.get());
    mpg123_close(mh.get());
    // A false count only harms a resampled stream (see the top of the file): that survey is made
    // untrimmed, as trimming passes over the first frames. With no change of rate the stream is
    // surveyed again as it is decoded, trimmed; the proof of audio is the first survey's.
    auto surveyed = surveyStream(mh.get(), file.get(), path, plausible, true);
    if (!surveyed)
        return surveyed.error();
    const bool gapless = plausible || !surveyed->rateChanges;
    if (gapless && !plausible) {
        surveyed = surveyStream(mh.get(), file.get(), path, true, false);
        if (!surveyed)
            return surveyed.error();
    }

    auto decoder = std::make_unique<MpegDecoder>(std::move(file), std::move(mh), path);
    if (Status started = decoder->start(*surveyed, gapless); !started)
        return started.error();
    return DecoderPtr(std::move(decoder));
}

} // namespace quaverly::decode
