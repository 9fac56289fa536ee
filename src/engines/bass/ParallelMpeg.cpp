#include "engines/bass/ParallelMpeg.h"

#include "engines/bass/Decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>

namespace quaverly::bass::detail {
namespace {

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

// libmpg123 delays Layer III output by this many samples; its gapless trimming adds it to the
// encoder delay of the tag.
constexpr std::uint64_t kDecoderDelay = 529;

std::atomic<int> sliceFramesForTesting{0};
std::atomic<std::uint64_t> slicesDecoded{0};

} // namespace

std::size_t mpegSliceFrames() {
    const int n = sliceFramesForTesting.load(std::memory_order_relaxed);
    return n > 0 ? static_cast<std::size_t>(n) : 256;
}

std::uint64_t mpegSlicesDecoded() {
    return slicesDecoded.load(std::memory_order_relaxed);
}

void setMpegSliceFramesForTesting(int n) {
    sliceFramesForTesting.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

void MpegStreamFacts::add(std::int64_t offset, int size, int frameLayer, int frameVersion,
                          long frameRate, bool mono, bool crc, bool freeFormat) {
    if (frames.empty()) {
        layer = frameLayer;
        version = frameVersion;
        rate = frameRate;
    } else {
        if (frames.back().offset + frames.back().size != offset)
            adjacent = false;
        if (frameLayer != layer || frameVersion != version || frameRate != rate)
            uniform = false;
    }
    if (freeFormat)
        uniform = false;
    // Layer III side information: MPEG-1 17 bytes mono, 32 stereo; MPEG-2 and 2.5 9 and 17.
    const int side = frameVersion == 0 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int main = std::max(0, size - 4 - (crc ? 2 : 0) - side);
    frames.push_back({offset, static_cast<std::uint32_t>(std::max(size, 0)),
                      static_cast<std::uint16_t>(std::min(main, 65535))});
}

std::shared_ptr<const MpegLayout> planParallelMpeg(MpegStreamFacts facts) {
    // Layer III only; the other layers are quick to decode in one pass anyway. A stream that
    // changes format, has free-format frames or junk between frames, or whose length had to be
    // measured (a tag that is off, streams glued together, resampling) has positions that do
    // not follow from frame counts.
    if (facts.layer != 3 || !facts.uniform || !facts.adjacent || facts.measured)
        return nullptr;

    // A false tag turns gapless trimming off; such files are rare enough for one pass.
    if (!facts.gapless)
        return nullptr;
    // Too short to split: one pass is as quick.
    const std::size_t count = facts.frames.size();
    if (count < 2 * mpegSliceFrames())
        return nullptr;

    auto layout = std::make_shared<MpegLayout>();
    const bool mpeg1 = facts.version == 0;
    layout->samplesPerFrame = mpeg1 ? 1152 : 576;
    layout->maxMainDataBegin = mpeg1 ? 511 : 255;
    // The synthesis filter turns its buffer by one of 16 places per 32 samples per channel.
    const int blocks = layout->samplesPerFrame / 32;
    layout->phasePeriod = 16 / std::gcd(blocks, 16);
    const auto spf = static_cast<std::uint64_t>(layout->samplesPerFrame);
    const std::uint64_t raw = count * spf;
    // libmpg123 trims a tag's delay (plus its own) at the start and ends at the scanned length;
    // without a tag nothing is trimmed. Anything else means the numbers are not understood.
    layout->begin = facts.encoderDelay >= 0
                        ? static_cast<std::uint64_t>(facts.encoderDelay) + kDecoderDelay
                        : 0;
    layout->length = facts.length;
    // With a tag, its delay, the length and its padding must make up the surveyed frames
    // exactly, which also shows that the survey saw every frame.
    const auto total = static_cast<std::int64_t>(raw);
    if (facts.length == 0 || (facts.encoderDelay < 0 && facts.length != raw) ||
        (facts.encoderDelay >= 0 &&
         (facts.encoderPadding < 0 ||
          facts.encoderDelay + static_cast<std::int64_t>(facts.length) + facts.encoderPadding !=
              total)))
        return nullptr;
    // When the trimmed start reaches into the second frame, libmpg123 passes over the frames
    // before it without showing them to the survey (MPEG-2 files with a LAME tag): their
    // places are not known.
    if (layout->begin >= spf)
        return nullptr;
    layout->path = std::move(facts.path);
    layout->frames = std::move(facts.frames);
    layout->rate = facts.rate;
    layout->channels = facts.channels;
    return layout;
}

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

struct SliceResult {
    std::vector<std::int16_t> pcm;
    std::string error; // why the slice was not decoded as planned, empty when it was
};

// Decodes slice `index`: from its lead-in's first byte to one frame past its end (the file's
// end for the last slice), dropping the lead-in's samples. The first slice starts at the
// file's first byte, so that tags and the Xing/Info frame are read as in the one pass.
SliceResult decodeSlice(const MpegLayout& l, std::size_t sliceFrames, std::size_t index,
                        const std::atomic<bool>& stop) {
    SliceResult res;
    const auto fail = [&](std::string why) {
        res.error = "slice " + std::to_string(index) + ": " + std::move(why);
        res.pcm.clear();
        return std::move(res);
    };
    const std::size_t count = l.frames.size();
    const std::size_t first = index * sliceFrames;
    const std::size_t n = std::min(sliceFrames, count - first);
    CFile file = openFileUtf8(l.path.c_str());
    if (!file)
        return fail(std::string("cannot open the file: ") + std::strerror(errno));
    // The synthesis filter turns by a fixed step per frame, and the result of its sums (by a
    // unit in the last place, now and then) depends on where it stands: the slice starts where
    // it stands as at frame 0.
    std::size_t start = 0;
    if (index > 0) {
        start = leadStart(l, first);
        start -= start % static_cast<std::size_t>(l.phasePeriod);
    }
    const bool last = first + n >= count;
    const std::int64_t from = index == 0 ? 0 : l.frames[start].offset;
    std::int64_t left = std::numeric_limits<std::int64_t>::max();
    if (!last)
        left = l.frames[first + n].offset + l.frames[first + n].size - from;
    const auto spf = static_cast<std::uint64_t>(l.samplesPerFrame);
    const auto ch = static_cast<std::uint64_t>(l.channels);
    const std::uint64_t rawFirst = first * spf;
    const std::uint64_t want = std::min<std::uint64_t>(n * spf, l.begin + l.length - rawFirst) * ch;

    int err = MPG123_OK;
    Mpg123Ptr h(mpg123_new(nullptr, &err));
    if (!h)
        return fail(std::string("no decoder: ") + mpg123_plain_strerror(err));
    mpg123_handle* mh = h.get();
    // No gapless trimming: positions are counted here. A slice that starts inside the stream
    // must not take a frame that looks like an Info frame for one.
    const long add = MPG123_QUIET | (index == 0 ? 0 : MPG123_IGNORE_INFOFRAME);
    int r = mpg123_param(mh, MPG123_ADD_FLAGS, add, 0.0);
    if (r == MPG123_OK)
        r = mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    if (r == MPG123_OK)
        r = mpg123_format_none(mh);
    if (r == MPG123_OK)
        r = mpg123_format(mh, l.rate, l.channels, MPG123_ENC_SIGNED_16);
    if (r == MPG123_OK)
        r = mpg123_open_feed(mh);
    if (r != MPG123_OK)
        return fail(std::string("decoder set-up failed: ") + mpg123_strerror(mh));

    if (seekFile(file.get(), from, SEEK_SET) != 0)
        return fail("cannot seek in the file");
    // The lead-in's first frames borrow from a reservoir the decoder has not got: they are fed
    // silenced until the bytes fed cover what a frame borrows. Frames k-2 and k-1 must be whole.
    if (index > 0) {
        std::vector<unsigned char> lead(static_cast<std::size_t>(l.frames[first].offset - from));
        if (std::fread(lead.data(), 1, lead.size(), file.get()) != lead.size())
            return fail("cannot read the lead-in");
        const bool mpeg1 = l.samplesPerFrame == 1152;
        std::size_t valid = 0; // reservoir bytes the decoder will hold at frame t
        for (std::size_t t = start; t < first; ++t) {
            unsigned char* f = lead.data() + (l.frames[t].offset - from);
            const bool mono = ((f[3] >> 6) & 3) == 3;
            const unsigned borrows = prepareLeadFrame(f, mpeg1, mono, false);
            if (borrows > valid) {
                if (t + 2 >= first)
                    return fail("the lead-in is too short");
                prepareLeadFrame(f, mpeg1, mono, true);
            }
            valid = l.frames[t].mainBytes + std::min<std::size_t>(borrows, valid);
        }
        left -= static_cast<std::int64_t>(lead.size());
        if ((r = mpg123_feed(mh, lead.data(), lead.size())) != MPG123_OK)
            return fail(mpg123_strerror(mh));
    }

    res.pcm.reserve(want);
    std::vector<unsigned char> in(64 * 1024);
    bool inputEnded = false;
    std::size_t decoded = 0; // frames, lead-in included
    const std::size_t frameSamples = static_cast<std::size_t>(spf * ch);
    const std::size_t granuleSamples = static_cast<std::size_t>(576 * ch);
    bool sounded = false; // the last granule decoded has a sample other than 0
    while (res.pcm.size() < want) {
        if (stop.load(std::memory_order_relaxed))
            return fail("stopped");
        off_t number = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        r = mpg123_decode_frame(mh, &number, &audio, &bytes);
        if (r == MPG123_OK) {
            // Each frame must be the one the survey found there: the file may have changed
            // since, and a frame lost to a resync would shift every sample after it.
            const std::size_t at = start + decoded;
            if (at >= count || from + mpg123_framepos(mh) != l.frames[at].offset ||
                bytes != frameSamples * 2)
                return fail("frame " + std::to_string(at) + " is not as surveyed");
            const auto* samples = reinterpret_cast<const std::int16_t*>(audio);
            // A granule the decoder gave up on (damaged or unusual data) comes out as zeros, and
            // its synthesis is skipped: from there on the one pass's filter stands differently
            // from that of a decoder started later, so no later slice would be exact. A granule
            // of zeros right after sound is taken for one; the one pass goes on from here.
            for (std::size_t g = 0; g < frameSamples; g += granuleSamples) {
                const bool zero = std::all_of(samples + g, samples + g + granuleSamples,
                                              [](std::int16_t v) { return v == 0; });
                if (zero && sounded && at >= first)
                    return fail("frame " + std::to_string(at) + " has a granule left out");
                sounded = !zero;
            }
            if (decoded++ < first - start)
                continue;
            const std::size_t take = std::min<std::size_t>(frameSamples, want - res.pcm.size());
            res.pcm.insert(res.pcm.end(), samples, samples + take);
            continue;
        }
        if (r == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || rate != l.rate ||
                channels != l.channels || encoding != MPG123_ENC_SIGNED_16)
                return fail("the decoder did not take the output format");
            continue;
        }
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_NEED_MORE)
            return fail(mpg123_strerror(mh));
        if (inputEnded)
            break;
        const std::size_t ask = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(in.size()), left));
        errno = 0;
        const std::size_t got = ask == 0 ? 0 : std::fread(in.data(), 1, ask, file.get());
        if (got == 0 && ask != 0 && std::ferror(file.get()))
            return fail(std::string("read error: ") + std::strerror(errno != 0 ? errno : EIO));
        left -= static_cast<std::int64_t>(got);
        if (got < ask || left == 0)
            inputEnded = true;
        if (got > 0 && (r = mpg123_feed(mh, in.data(), got)) != MPG123_OK)
            return fail(mpg123_strerror(mh));
    }
    if (res.pcm.size() < want)
        return fail("delivered " + std::to_string(res.pcm.size()) + " of " + std::to_string(want) +
                    " samples");
    return res;
}

} // namespace

struct ParallelMpeg::Shared {
    struct Slot {
        bool ready = false;
        SliceResult result;
    };

    std::shared_ptr<const MpegLayout> layout;
    std::size_t sliceFrames = 0;
    std::size_t slices = 0; // those that hold output samples

    std::mutex mutex;
    std::condition_variable work;  // a slot became free, or stop
    std::condition_variable ready; // a slice was decoded
    std::vector<Slot> slots;       // slice i in slot i % size
    std::size_t next = 0;          // the next slice a worker takes
    std::size_t current = 0;       // the slice the reader is in
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;

    // The reader's own: raw sample index (of the ungapless stream) of the next output frame.
    std::uint64_t raw = 0;

    void worker() {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex);
                work.wait(lock, [&] {
                    return stop.load() || (next < slices && next < current + slots.size());
                });
                if (stop.load())
                    return;
                index = next++;
            }
            SliceResult result = decodeSlice(*layout, sliceFrames, index, stop);
            if (result.error.empty())
                slicesDecoded.fetch_add(1, std::memory_order_relaxed);
            {
                std::lock_guard lock(mutex);
                Slot& slot = slots[index % slots.size()];
                slot.result = std::move(result);
                slot.ready = true;
            }
            ready.notify_all();
        }
    }
};

ParallelMpeg::ParallelMpeg(std::shared_ptr<const MpegLayout> layout, int threads)
    : shared_(std::make_unique<Shared>()) {
    Shared& s = *shared_;
    s.layout = std::move(layout);
    const MpegLayout& l = *s.layout;
    s.sliceFrames = mpegSliceFrames();
    const std::uint64_t sliceSamples =
        s.sliceFrames * static_cast<std::uint64_t>(l.samplesPerFrame);
    const std::uint64_t end = l.begin + l.length;
    s.slices =
        std::min<std::size_t>((l.frames.size() + s.sliceFrames - 1) / s.sliceFrames,
                              static_cast<std::size_t>((end + sliceSamples - 1) / sliceSamples));
    s.current = s.next = static_cast<std::size_t>(l.begin / sliceSamples);
    s.raw = l.begin;
    const int workers = std::max(1, threads);
    s.slots.resize(2 * static_cast<std::size_t>(workers));
    s.threads.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i)
        s.threads.emplace_back([&s] { s.worker(); });
}

ParallelMpeg::~ParallelMpeg() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->work.notify_all();
    for (auto& t : shared_->threads)
        t.join();
}

std::size_t ParallelMpeg::read(std::int16_t* out, std::size_t frames) {
    Shared& s = *shared_;
    const MpegLayout& l = *s.layout;
    const auto ch = static_cast<std::uint64_t>(l.channels);
    const std::uint64_t end = l.begin + l.length;
    const std::uint64_t sliceSamples =
        s.sliceFrames * static_cast<std::uint64_t>(l.samplesPerFrame);
    std::size_t done = 0;
    while (done < frames && s.raw < end && !failed()) {
        Shared::Slot& slot = s.slots[s.current % s.slots.size()];
        {
            // The worker fills a slot before it marks it ready and leaves it alone until the
            // reader has moved past it, so its samples are read without the lock.
            std::unique_lock lock(s.mutex);
            s.ready.wait(lock, [&] { return slot.ready; });
        }
        if (!slot.result.error.empty()) {
            failure_ = slot.result.error;
            break;
        }
        const std::uint64_t sliceStart = s.current * sliceSamples;
        const std::uint64_t sliceEnd = sliceStart + slot.result.pcm.size() / ch;
        const std::uint64_t n =
            std::min<std::uint64_t>({frames - done, sliceEnd - s.raw, end - s.raw});
        std::memcpy(out + done * ch, slot.result.pcm.data() + (s.raw - sliceStart) * ch,
                    static_cast<std::size_t>(n * ch) * sizeof(std::int16_t));
        done += static_cast<std::size_t>(n);
        s.raw += n;
        if (s.raw == sliceEnd && s.raw < end) {
            {
                std::lock_guard lock(s.mutex);
                slot.ready = false;
                slot.result = {};
                ++s.current;
            }
            s.work.notify_all();
        }
    }
    return done;
}

} // namespace quaverly::bass::detail
