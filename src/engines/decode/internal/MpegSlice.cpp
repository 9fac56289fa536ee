// One slice of a Layer III stream decoded apart, with the very samples of the one pass (see
// ParallelMpeg.h for how).

#include "engines/decode/internal/MpegSlice.h"

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/MpegSurvey.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace quaverly::decode {
namespace {

// The first frame fed for the slice that starts at frame k, before the phase is matched. Frames
// k-2 and k-1 must come out exactly as in the one pass: the synthesis filter's history at frame
// k comes from the last granule of frame k-1, and in MPEG-2 (one granule per frame) that
// granule's overlap from frame k-2. Each of them needs its whole bit reservoir, so before them
// come frames whose main data covers the farthest back reference, and one more for safety.
std::size_t leadStart(const MpegLayout& l, std::size_t k) {
    if (k < 2)
        return 0;
    std::size_t j = k - 2;
    int covered = 0;
    while (j > 0 && covered < l.maxMainDataBegin)
        covered += l.frames[--j].mainBytes;
    if (j > 0)
        --j;
    return j;
}

// Bits of Layer III side information, read and written in place.
struct SideBits {
    unsigned char* p;
    std::size_t bit = 0;
    unsigned get(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++bit)
            v = (v << 1) | ((p[bit / 8] >> (7 - bit % 8)) & 1u);
        return v;
    }
    void clear(int n) {
        for (int i = 0; i < n; ++i, ++bit)
            p[bit / 8] = static_cast<unsigned char>(p[bit / 8] & ~(0x80u >> (bit % 8)));
    }
};

// Prepares the frame at `frame` (header first) for the start of a lead-in. Returns its
// main_data_begin. With `silence`, every granule is made empty (no scale factors, no Huffman
// data, long blocks) while main_data_begin stays, so the decoder still carries the reservoir
// over: decoding the bytes of a missing reservoir instead could end a granule early in the
// decoder, which then skips that granule's synthesis and leaves the filter turned differently
// from the one pass for the rest of the slice.
unsigned prepareLeadFrame(unsigned char* frame, bool mpeg1, bool mono, bool silence) {
    SideBits b{frame + ((frame[1] & 1) ? 4 : 6)};
    const unsigned begin = b.get(mpeg1 ? 9 : 8);
    if (!silence)
        return begin;
    const int channels = mono ? 1 : 2;
    b.get(mpeg1 ? (mono ? 5 : 3) + 4 * channels : (mono ? 1 : 2)); // private bits, scfsi
    for (int granule = 0; granule < (mpeg1 ? 2 : 1); ++granule) {
        for (int c = 0; c < channels; ++c) {
            b.clear(12 + 9);            // part2_3_length, big_values
            b.get(8);                   // global_gain
            b.clear(mpeg1 ? 4 : 9 + 1); // scalefac_compress, window_switching_flag
            b.get(22 + (mpeg1 ? 3 : 2));
        }
    }
    return begin;
}

// Decodes slice `index`: from its lead-in's first byte to one frame past its end (the file's
// end for the last slice), dropping the lead-in's samples. The first slice starts at the
// file's first byte, so that tags and the Xing/Info frame are read as in the one pass.
class SliceDecoder {
public:
    SliceDecoder(const MpegLayout& l, std::size_t sliceFrames, std::size_t index)
        : l_(l), index_(index), count_(l.frames.size()), first_(index * sliceFrames),
          n_(std::min(sliceFrames, count_ - first_)) {}

    SliceResult run(const std::stop_token& stop) {
        if (open() && (index_ == 0 || feedLeadIn()) && decode(stop))
            return std::move(res_);
        res_.pcm.clear();
        return std::move(res_);
    }

private:
    bool fail(const std::string& why) {
        res_.error = "slice " + std::to_string(index_) + ": " + why;
        return false;
    }

    // Opens the file and a feed handle, and works out where the slice's input starts and ends
    // and how many samples it delivers.
    bool open() {
        file_ = openFile(l_.path);
        if (!file_)
            return fail(std::string("cannot open the file: ") + std::strerror(errno));
        // The synthesis filter turns by a fixed step per frame, and the result of its sums (by a
        // unit in the last place, now and then) depends on where it stands: the slice starts
        // where it stands as at frame 0.
        if (index_ > 0) {
            start_ = leadStart(l_, first_);
            start_ -= start_ % static_cast<std::size_t>(l_.phasePeriod);
        }
        from_ = index_ == 0 ? 0 : l_.frames[start_].offset;
        if (first_ + n_ < count_)
            left_ = l_.frames[first_ + n_].offset + l_.frames[first_ + n_].size - from_;
        const auto spf = static_cast<std::uint64_t>(l_.samplesPerFrame);
        const auto ch = static_cast<std::uint64_t>(l_.channels);
        want_ = std::min<std::uint64_t>(n_ * spf, l_.begin + l_.length - first_ * spf) * ch;
        frameSamples_ = static_cast<std::size_t>(spf * ch);
        granuleSamples_ = static_cast<std::size_t>(576 * ch);

        int err = MPG123_OK;
        h_.reset(mpg123_new(nullptr, &err));
        if (!h_)
            return fail(std::string("no decoder: ") + mpg123_plain_strerror(err));
        mpg123_handle* mh = h_.get();
        // No gapless trimming: positions are counted here. A slice that starts inside the stream
        // must not take a frame that looks like an Info frame for one.
        const long add = MPG123_QUIET | (index_ == 0 ? 0 : MPG123_IGNORE_INFOFRAME);
        int r = mpg123_param(mh, MPG123_ADD_FLAGS, add, 0.0);
        if (r == MPG123_OK)
            r = mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
        if (r == MPG123_OK)
            r = mpg123_format_none(mh);
        if (r == MPG123_OK)
            r = mpg123_format(mh, l_.rate, l_.channels, MPG123_ENC_SIGNED_16);
        if (r == MPG123_OK)
            r = mpg123_open_feed(mh);
        if (r != MPG123_OK)
            return fail(std::string("decoder set-up failed: ") + mpg123_strerror(mh));
        if (seekFile(file_.get(), from_, SEEK_SET) != 0)
            return fail("cannot seek in the file");
        return true;
    }

    // The lead-in's first frames borrow from a reservoir the decoder has not got: they are fed
    // silenced until the bytes fed cover what a frame borrows. Frames k-2 and k-1 must be whole.
    bool feedLeadIn() {
        std::vector<unsigned char> lead(static_cast<std::size_t>(l_.frames[first_].offset - from_));
        if (std::fread(lead.data(), 1, lead.size(), file_.get()) != lead.size())
            return fail("cannot read the lead-in");
        const bool mpeg1 = l_.samplesPerFrame == 1152;
        std::size_t valid = 0; // reservoir bytes the decoder will hold at frame t
        for (std::size_t t = start_; t < first_; ++t) {
            unsigned char* f = lead.data() + (l_.frames[t].offset - from_);
            const bool mono = ((f[3] >> 6) & 3) == 3;
            const unsigned borrows = prepareLeadFrame(f, mpeg1, mono, false);
            if (borrows > valid) {
                if (t + 2 >= first_)
                    return fail("the lead-in is too short");
                prepareLeadFrame(f, mpeg1, mono, true);
            }
            valid = l_.frames[t].mainBytes + std::min<std::size_t>(borrows, valid);
        }
        left_ -= static_cast<std::int64_t>(lead.size());
        if (mpg123_feed(h_.get(), lead.data(), lead.size()) != MPG123_OK)
            return fail(mpg123_strerror(h_.get()));
        return true;
    }

    bool decode(const std::stop_token& stop) {
        mpg123_handle* mh = h_.get();
        res_.pcm.reserve(want_);
        in_.resize(64 * 1024);
        while (res_.pcm.size() < want_) {
            if (stop.stop_requested())
                return fail("stopped");
            off_t number = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            const int r = mpg123_decode_frame(mh, &number, &audio, &bytes);
            if (r == MPG123_OK) {
                if (!take(audio, bytes))
                    return false;
                continue;
            }
            if (r == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0, encoding = 0;
                if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK ||
                    rate != l_.rate || channels != l_.channels || encoding != MPG123_ENC_SIGNED_16)
                    return fail("the decoder did not take the output format");
                continue;
            }
            if (r == MPG123_DONE)
                break;
            if (r != MPG123_NEED_MORE)
                return fail(mpg123_strerror(mh));
            if (inputEnded_)
                break;
            if (!feed())
                return false;
        }
        if (res_.pcm.size() < want_)
            return fail("delivered " + std::to_string(res_.pcm.size()) + " of " +
                        std::to_string(want_) + " samples");
        return true;
    }

    // Checks a decoded frame and keeps its samples unless it is one of the lead-in.
    bool take(const unsigned char* audio, std::size_t bytes) {
        // Each frame must be the one the survey found there: the file may have changed since,
        // and a frame lost to a resync would shift every sample after it.
        const std::size_t at = start_ + decoded_;
        if (at >= count_ || from_ + mpg123_framepos(h_.get()) != l_.frames[at].offset ||
            bytes != frameSamples_ * 2)
            return fail("frame " + std::to_string(at) + " is not as surveyed");
        const auto* samples = reinterpret_cast<const std::int16_t*>(audio);
        // A granule the decoder gave up on (damaged or unusual data) comes out as zeros, and its
        // synthesis is skipped: from there on the one pass's filter stands differently from that
        // of a decoder started later, so no later slice would be exact. A granule of zeros right
        // after sound is taken for one; the one pass goes on from here.
        for (std::size_t g = 0; g < frameSamples_; g += granuleSamples_) {
            const bool zero = std::all_of(samples + g, samples + g + granuleSamples_,
                                          [](std::int16_t v) { return v == 0; });
            if (zero && sounded_ && at >= first_)
                return fail("frame " + std::to_string(at) + " has a granule left out");
            sounded_ = !zero;
        }
        if (decoded_++ < first_ - start_)
            return true;
        const std::size_t keep = std::min<std::size_t>(frameSamples_, want_ - res_.pcm.size());
        res_.pcm.insert(res_.pcm.end(), samples, samples + keep);
        return true;
    }

    // Feeds the decoder the next bytes of the slice's input.
    bool feed() {
        const std::size_t ask = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(in_.size()), left_));
        errno = 0;
        const std::size_t got = ask == 0 ? 0 : std::fread(in_.data(), 1, ask, file_.get());
        if (got == 0 && ask != 0 && std::ferror(file_.get()))
            return fail(std::string("read error: ") + std::strerror(errno != 0 ? errno : EIO));
        left_ -= static_cast<std::int64_t>(got);
        if (got < ask || left_ == 0)
            inputEnded_ = true;
        if (got > 0 && mpg123_feed(h_.get(), in_.data(), got) != MPG123_OK)
            return fail(mpg123_strerror(h_.get()));
        return true;
    }

    const MpegLayout& l_;
    const std::size_t index_;
    const std::size_t count_;                                      // frames of the stream
    const std::size_t first_;                                      // the slice's first frame
    const std::size_t n_;                                          // and its number of frames
    std::size_t start_ = 0;                                        // the lead-in's first frame
    std::int64_t from_ = 0;                                        // the byte fed first
    std::int64_t left_ = std::numeric_limits<std::int64_t>::max(); // bytes still to feed
    std::uint64_t want_ = 0;                                       // samples the slice delivers
    std::size_t frameSamples_ = 0;
    std::size_t granuleSamples_ = 0;
    CFile file_;
    Mpg123Ptr h_;
    std::vector<unsigned char> in_;
    bool inputEnded_ = false;
    std::size_t decoded_ = 0; // frames, lead-in included
    bool sounded_ = false;    // the last granule decoded has a sample other than 0
    SliceResult res_;
};

} // namespace

SliceResult decodeSlice(const MpegLayout& l, std::size_t sliceFrames, std::size_t index,
                        const std::stop_token& stop) {
    return SliceDecoder(l, sliceFrames, index).run(stop);
}

} // namespace quaverly::decode
