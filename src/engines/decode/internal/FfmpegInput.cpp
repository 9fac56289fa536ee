#include "engines/decode/internal/FfmpegInput.h"

#include <QFile>
#include <QStringList>

#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace quaverly::decode {

// FFmpeg writes its warnings to standard error; the program tells failures in its own words.
// FFmpeg believes some size fields of a file (an APE tag's item, for one) and allocates what they
// say, gigabytes for a few damaged bytes; no song needs a single block of more than 256 MB, so
// larger allocations fail, which FFmpeg takes as a damaged part.
void setUpLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(256u << 20);
    });
}

namespace {

// Demuxers that read other files or URLs named inside the file: a song is one file.
bool readsOtherFiles(const AVInputFormat* f) {
    if (f->flags & AVFMT_NOFILE)
        return true;
    for (const char* name : {"hls", "concat", "dash", "webm_dash_manifest", "ffmetadata", "tee"})
        if (std::strcmp(f->name, name) == 0)
            return true;
    return false;
}

bool copyProtected(const AVStream* st) {
    const std::uint32_t tag = st->codecpar->codec_tag;
    // iTunes' protected AAC ('drms', 'drmi'), common encryption ('enca'), and streams that
    // carry encryption data.
    if (tag == MKTAG('d', 'r', 'm', 's') || tag == MKTAG('d', 'r', 'm', 'i') ||
        tag == MKTAG('e', 'n', 'c', 'a'))
        return true;
    return av_stream_get_side_data(st, AV_PKT_DATA_ENCRYPTION_INIT_INFO, nullptr) != nullptr ||
           av_stream_get_side_data(st, AV_PKT_DATA_ENCRYPTION_INFO, nullptr) != nullptr;
}

QByteArray nativePath(const QString& path) {
    // The "file:" protocol, so that a name such as "concat:a|b" is never taken for another.
#ifdef _WIN32
    return "file:" + path.toUtf8();
#else
    return "file:" + QFile::encodeName(path);
#endif
}

} // namespace

std::string avWords(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "error " + std::to_string(code);
    return text;
}

Result<FfmpegInput> FfmpegInput::open(const QString& path) {
    setUpLibrary();
    const auto fail = [&](const std::string& cause, int code = sound::kFileForm) {
        return Error(path, QString::fromStdString(cause), code);
    };
    const auto codeOf = [](int r) {
        if (r == AVERROR(ENOMEM))
            return sound::kMemory;
        return r == AVERROR_INVALIDDATA || r == AVERROR_EOF ? sound::kFileForm : sound::kFileOpen;
    };
    const QByteArray url = nativePath(path);
    // The kind is probed first, so that a demuxer that would open other files or URLs named in
    // this one (a playlist) is refused before it reads anything.
    const AVInputFormat* kind = nullptr;
    {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        AVIOContext* io = nullptr;
        int r = avio_open2(&io, url.constData(), AVIO_FLAG_READ, nullptr, &options);
        av_dict_free(&options);
        if (r < 0)
            return fail(avWords(r), codeOf(r));
        r = av_probe_input_buffer2(io, &kind, url.constData(), nullptr, 0, 0);
        avio_closep(&io);
        if (r < 0)
            return fail(avWords(r), codeOf(r));
        if (readsOtherFiles(kind))
            return fail("not a sound file");
    }
    FfmpegInput in;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    int r = avformat_open_input(&raw, url.constData(), kind, &options);
    av_dict_free(&options);
    if (r < 0)
        return fail(avWords(r), codeOf(r));
    in.format.reset(raw);
    if ((r = avformat_find_stream_info(in.format.get(), nullptr)) < 0)
        return fail(avWords(r));
    for (unsigned i = 0; i < in.format->nb_streams; ++i) {
        AVStream* st = in.format->streams[i];
        if (!in.stream && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            in.stream = st;
        else
            st->discard = AVDISCARD_ALL;
    }
    if (!in.stream)
        return fail("holds no audio");
    if (copyProtected(in.stream))
        return fail("is copy-protected and cannot be read");
    const AVCodec* codec = avcodec_find_decoder(in.stream->codecpar->codec_id);
    if (!codec)
        return fail("no decoder for its " +
                    std::string(avcodec_get_name(in.stream->codecpar->codec_id)) + " sound");
    in.codec.reset(avcodec_alloc_context3(codec));
    in.packet.reset(av_packet_alloc());
    in.frame.reset(av_frame_alloc());
    if (!in.codec || !in.packet || !in.frame)
        return fail("out of memory", sound::kMemory);
    if ((r = avcodec_parameters_to_context(in.codec.get(), in.stream->codecpar)) < 0)
        return fail(avWords(r));
    in.codec->pkt_timebase = in.stream->time_base;
    if ((r = avcodec_open2(in.codec.get(), codec, nullptr)) < 0)
        return fail(avWords(r));
    return in;
}

QString FfmpegInput::containerName() const {
    const char* name = format->iformat->name;
    if (std::strncmp(name, "mov,mp4", 7) == 0)
        return QStringLiteral("MP4");
    if (std::strcmp(name, "ogg") == 0)
        return QStringLiteral("Ogg");
    if (std::strcmp(name, "asf") == 0)
        return QStringLiteral("ASF");
    if (std::strcmp(name, "aac") == 0)
        return QStringLiteral("ADTS");
    if (std::strcmp(name, "matroska,webm") == 0)
        return QStringLiteral("Matroska");
    return QString::fromUtf8(format->iformat->long_name ? format->iformat->long_name : name);
}

QString FfmpegInput::codecName() const {
    switch (stream->codecpar->codec_id) {
    case AV_CODEC_ID_AAC:
        return QStringLiteral("AAC");
    case AV_CODEC_ID_ALAC:
        return QStringLiteral("ALAC");
    case AV_CODEC_ID_OPUS:
        return QStringLiteral("Opus");
    case AV_CODEC_ID_VORBIS:
        return QStringLiteral("Vorbis");
    case AV_CODEC_ID_FLAC:
        return QStringLiteral("FLAC");
    default: {
        const AVCodecDescriptor* d = avcodec_descriptor_get(stream->codecpar->codec_id);
        return QString::fromUtf8(d ? d->long_name : avcodec_get_name(stream->codecpar->codec_id));
    }
    }
}

std::optional<ItunesGapless> itunesGapless(const AVFormatContext* fc, const AVStream* st) {
    const AVDictionaryEntry* e = av_dict_get(fc->metadata, "iTunSMPB", nullptr, 0);
    if (!e)
        e = av_dict_get(st->metadata, "iTunSMPB", nullptr, 0);
    if (!e)
        return std::nullopt;
    const QStringList fields =
        QString::fromLatin1(e->value).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 4)
        return std::nullopt;
    bool ok1 = false, ok2 = false, ok3 = false;
    ItunesGapless s{fields[1].toULongLong(&ok1, 16), fields[2].toULongLong(&ok2, 16),
                    fields[3].toULongLong(&ok3, 16)};
    if (!ok1 || !ok2 || !ok3 || s.length == 0)
        return std::nullopt;
    return s;
}

} // namespace quaverly::decode
