#include "convert/SongDecoder.h"

#include "engines/bass/Bass.h"
#include "engines/wav/WavWriter.h"

#include <QFileInfo>

#include <vector>

namespace quaverly {
namespace {

using namespace quaverly::bass;

// Keeps the sound layer started for decoding while it lives, and releases it only when this
// object started it: a layer already started by someone else stays as it was.
class DecodeSession {
public:
    DecodeSession() {
        ok_ = BASS_Init(0, 44100, 0, nullptr, nullptr) != 0;
        owner_ = ok_;
        if (!ok_ && BASS_ErrorGetCode() == BASS_ERROR_ALREADY)
            ok_ = true;
    }
    ~DecodeSession() {
        if (owner_)
            BASS_Free();
    }
    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool owner_ = false;
};

// One owner for a stream handle of the layer.
class Stream {
public:
    explicit Stream(HSTREAM h) : h_(h) {}
    ~Stream() {
        if (h_)
            BASS_StreamFree(h_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    HSTREAM get() const { return h_; }

private:
    HSTREAM h_;
};

// Opens the source as a decoding channel: a file stream first, then the other kinds the layer
// knows. The error code of the file stream is the telling one, so it is the one kept.
HSTREAM openSource(const QByteArray& path, int* error, QString* cause) {
    HSTREAM h = BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_STREAM_DECODE);
    if (h)
        return h;
    *error = BASS_ErrorGetCode();
    *cause = QString::fromStdString(lastErrorText());
    h = BASS_StreamCreateURL(path.constData(), 0, 0x300000, nullptr, nullptr);
    if (!h)
        h = BASS_MusicLoad(0, path.constData(), 0, 0, 0x220200, 0);
    return h;
}

} // namespace

DecodeOutcome SongDecoder::decode(const QString& source, const QString& target,
                                  const std::function<bool()>& yield) {
    DecodeOutcome r;
    const QString name = QFileInfo(source).fileName();
    if (busy_) {
        r.error = QStringLiteral("%1: another song is being decoded").arg(name);
        return r;
    }
    busy_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{busy_};

    DecodeSession session;
    if (!session.ok()) {
        r.soundError = BASS_ErrorGetCode();
        r.error = QStringLiteral("Can't initialize device");
        return r;
    }
    int openError = 0;
    QString openCause;
    Stream stream(openSource(QFile::encodeName(source), &openError, &openCause));
    if (!stream.get()) {
        r.soundError = openError ? openError : BASS_ErrorGetCode();
        r.cause = openCause;
        r.error = QStringLiteral("Can't play the file");
        return r;
    }

    BASS_CHANNELINFO info;
    DWORD rate = 0;
    if (!BASS_ChannelGetInfo(stream.get(), &info) ||
        !BASS_ChannelGetAttributes(stream.get(), &rate, nullptr, nullptr) || info.chans == 0 ||
        info.chans > 2 || rate == 0) {
        r.soundError = BASS_ErrorGetCode();
        r.error = QStringLiteral("%1: unsupported sound format").arg(name);
        return r;
    }
    const std::uint16_t bits = (info.flags & BASS_SAMPLE_8BITS) ? 8 : 16;
    const WavHeader format = WavHeader::pcm(std::uint16_t(info.chans), rate, bits);
    const QWORD length = BASS_ChannelGetLength(stream.get());
    if (length == ~QWORD(0)) {
        r.soundError = BASS_ErrorGetCode();
        r.error = QStringLiteral("%1: the length of the sound is unknown: %2")
                      .arg(name, QString::fromStdString(lastErrorText()));
        return r;
    }
    if (length > WavHeader::kMaxDataSize) {
        r.error = QStringLiteral("%1: the decoded sound would pass the 4 GiB limit of a WAV file")
                      .arg(name);
        return r;
    }

    WavWriter out(target);
    if (!out.open(format, &r.error))
        return r;

    // The decode runs to the length the stream announced, and anything short of it is a failure:
    // a read error, a file that shrank, or a stream freed under it (whose unknown handle would
    // read as stopped) must never finish a partial file as a whole song.
    std::vector<char> block(kBlockBytes);
    while (out.dataBytes() < length) {
        const DWORD got = BASS_ChannelGetData(stream.get(), block.data(), kBlockBytes);
        if (got == 0xFFFFFFFFu || got == 0) {
            r.soundError = got == 0 ? BASS_ERROR_UNKNOWN : BASS_ErrorGetCode();
            r.error = QStringLiteral("%1: decoding failed after %2 of %3 bytes: %4")
                          .arg(name)
                          .arg(out.dataBytes())
                          .arg(length)
                          .arg(got == 0 ? QStringLiteral("the stream gives nothing more")
                                        : QString::fromStdString(lastErrorText()));
            return r;
        }
        if (!out.write(block.data(), qint64(got), &r.error))
            return r;
        if (yield && !yield()) {
            r.error = QStringLiteral("%1: cancelled").arg(name);
            return r;
        }
    }

    if (out.dataBytes() == 0) {
        // A song without a single sample is of no use in the list and would only confuse
        // the joins, so it is refused like an unreadable one.
        r.error = QStringLiteral("%1: the file holds no sound").arg(name);
        return r;
    }
    if (!out.finish(&r.error))
        return r;
    r.ok = true;
    r.header = out.header();
    return r;
}

} // namespace quaverly
