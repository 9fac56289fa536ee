// The Windows libraries' check (scripts/windows/deps.sh builds it against the prefix and runs it
// under wine): prints the libraries' versions; makes an MP3 with LAME and decodes it with mpg123;
// writes and reads a WAV through libsndfile's wide-character open; resamples with soxr and
// measures with libebur128; makes an M4A with FFmpeg's AAC encoder and reads it back with FFmpeg
// and TagLib. The files carry non-ASCII names. Exits 1 at the first failure.
#include <FLAC/format.h>
#include <ebur128.h>
#include <lame/lame.h>
#include <mpg123.h>
#include <opusenc.h>
#include <sndfile.h>
#include <soxr.h>
#include <taglib/fileref.h>
#include <taglib/taglib.h>
#include <vorbis/codec.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = kRate; // one second, stereo
// "Café 日本" in UTF-8 and as wide characters
#define NAME_UTF8 "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"
#define NAME_WIDE L"Caf\u00e9 \u65e5\u672c"

void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        std::exit(1);
    }
    std::printf("ok: %s\n", what);
}

std::vector<unsigned char> encodeMp3(const std::vector<short>& pcm) {
    lame_global_flags* gf = lame_init();
    lame_set_in_samplerate(gf, kRate);
    lame_set_num_channels(gf, 2);
    lame_set_brate(gf, 128);
    check(gf && lame_init_params(gf) >= 0, "LAME set up");
    std::vector<unsigned char> mp3(kFrames * 2 + 8192);
    int n = lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm.data()), kFrames, mp3.data(),
                                           int(mp3.size()));
    check(n > 0, "LAME encodes");
    n += lame_encode_flush(gf, mp3.data() + n, int(mp3.size()) - n);
    lame_close(gf);
    mp3.resize(n);
    return mp3;
}

std::vector<short> decodeMp3(const char* path) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_format_none(mh);
    mpg123_format(mh, kRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    check(mpg123_open(mh, path) == MPG123_OK, "mpg123 opens a UTF-8 name");
    std::vector<short> out(kFrames * 4);
    size_t total = 0, done = 0;
    int r = MPG123_OK;
    while ((r == MPG123_OK || r == MPG123_NEW_FORMAT) && total < out.size() * sizeof(short)) {
        r = mpg123_read(mh, reinterpret_cast<unsigned char*>(out.data()) + total,
                        out.size() * sizeof(short) - total, &done);
        total += done;
    }
    mpg123_delete(mh);
    out.resize(total / sizeof(short));
    return out;
}

void writeM4a(const char* path, const std::vector<short>& pcm) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    AVFormatContext* oc = nullptr;
    check(codec && avformat_alloc_output_context2(&oc, nullptr, "ipod", path) >= 0,
          "FFmpeg has the AAC encoder and the ipod muxer");
    AVStream* st = avformat_new_stream(oc, nullptr);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = kRate;
    c->bit_rate = 128000;
    c->time_base = {1, kRate};
    av_channel_layout_default(&c->ch_layout, 2);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(c, codec, nullptr) >= 0, "AAC encoder opens");
    avcodec_parameters_from_context(st->codecpar, c);
    st->time_base = c->time_base;
    check(avio_open(&oc->pb, path, AVIO_FLAG_WRITE) >= 0 && avformat_write_header(oc, nullptr) >= 0,
          "M4A with a UTF-8 name created");
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    const auto drain = [&] {
        while (avcodec_receive_packet(c, pkt) >= 0) {
            av_packet_rescale_ts(pkt, c->time_base, st->time_base);
            pkt->stream_index = 0;
            av_interleaved_write_frame(oc, pkt);
        }
    };
    for (int pos = 0; pos + c->frame_size <= kFrames; pos += c->frame_size) {
        f->nb_samples = c->frame_size;
        f->format = c->sample_fmt;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        av_frame_get_buffer(f, 0);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < f->nb_samples; ++i)
                reinterpret_cast<float*>(f->data[ch])[i] = pcm[2 * (pos + i) + ch] / 32768.0f;
        f->pts = pos;
        avcodec_send_frame(c, f);
        av_frame_unref(f);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    check(av_write_trailer(oc) >= 0, "M4A written");
    avio_closep(&oc->pb);
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    avformat_free_context(oc);
}

long long readM4a(const char* path) {
    AVFormatContext* ic = nullptr;
    check(avformat_open_input(&ic, path, nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(ic, nullptr) >= 0,
          "FFmpeg opens the M4A by its UTF-8 name");
    const AVCodec* codec = avcodec_find_decoder(ic->streams[0]->codecpar->codec_id);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(c, ic->streams[0]->codecpar);
    check(codec && avcodec_open2(c, codec, nullptr) >= 0, "AAC decoder opens");
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    long long samples = 0;
    while (av_read_frame(ic, pkt) >= 0) {
        avcodec_send_packet(c, pkt);
        av_packet_unref(pkt);
        while (avcodec_receive_frame(c, f) >= 0)
            samples += f->nb_samples;
    }
    av_frame_free(&f);
    av_packet_free(&pkt);
    avcodec_free_context(&c);
    avformat_close_input(&ic);
    return samples;
}

} // namespace

int main() {
    int eburMajor = 0, eburMinor = 0, eburPatch = 0;
    ebur128_get_version(&eburMajor, &eburMinor, &eburPatch);
    std::printf("mpg123 API %d, LAME %s, %s, soxr %s, libebur128 %d.%d.%d, TagLib %d.%d\n",
                MPG123_API_VERSION, get_lame_version(), sf_version_string(), soxr_version(),
                eburMajor, eburMinor, eburPatch, TAGLIB_MAJOR_VERSION, TAGLIB_MINOR_VERSION);
    std::printf("%s, %s, FLAC %s, FFmpeg %s\n", vorbis_version_string(), ope_get_version_string(),
                FLAC__VERSION_STRING, av_version_info());
    av_log_set_level(AV_LOG_ERROR);

    std::vector<short> tone(kFrames * 2);
    for (int i = 0; i < kFrames; ++i)
        tone[2 * i] = tone[2 * i + 1] = short(12000 * std::sin(2 * M_PI * 440 * i / kRate));
    const std::vector<unsigned char> mp3 = encodeMp3(tone);
    FILE* out = _wfopen(NAME_WIDE L".mp3", L"wb");
    check(out && std::fwrite(mp3.data(), 1, mp3.size(), out) == mp3.size() && !std::fclose(out),
          "MP3 written");
    const std::vector<short> pcm = decodeMp3(NAME_UTF8 ".mp3");
    check(pcm.size() >= size_t(kFrames), "mpg123 decodes the MP3");

    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* wav = sf_wchar_open(NAME_WIDE L".wav", SFM_WRITE, &info);
    check(wav && sf_writef_short(wav, pcm.data(), kFrames) == kFrames && !sf_close(wav),
          "libsndfile writes through sf_wchar_open");
    info = SF_INFO{};
    wav = sf_wchar_open(NAME_WIDE L".wav", SFM_READ, &info);
    check(wav && info.frames == kFrames && !sf_close(wav), "libsndfile reads it back");
    const struct {
        int format;
        const char* what;
    } writable[] = {{SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "libsndfile writes FLAC"},
                    {SF_FORMAT_OGG | SF_FORMAT_VORBIS, "libsndfile writes Ogg Vorbis"},
                    {SF_FORMAT_OGG | SF_FORMAT_OPUS, "libsndfile writes Ogg Opus"},
                    {SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, "libsndfile writes MP3"}};
    for (const auto& w : writable) {
        SF_INFO probe{0, 48000, 2, w.format, 0, 0};
        check(sf_format_check(&probe), w.what);
    }

    std::vector<float> in(tone.begin(), tone.end()), resampled(kFrames * 3);
    size_t produced = 0;
    check(!soxr_oneshot(kRate, 48000, 2, in.data(), kFrames, nullptr, resampled.data(),
                        kFrames * 3 / 2, &produced, nullptr, nullptr, nullptr) &&
              produced > size_t(kFrames),
          "soxr resamples");
    ebur128_state* meter = ebur128_init(2, kRate, EBUR128_MODE_I);
    double lufs = 0;
    check(meter && ebur128_add_frames_short(meter, tone.data(), kFrames) == EBUR128_SUCCESS &&
              ebur128_loudness_global(meter, &lufs) == EBUR128_SUCCESS && lufs > -30 && lufs < 0,
          "libebur128 measures");
    ebur128_destroy(&meter);

    writeM4a(NAME_UTF8 ".m4a", pcm);
    check(readM4a(NAME_UTF8 ".m4a") >= kFrames - 2048, "FFmpeg decodes the M4A");
    TagLib::FileRef ref(NAME_WIDE L".m4a");
    check(!ref.isNull() && ref.audioProperties() &&
              ref.audioProperties()->lengthInMilliseconds() > 900,
          "TagLib reads the M4A by its wide name");
    std::printf("all libraries work\n");
    return 0;
}
