#include "engines/encoder/internal/LameEncoder.h"

#include <cstdarg>

namespace quaverly::mp3 {
namespace {

// LAME's messages would go to stderr from whatever thread encodes; every failure we care about
// is reported through return codes instead.
void lameQuiet(const char*, va_list) {}

QString lameCause(int code) {
    switch (code) {
    case -1:
        return QStringLiteral("output buffer too small");
    case -2:
        return QStringLiteral("out of memory");
    case -3:
        return QStringLiteral("encoder not initialised");
    case -4:
        return QStringLiteral("psychoacoustic model failed");
    default:
        return QStringLiteral("error %1").arg(code);
    }
}

} // namespace

Status LameEncoder::open(int sampleRate, int channels, int kbps, bool tagFrame, bool replayGain) {
    channels_ = channels;
    gf_.reset(lame_init());
    if (!gf_)
        return Error({}, QStringLiteral("cannot start the MP3 encoder (out of memory)"));
    lame_global_flags* gf = gf_.get();
    lame_set_errorf(gf, &lameQuiet);
    lame_set_debugf(gf, &lameQuiet);
    lame_set_msgf(gf, &lameQuiet);
    // The setters refuse values out of their range with a nonzero result; lame_init_params
    // then checks that they fit together.
    const bool accepted = lame_set_num_channels(gf, channels) == 0 &&
                          lame_set_in_samplerate(gf, sampleRate) == 0 &&
                          // resampling is ours (libsoxr), never LAME's
                          lame_set_out_samplerate(gf, sampleRate) == 0 &&
                          lame_set_VBR(gf, vbr_off) == 0 && lame_set_brate(gf, kbps) == 0 &&
                          lame_set_mode(gf, channels == 1 ? MONO : JOINT_STEREO) == 0 &&
                          lame_set_findReplayGain(gf, replayGain ? 1 : 0) == 0 &&
                          lame_set_bWriteVbrTag(gf, tagFrame ? 1 : 0) == 0;
    const QString refused =
        QStringLiteral("the MP3 encoder refused %1 Hz, %2 channel(s), %3 kbit/s")
            .arg(sampleRate)
            .arg(channels)
            .arg(kbps);
    if (!accepted)
        return Error({}, refused);
    // Nothing may precede the tag frame: it is written over the stream's first bytes.
    lame_set_write_id3tag_automatic(gf, 0);
    if (const int rc = lame_init_params(gf); rc < 0)
        return Error({}, refused + QStringLiteral(" (code %1)").arg(rc));
    // LAME quietly moves a bit rate or sample rate it does not like: insist on ours.
    if (lame_get_brate(gf) != kbps || lame_get_out_samplerate(gf) != sampleRate ||
        lame_get_VBR(gf) != vbr_off)
        return Error({}, QStringLiteral("the MP3 encoder cannot write %1 kbit/s at %2 Hz")
                             .arg(kbps)
                             .arg(sampleRate));
    return {};
}

Status LameEncoder::encode(const float* frames, std::size_t count,
                           std::vector<unsigned char>& out) {
    // LAME's float entry takes separate channels scaled like 16-bit samples; x32768 keeps
    // 16-bit sources exact, so the result is the same as the lame command's.
    left_.resize(count);
    right_.resize(channels_ == 2 ? count : 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (channels_ == 2) {
            left_[i] = frames[2 * i] * 32768.0f;
            right_[i] = frames[2 * i + 1] * 32768.0f;
        } else {
            left_[i] = frames[i] * 32768.0f;
        }
    }
    // LAME's worst case for n samples: 1.25 n + 7200 bytes.
    const std::size_t start = out.size();
    out.resize(start + count + count / 4 + 7200);
    const int n = lame_encode_buffer_float(
        gf_.get(), left_.data(), channels_ == 2 ? right_.data() : left_.data(),
        static_cast<int>(count), out.data() + start, static_cast<int>(out.size() - start));
    out.resize(start + (n > 0 ? std::size_t(n) : 0));
    if (n < 0)
        return Error({}, lameCause(n));
    return {};
}

Status LameEncoder::flush(std::vector<unsigned char>& out) {
    const std::size_t start = out.size();
    out.resize(start + 7200);
    const int n = lame_encode_flush(gf_.get(), out.data() + start, 7200);
    out.resize(start + (n > 0 ? std::size_t(n) : 0));
    if (n < 0)
        return Error({}, lameCause(n));
    return {};
}

std::vector<unsigned char> LameEncoder::tagFrame() {
    const std::size_t size = lame_get_lametag_frame(gf_.get(), nullptr, 0);
    std::vector<unsigned char> tag(size);
    if (size > 0 && lame_get_lametag_frame(gf_.get(), tag.data(), tag.size()) != size)
        tag.clear();
    return tag;
}

} // namespace quaverly::mp3
