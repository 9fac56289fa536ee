#include "engines/decode/internal/ParallelMpeg.h"

#include "engines/decode/internal/MpegSlice.h"
#include "engines/decode/internal/MpegSurvey.h"

#include "engines/util/OrderedPool.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>

namespace quaverly::decode {
namespace {

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

    // Without gapless trimming (a false frame count on a stream that changes rate): rare enough
    // for one pass.
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
                        ? static_cast<std::uint64_t>(facts.encoderDelay) + kLayer3DecoderDelay
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

struct ParallelMpeg::Shared {
    std::shared_ptr<const MpegLayout> layout;
    std::size_t sliceFrames = 0;
    std::size_t slices = 0;    // those that hold output samples
    std::size_t lookahead = 0; // slices decoded or being decoded ahead, the reader's included
    std::size_t next = 0;      // the next slice handed to the workers
    std::size_t current = 0;   // the slice the reader is in

    // The reader's own: raw sample index (of the ungapless stream) of the next output frame, and
    // the slice it reads from while `holding`.
    std::uint64_t raw = 0;
    SliceResult slice;
    bool holding = false;

    // Last: its workers are joined before everything above goes.
    OrderedPool<std::size_t, SliceResult> pool{
        [this](std::size_t& index, const std::stop_token& stop) {
            SliceResult result = decodeSlice(*layout, sliceFrames, index, stop);
            if (result.error.empty())
                slicesDecoded.fetch_add(1, std::memory_order_relaxed);
            return result;
        }};

    // Hands the workers slices until `lookahead` are ahead of the reader, or all of them.
    void submitAhead() {
        while (next < slices && next < current + lookahead)
            pool.submit(next++);
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
    s.lookahead = 2 * static_cast<std::size_t>(workers);
    s.pool.start(workers);
    s.submitAhead();
}

ParallelMpeg::~ParallelMpeg() = default; // the pool stops and joins its workers

std::size_t ParallelMpeg::read(std::int16_t* out, std::size_t frames) {
    Shared& s = *shared_;
    const MpegLayout& l = *s.layout;
    const auto ch = static_cast<std::uint64_t>(l.channels);
    const std::uint64_t end = l.begin + l.length;
    const std::uint64_t sliceSamples =
        s.sliceFrames * static_cast<std::uint64_t>(l.samplesPerFrame);
    std::size_t done = 0;
    while (done < frames && s.raw < end && !failed()) {
        if (!s.holding) {
            if (!s.pool.take(s.slice, true)) {
                failure_ = "the slice decoders stopped";
                break;
            }
            s.holding = true;
        }
        if (!s.slice.error.empty()) {
            failure_ = s.slice.error;
            break;
        }
        const std::uint64_t sliceStart = s.current * sliceSamples;
        const std::uint64_t sliceEnd = sliceStart + s.slice.pcm.size() / ch;
        const std::uint64_t n =
            std::min<std::uint64_t>({frames - done, sliceEnd - s.raw, end - s.raw});
        std::memcpy(out + done * ch, s.slice.pcm.data() + (s.raw - sliceStart) * ch,
                    static_cast<std::size_t>(n * ch) * sizeof(std::int16_t));
        done += static_cast<std::size_t>(n);
        s.raw += n;
        if (s.raw == sliceEnd && s.raw < end) {
            s.holding = false;
            s.slice = {};
            ++s.current;
            s.submitAhead();
        }
    }
    return done;
}

} // namespace quaverly::decode
