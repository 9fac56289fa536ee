// An AAC song's own packets into an M4A clip (FFmpeg's module's side of M4aCopy.cpp).
//
// The song's timeline is its demuxer's index: one entry a packet, 1024 samples each, timed so
// that the song's sound starts at 0 where an edit list trims the priming (the entries before
// carry negative times), or at iTunSMPB's delay where only that field tells it, exactly as the
// song reader's decode drops them. A clip keeps the packets that cover [in, out) and the one
// before them: an AAC-LC packet's first half is completed by the overlap of the packet before
// it, and by nothing earlier. The packets go unchanged, with the song's decoder set-up, into the
// same iPod MP4 our encoder writes, timed so that `in` falls at 0 and the last packet's duration
// ends at `out`: the muxer turns that into the edit list, and *gapless tells the same for
// iTunSMPB. Only the index and the kept packets are read.

#include "engines/decode/internal/FfmpegInput.h"
#include "engines/encoder/internal/AacStream.h"
#include "engines/ffmpeg/internal/Codecs.h"
#include "engines/util/AtomicFile.h"

#include <QStringList>

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cstring>

namespace quaverly::ffmpeg {
namespace {

using framecopy::CopyStep;
using framecopy::internal::SongStream;

constexpr std::int64_t kPacket = encode::internal::kAacFrame;
// Packets copied before the one that holds `in`, for the decoder's overlap.
constexpr std::int64_t kPriming = 1;

QString words(int code) {
    return QString::fromStdString(decode::avWords(code));
}

// The song opened, what it is, and where its sound lies on its index's timeline.
struct Song {
    decode::FfmpegInput in;
    SongStream stream;
    // The first entry's time in samples: negative for those before an edit list's start.
    std::int64_t first = 0;
    std::int64_t count = 0; // index entries, one a packet
    std::int64_t base = 0;  // the time of the sound's first sample
};

// Why the song's packets cannot be kept at all, in words; empty when they can.
QString whyNot(const decode::FfmpegInput& in) {
    if (std::strncmp(in.format->iformat->name, "mov,mp4", 7) != 0)
        return QStringLiteral("the song is not in an MP4 file");
    for (unsigned i = 0; i < in.format->nb_streams; ++i) {
        const AVStream* st = in.format->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return QStringLiteral("the song is a video: its sound is re-encoded");
    }
    const AVCodecParameters* p = in.stream->codecpar;
    if (p->codec_id != AV_CODEC_ID_AAC)
        return QStringLiteral("the song is %1, not AAC").arg(in.codecName());
    if (p->profile == FF_PROFILE_AAC_HE || p->profile == FF_PROFILE_AAC_HE_V2)
        return QStringLiteral("the song is HE-AAC: its clip is re-encoded");
    // The decoder set-up's object type: 2 is AAC-LC (5 and 29 name HE-AAC explicitly).
    const int objectType = p->extradata_size >= 2 ? p->extradata[0] >> 3 : 0;
    if (objectType == 5 || objectType == 29)
        return QStringLiteral("the song is HE-AAC: its clip is re-encoded");
    if (objectType != 2 || (p->profile != FF_PROFILE_AAC_LOW && p->profile != FF_PROFILE_UNKNOWN)) {
        const char* name = avcodec_profile_name(AV_CODEC_ID_AAC, p->profile);
        return QStringLiteral("the song is AAC %1, not AAC-LC: its clip is re-encoded")
            .arg(name ? QString::fromUtf8(name)
                      : QStringLiteral("of object type %1").arg(objectType));
    }
    if (p->sample_rate <= 0 || p->ch_layout.nb_channels < 1)
        return QStringLiteral("the song states no sample rate or no channels");
    if (in.stream->time_base.num != 1 || in.stream->time_base.den != p->sample_rate)
        return QStringLiteral("the song's track does not count time in its own samples");
    return {};
}

// The samples FFmpeg skips of the song's first packet, as it hands them to the decoder.
Result<std::int64_t> firstSkip(decode::FfmpegInput& in) {
    AVPacket* p = in.packet.get();
    for (;;) {
        if (const int r = av_read_frame(in.format.get(), p); r < 0)
            return Error(
                {}, QStringLiteral("the song's first packet cannot be read: %1").arg(words(r)));
        if (p->stream_index == in.stream->index)
            break;
        av_packet_unref(p);
    }
    std::size_t size = 0;
    const std::uint8_t* side = av_packet_get_side_data(p, AV_PKT_DATA_SKIP_SAMPLES, &size);
    const std::int64_t skip = side && size >= 4 ? AV_RL32(side) : 0;
    av_packet_unref(p);
    return skip;
}

// Reads the index into `s`: its packets must follow each other at 1024 samples, the whole song.
QString readIndex(Song& s) {
    AVStream* st = s.in.stream;
    s.count = avformat_index_get_entries_count(st);
    if (s.count <= 0)
        return QStringLiteral("the song's packets are not indexed");
    s.first = avformat_index_get_entry(st, 0)->timestamp;
    std::int64_t bytes = 0;
    for (int i = 0; i < s.count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e->timestamp != s.first + i * kPacket)
            return QStringLiteral("the song's packets are not evenly timed");
        bytes += e->size;
    }
    const int rate = st->codecpar->sample_rate;
    // Where the sound starts and ends, as the song reader's decode finds them: an edit list has
    // put its start at 0 (the packets before it carry negative times); else FFmpeg skips what
    // the first packet's side data says (its reader takes iTunSMPB's delay so, not its length);
    // only where nothing is skipped does the song reader trim by iTunSMPB itself, length too.
    // The track's duration ends it otherwise.
    if (s.first > 0)
        return QStringLiteral("the song's sound does not start with its first packet");
    std::int64_t limit = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        limit = st->duration;
    else if (s.in.format->duration != AV_NOPTS_VALUE && s.in.format->duration > 0)
        limit =
            av_rescale_q(s.in.format->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, rate});
    if (s.first == 0) {
        const Result<std::int64_t> skipped = firstSkip(s.in);
        if (!skipped)
            return skipped.error().cause();
        const auto smpb = decode::itunesGapless(s.in.format.get(), st);
        if (*skipped > 0) {
            s.base = *skipped;
        } else if (smpb) {
            s.base = std::int64_t(smpb->delay);
            limit = std::int64_t(smpb->length);
        }
    }
    const std::int64_t decoded = s.first + s.count * kPacket - s.base;
    if (decoded <= 0)
        return QStringLiteral("the song's sound lies outside its packets");
    s.stream.frames = std::uint64_t(limit > 0 ? std::min(limit, decoded) : decoded);
    s.stream.kbps = int((bytes * 8 * rate / (s.count * kPacket) + 500) / 1000);
    return {};
}

// Opens the song; a song that cannot be read is an Error, one whose packets cannot be kept a
// SongStream whose whyNot says why.
Result<Song> open(const QString& path) {
    auto in = decode::FfmpegInput::open(path);
    if (!in)
        return in.error();
    Song s{std::move(*in), {}, 0, 0, 0};
    s.stream.sampleRate = s.in.stream->codecpar->sample_rate;
    s.stream.channels = s.in.stream->codecpar->ch_layout.nb_channels;
    s.stream.whyNot = whyNot(s.in);
    if (s.stream.whyNot.isEmpty())
        s.stream.whyNot = readIndex(s);
    return s;
}

Error readFailure(const QString& song, const QString& cause) {
    return Error(song, cause).during(CopyStep::Read);
}

} // namespace

Result<SongStream> probeM4a(const QString& song) {
    Result<Song> s = open(song);
    if (!s)
        return s.error();
    return s->stream;
}

Status copyM4a(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work, AacGapless* gapless) {
    Result<Song> opened = open(song);
    if (!opened)
        return opened.error().during(CopyStep::Read);
    Song& s = *opened;
    if (!s.stream.whyNot.isEmpty())
        return Error(song, s.stream.whyNot).during(CopyStep::CannotKeep);
    if (in >= out || out > s.stream.frames)
        return readFailure(song, QStringLiteral("the clip's marks lie outside the song"));

    // The packets that hold the marks' samples, and the ones before them for the decoder.
    const std::int64_t from = std::int64_t(in) + s.base;
    const std::int64_t to = std::int64_t(out) + s.base;
    const std::int64_t held = (from - s.first) / kPacket;
    const std::int64_t last = (to - 1 - s.first) / kPacket;
    const std::int64_t start = std::max<std::int64_t>(0, held - kPriming);
    // FFmpeg 5.1's MP4 reader takes a track's last packet to last as long as its edit list, and
    // drops the packet when that ends before the edit list starts: it would read nothing of a
    // sound that lies in one packet behind a lead as long as itself.
    if (last == held && to - from <= from - (s.first + held * kPacket))
        return Error(song, QStringLiteral("the clip is shorter than a packet of the song's AAC, "
                                          "and lies late in it"))
            .during(CopyStep::CannotKeep);

    const auto writeFailure = [](const Error& e) { return e.during(CopyStep::Write); };
    encode::internal::Mp4Writer mp4(target);
    if (Status f = mp4.open(*s.in.stream->codecpar); !f)
        return writeFailure(f.error());
    AVIOContext* io = s.in.format->pb;
    decode::AvPacketPtr packet(av_packet_alloc());
    if (!packet)
        return readFailure(song, words(AVERROR(ENOMEM)));
    for (std::int64_t i = start; i <= last; ++i) {
        if (work.stopped())
            return Error(target.target(), QStringLiteral("cancelled")).during(CopyStep::Cancel);
        const AVIndexEntry* e = avformat_index_get_entry(s.in.stream, int(i));
        if (int r = av_new_packet(packet.get(), e->size); r < 0)
            return readFailure(song, words(r));
        if (const std::int64_t at = avio_seek(io, e->pos, SEEK_SET); at < 0)
            return readFailure(song, words(int(at)));
        if (const int r = avio_read(io, packet->data, e->size); r != e->size)
            return readFailure(song, r < 0 ? words(r)
                                           : QStringLiteral("the file ends before its sound does"));
        packet->flags = AV_PKT_FLAG_KEY;
        const std::int64_t pts = e->timestamp - from;
        const std::int64_t duration = i == last ? to - e->timestamp : kPacket;
        const Status written = mp4.write(*packet, pts, duration);
        av_packet_unref(packet.get());
        if (!written)
            return writeFailure(written.error());
        work.report(std::uint64_t(i - start + 1), std::uint64_t(last - start + 1));
    }
    if (Status f = mp4.finish(); !f)
        return writeFailure(f.error());
    if (gapless) {
        gapless->delay = int(from - (s.first + start * kPacket));
        gapless->frames = std::int64_t(out - in);
        gapless->padding = int((last - start + 1) * kPacket - gapless->delay - gapless->frames);
    }
    return {};
}

} // namespace quaverly::ffmpeg
