// How a spliced parallel encoding of a WAV file compares with a single pass, on real music:
//   quaverly_splice_quality IN.wav KBPS WORKDIR [SEGMENT LEADIN LEADOUT]
// The segments are those of the plan given (the normal plan's sizes, not evened out, without
// one), so the frames where each splice may lie are known. Prints one line per splice (those
// frames, the signal-to-noise ratio of both encodings over them and 25 ms either side, the
// largest sample difference between the two decodes there) and a summary: the ratio over the
// whole file for both, the worst loss at a splice, and the largest difference around the splices
// against the largest anywhere else.

#include "engines/encoder/Mp3Encode.h"
#include "engines/util/CodecThreads.h"

#include <QCoreApplication>
#include <QString>

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace quaverly;

std::vector<float> readWav(const char* path, int* rate, int* channels) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, decltype(&sf_close)> f(sf_open(path, SFM_READ, &info), &sf_close);
    if (!f)
        return {};
    std::vector<float> pcm(std::size_t(info.frames * info.channels));
    sf_readf_float(f.get(), pcm.data(), info.frames);
    *rate = info.samplerate;
    *channels = info.channels;
    return pcm;
}

std::vector<short> decode(const QString& path) {
    std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> h(mpg123_new(nullptr, nullptr),
                                                               &mpg123_delete);
    std::vector<short> pcm;
    if (!h || mpg123_open(h.get(), path.toLocal8Bit().constData()) != MPG123_OK)
        return pcm;
    std::vector<unsigned char> block(65536);
    for (;;) {
        std::size_t got = 0;
        const int r = mpg123_read(h.get(), block.data(), block.size(), &got);
        const auto* s = reinterpret_cast<const short*>(block.data());
        pcm.insert(pcm.end(), s, s + got / 2);
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT)
            break;
    }
    return pcm;
}

double snr(const std::vector<float>& in, const std::vector<short>& out, std::size_t from,
           std::size_t to) {
    double signal = 0, error = 0;
    for (std::size_t i = from; i < to && i < out.size() && i < in.size(); ++i) {
        const double x = double(in[i]) * 32768.0;
        signal += x * x;
        error += (x - out[i]) * (x - out[i]);
    }
    return 10 * std::log10(signal / std::max(error, 1.0));
}

class Source final : public mp3::PcmSource {
public:
    Source(const std::vector<float>& pcm, int rate, int channels)
        : pcm_(pcm), rate_(rate), ch_(std::size_t(channels)) {}
    int channels() const override { return int(ch_); }
    int sampleRate() const override { return rate_; }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        const std::size_t got = std::min(frames, pcm_.size() / ch_ - at_);
        std::copy_n(pcm_.begin() + std::ptrdiff_t(at_ * ch_), got * ch_, dst);
        at_ += got;
        return got;
    }

private:
    const std::vector<float>& pcm_;
    int rate_;
    std::size_t ch_;
    std::size_t at_ = 0;
};

// The MPEG frames [first, last] where the splice of each segment with the one before may lie,
// for the sound's length in MPEG frames (see SegmentPlan).
std::vector<std::pair<std::int64_t, std::int64_t>> spliceStretches(const mp3::SegmentPlan& plan,
                                                                   std::int64_t frames) {
    std::vector<std::pair<std::int64_t, std::int64_t>> at;
    for (std::int64_t b = plan.frames; b + plan.leadOut < frames; b += plan.frames)
        at.emplace_back(b - plan.leadIn + plan.settle, b + plan.leadOut - 5);
    return at;
}

// Where the splices may lie (a mask over the samples, 25 ms either side) and the worst loss there.
struct SpliceStretches {
    std::vector<bool> near;
    double worstLoss = -1e9;
};

// Prints the line of each splice: the ratio of both decodes a and b over 50 ms around it and
// their largest difference there.
SpliceStretches compareAtSplices(const std::vector<float>& in, const std::vector<short>& a,
                                 const std::vector<short>& b, const mp3::SegmentPlan& plan,
                                 int rate, int ch, std::size_t half) {
    const std::size_t frameSamples = rate >= 32000 ? 1152 : 576;
    const auto sample = [&](std::int64_t frame) {
        return (std::size_t(frame) * frameSamples - 1105) * std::size_t(ch);
    };
    SpliceStretches result;
    result.near.assign(in.size(), false);
    const auto mpegFrames = std::int64_t(in.size() / std::size_t(ch) / frameSamples);
    for (const auto& [first, last] : spliceStretches(plan, mpegFrames)) {
        const std::size_t from = sample(first) - half,
                          to = std::min(in.size(), sample(last) + half);
        std::fill(result.near.begin() + std::ptrdiff_t(from),
                  result.near.begin() + std::ptrdiff_t(to), true);
        int diff = 0;
        for (std::size_t i = from; i < to && i < a.size() && i < b.size(); ++i)
            diff = std::max(diff, std::abs(a[i] - b[i]));
        const double sa = snr(in, a, from, to), sb = snr(in, b, from, to);
        result.worstLoss = std::max(result.worstLoss, sa - sb);
        std::printf(
            "splice in frames %lld-%lld: SNR %.2f dB single, %.2f dB spliced, max diff %d\n",
            static_cast<long long>(first), static_cast<long long>(last), sa, sb, diff);
    }
    return result;
}

// The same comparison over every other 50 ms of the file: how much two encodings of the same
// sound differ where nothing was spliced.
void compareElsewhere(const std::vector<float>& in, const std::vector<short>& a,
                      const std::vector<short>& b, const std::vector<bool>& near,
                      std::size_t half) {
    std::vector<double> losses;
    for (std::size_t from = 0; from + 2 * half <= in.size(); from += 2 * half) {
        if (near[from] || near[from + 2 * half - 1])
            continue;
        const double sa = snr(in, a, from, from + 2 * half), sb = snr(in, b, from, from + 2 * half);
        if (std::isfinite(sa) && std::isfinite(sb))
            losses.push_back(sa - sb);
    }
    std::sort(losses.begin(), losses.end());
    if (!losses.empty())
        std::printf("other 50 ms windows: %zu, loss above 0.2 dB in %zu, 99th percentile %.3f dB, "
                    "worst %.3f dB\n",
                    losses.size(),
                    std::size_t(losses.end() - std::upper_bound(losses.begin(), losses.end(), 0.2)),
                    losses[losses.size() * 99 / 100], losses.back());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 7) {
        std::fprintf(stderr, "usage: %s IN.wav KBPS WORKDIR [SEGMENT LEADIN LEADOUT]\n", argv[0]);
        return 2;
    }
    mp3::SegmentPlan plan;
    if (argc == 7)
        plan = {std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6])};
    mp3::setSegmentPlanForTesting(plan);
    int rate = 0, ch = 0;
    const std::vector<float> in = readWav(argv[1], &rate, &ch);
    const int kbps = std::atoi(argv[2]);
    const QString single = QString::fromLocal8Bit(argv[3]) + "/single.mp3";
    const QString spliced = QString::fromLocal8Bit(argv[3]) + "/spliced.mp3";
    if (in.empty() || mp3::encodingSampleRate(rate, kbps, ch) != rate) {
        std::fprintf(stderr, "need a WAV that %d kbit/s takes without resampling\n", kbps);
        return 2;
    }
    for (const auto& [threads, target] : {std::pair{1, single}, std::pair{2, spliced}}) {
        setCodecThreadsForTesting(threads);
        Source source(in, rate, ch);
        if (const Status done = mp3::encodeToMp3(source, "in", target, kbps); !done) {
            std::fprintf(stderr, "%s\n", qPrintable(done.error().text()));
            return 1;
        }
    }
    const std::vector<short> a = decode(single), b = decode(spliced);
    std::printf("decoded frames: input %zu, single pass %zu, spliced %zu\n", in.size() / ch,
                a.size() / ch, b.size() / ch);
    const std::size_t half = std::size_t(rate) / 40 * std::size_t(ch);
    const SpliceStretches at = compareAtSplices(in, a, b, plan, rate, ch, half);
    compareElsewhere(in, a, b, at.near, half);
    int around = 0, elsewhere = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size() && i < in.size(); ++i)
        if (at.near[i])
            around = std::max(around, std::abs(a[i] - b[i]));
        else
            elsewhere = std::max(elsewhere, std::abs(a[i] - b[i]));
    std::printf("whole file: SNR %.3f dB single, %.3f dB spliced; worst loss at a splice %.3f dB; "
                "max diff around splices %d, elsewhere %d\n",
                snr(in, a, 0, in.size()), snr(in, b, 0, in.size()), at.worstLoss, around,
                elsewhere);
    return 0;
}
