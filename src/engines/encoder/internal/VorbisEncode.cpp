// Ogg Vorbis through libvorbisenc (VBR by quality) and libogg's pages, the tags in the comment
// header. libvorbis ends the stream with
// the granule position of the last sample given, so decoders give back exactly the source's
// frames (see the first sound page below for FFmpeg).

#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/ReadAhead.h"
#include "engines/util/CodeTable.h"

#include <QRandomGenerator>

#include <algorithm>

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

namespace quaverly::encode::internal {
namespace {

constexpr std::pair<int, const char*> kVorbisCauses[] = {
    {OV_EIMPL, "libvorbis has no mode for this rate, channels and quality"},
    {OV_EINVAL, "libvorbis refused the encoding settings"},
    {OV_EFAULT, "libvorbis failed inside (internal fault)"},
};

QString vorbisCause(int code) {
    return codeText(kVorbisCauses, code, "libvorbis failed (error %1)");
}

// The single owner of the encoder's libvorbis and libogg state, cleared in the reverse order of
// its set-up. The states are plain structs that libvorbis points into: the object never moves.
class VorbisStream {
public:
    VorbisStream() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisStream() {
        if (pagesReady)
            ogg_stream_clear(&pages);
        if (blockReady)
            vorbis_block_clear(&block);
        if (dspReady)
            vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    // Sets up the encoder and libogg's stream; a failure's Error names no file.
    Status open(int channels, int rate, int quality) {
        if (int rc = vorbis_encode_init_vbr(&info, channels, rate, float(quality) / 10.f); rc != 0)
            return Error({},
                         vorbisCause(rc) + QStringLiteral(" (%1 channel(s) at %2 Hz, quality %3)")
                                               .arg(channels)
                                               .arg(rate)
                                               .arg(quality));
        if (int rc = vorbis_analysis_init(&dsp, &info); rc != 0)
            return Error({}, vorbisCause(rc));
        dspReady = true;
        if (int rc = vorbis_block_init(&dsp, &block); rc != 0)
            return Error({}, vorbisCause(rc));
        blockReady = true;
        // A random serial number, as the format asks, so that streams can be chained.
        if (ogg_stream_init(&pages, int(QRandomGenerator::global()->generate() >> 1)) != 0)
            return Error({}, QStringLiteral("libogg could not set up a stream"));
        pagesReady = true;
        return {};
    }

    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state pages{};

private:
    bool dspReady = false;
    bool blockReady = false;
    bool pagesReady = false;
};

class VorbisWriter {
public:
    VorbisWriter(VorbisStream& v, AtomicFile& out) : v_(v), out_(out) {}

    // The three header packets, flushed so that the sound starts on a page of its own.
    Status writeHeaders() {
        ogg_packet id, comments, codebooks;
        if (int rc = vorbis_analysis_headerout(&v_.dsp, &v_.comment, &id, &comments, &codebooks);
            rc != 0)
            return encodeFailure(out_, vorbisCause(rc));
        for (ogg_packet* p : {&id, &comments, &codebooks}) {
            if (ogg_stream_packetin(&v_.pages, p) != 0)
                return encodeFailure(out_, QStringLiteral("libogg refused a header packet"));
        }
        return writePages(true);
    }

    // Takes `count` frames as planes (channel c's samples at planes + c x count); count == 0
    // ends the stream.
    Status encode(const float* planes, std::size_t count) {
        if (count > 0) {
            float** buffers = vorbis_analysis_buffer(&v_.dsp, int(count));
            for (int c = 0; c < v_.info.channels; ++c)
                std::copy_n(planes + std::size_t(c) * count, count, buffers[c]);
        }
        if (int rc = vorbis_analysis_wrote(&v_.dsp, int(count)); rc != 0)
            return encodeFailure(out_, vorbisCause(rc));
        return drain();
    }

private:
    // Analyses every block libvorbis has ready and writes the pages that fill up (all of them
    // once the last packet is in).
    Status drain() {
        int rc;
        while ((rc = vorbis_analysis_blockout(&v_.dsp, &v_.block)) == 1) {
            if ((rc = vorbis_analysis(&v_.block, nullptr)) != 0 ||
                (rc = vorbis_bitrate_addblock(&v_.block)) != 0)
                return encodeFailure(out_, vorbisCause(rc));
            ogg_packet packet;
            while ((rc = vorbis_bitrate_flushpacket(&v_.dsp, &packet)) == 1) {
                if (ogg_stream_packetin(&v_.pages, &packet) != 0)
                    return encodeFailure(out_, QStringLiteral("libogg refused a packet"));
                // The first page of sound ends with the second packet, the first that decodes
                // to sound: FFmpeg (5.1) takes where the sound starts from the first page of
                // sound and miscounts the length by up to a block when that page is also the
                // last (a clip of less than about 4 KB). oggdec and libvorbis are exact anyway.
                if (Status failed = writePages(++soundPackets_ == 2 || packet.e_o_s != 0); !failed)
                    return failed;
            }
            if (rc < 0)
                return encodeFailure(out_, vorbisCause(rc));
        }
        if (rc < 0)
            return encodeFailure(out_, vorbisCause(rc));
        return {};
    }

    // Writes the pages that are complete, or with `flush` every packet held.
    Status writePages(bool flush) {
        ogg_page page;
        while (flush ? ogg_stream_flush(&v_.pages, &page) : ogg_stream_pageout(&v_.pages, &page)) {
            if (Status s = out_.write(reinterpret_cast<const char*>(page.header), page.header_len);
                !s)
                return writeFailure(s.error());
            if (Status s = out_.write(reinterpret_cast<const char*>(page.body), page.body_len); !s)
                return writeFailure(s.error());
        }
        return {};
    }

    VorbisStream& v_;
    AtomicFile& out_;
    int soundPackets_ = 0;
};

} // namespace

Status encodeVorbis(PcmSource& source, AtomicFile& out, const Settings& settings,
                    const std::vector<QByteArray>& comments, const std::stop_token& stop) {
    VorbisStream stream;
    for (const QByteArray& field : comments)
        vorbis_comment_add(&stream.comment, field.constData());
    if (Status cause =
            stream.open(source.channels(), source.sampleRate(), settings.effectiveValue());
        !cause)
        return encodeFailure(out, cause.error().cause());
    VorbisWriter writer(stream, out);
    if (Status failed = writer.writeHeaders(); !failed)
        return failed;
    if (Status failed = forEachBlockReadAhead(
            source, out, stop, Layout::Planar,
            [&](const float* planes, std::size_t count) { return writer.encode(planes, count); });
        !failed)
        return failed;
    return writer.encode(nullptr, 0);
}

} // namespace quaverly::encode::internal
