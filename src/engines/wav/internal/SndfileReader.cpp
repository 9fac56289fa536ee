#include "engines/wav/internal/SndfileReader.h"

#include "engines/util/AtomicFile.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace quaverly {
namespace {

// libsndfile's words without its own dressing: "Error : flac decoder lost sync." reads "flac
// decoder lost sync" after the words that say where it happened.
QString libraryWords(const char* text) {
    QString words = QString::fromUtf8(text).trimmed();
    for (const QLatin1String prefix : {QLatin1String("Error :"), QLatin1String("Error:")}) {
        if (words.startsWith(prefix)) {
            words = words.mid(prefix.size()).trimmed();
            break;
        }
    }
    if (words.endsWith(QLatin1Char('.')))
        words.chop(1);
    return words;
}

} // namespace

Status SndfileReader::open(const QString& path) {
    snd_.reset();
    file_.close();
    info_ = {};
    position_ = 0;
    file_.setFileName(path);
    if (!QFileInfo::exists(path))
        return Error({}, QStringLiteral("the file does not exist"), sound::kFileOpen);
    // libsndfile buffers what it reads; a second buffer in QFile would only copy it again.
    if (Status opened = openForReading(file_, QIODevice::ReadOnly | QIODevice::Unbuffered); !opened)
        return Error({}, opened.error().cause(), sound::kFileOpen);
    if (!surveyChunks())
        return Error({}, QStringLiteral("its chunks are damaged before the sound"),
                     sound::kFileForm);
    static SF_VIRTUAL_IO io{&vioLength, &vioSeek, &vioRead, &vioWrite, &vioTell};
    readError_.clear();
    snd_.reset(sf_open_virtual(&io, SFM_READ, &info_, this));
    if (!readError_.isEmpty()) {
        snd_.reset();
        return Error({}, readError_, sound::kFileOpen);
    }
    if (!snd_)
        return Error({}, libraryWords(sf_strerror(nullptr)), sound::kFileForm);
    if (info_.frames < 0)
        info_.frames = 0;
    return {};
}

Status SndfileReader::afterCall(bool failed) const {
    if (!readError_.isEmpty())
        return Error({}, readError_, sound::kFileOpen);
    if (failed)
        return Error({}, libraryWords(sf_strerror(snd_.get())), sound::kFileOpen);
    return {};
}

template <typename T, typename Read>
Result<sf_count_t> SndfileReader::read(T* out, sf_count_t frames, Read readFrames) {
    if (!snd_)
        return Error({}, QStringLiteral("the file is not open"), sound::kFileOpen);
    readError_.clear();
    const sf_count_t got = readFrames(snd_.get(), out, frames);
    if (Status read = afterCall(got < 0 || sf_error(snd_.get()) != SF_ERR_NO_ERROR); !read)
        return read.error();
    const sf_count_t due = std::min(frames, std::max<sf_count_t>(info_.frames - position_, 0));
    position_ += got;
    if (got < due && lengthKnown())
        return Error({},
                     QStringLiteral("the file ends after %1 of its %2 frames")
                         .arg(position_)
                         .arg(info_.frames),
                     sound::kNotAvail);
    return got;
}

Result<sf_count_t> SndfileReader::readShorts(short* out, sf_count_t frames) {
    return read(out, frames, &sf_readf_short);
}

Result<sf_count_t> SndfileReader::readFloats(float* out, sf_count_t frames) {
    return read(out, frames, &sf_readf_float);
}

Status SndfileReader::seek(sf_count_t frame) {
    if (!snd_)
        return Error({}, QStringLiteral("the file is not open"), sound::kFileOpen);
    readError_.clear();
    const sf_count_t at = sf_seek(snd_.get(), frame, SEEK_SET);
    if (Status sought = afterCall(at < 0); !sought)
        return sought;
    position_ = at;
    return {};
}

// libsndfile 1.2's parsers of tag chunks can loop for ever on damaged ones (a LIST chunk in
// front of the sound, or chunks behind it), and this program reads no tags from WAV files. So
// the chunk headers are walked here first, from the RIFF header on, and libsndfile is shown a
// view of the file in which the LIST chunks in front of the "data" chunk are named "JUNK" (it
// skips those by their size) and which ends where the sound ends. Before the sound, a chunk
// whose name is no name or that runs past the file's end is damage (unless an odd chunk went
// unpadded): false, and libsndfile is not shown the file at all. Never a byte of sound is
// changed: a "data" chunk that runs to the end of the file, or whose size is 0 (written while
// streaming), keeps the rest of the file in view.
bool SndfileReader::surveyChunks() {
    lists_.clear();
    viewEnd_ = file_.size();
    char head[12];
    if (file_.read(head, 12) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
        std::memcmp(head + 8, "WAVE", 4) == 0) {
        qint64 at = 12;
        bool oddBefore = false;
        for (int chunks = 0; chunks < 10000 && at + 8 <= viewEnd_; ++chunks) {
            unsigned char chunk[8];
            if (!file_.seek(at) || file_.read(reinterpret_cast<char*>(chunk), 8) != 8)
                break;
            const std::uint32_t bytes = std::uint32_t(chunk[4]) | std::uint32_t(chunk[5]) << 8 |
                                        std::uint32_t(chunk[6]) << 16 |
                                        std::uint32_t(chunk[7]) << 24;
            const bool named =
                std::all_of(chunk, chunk + 4, [](unsigned char c) { return c >= 32 && c < 127; });
            const bool isData = std::memcmp(chunk, "data", 4) == 0;
            if (!named || (!isData && at + 8 + qint64(bytes) > viewEnd_)) {
                // An odd-sized chunk its writer did not pad: the next starts a byte earlier.
                if (oddBefore) {
                    oddBefore = false;
                    --at;
                    continue;
                }
                // Damage in front of the sound, where libsndfile's own search can run for ever.
                file_.seek(0);
                return false;
            }
            if (isData) {
                if (bytes > 0 && at + 8 + qint64(bytes) < viewEnd_)
                    viewEnd_ = at + 8 + qint64(bytes);
                break;
            }
            if (std::memcmp(chunk, "LIST", 4) == 0)
                lists_.push_back(at);
            oddBefore = bytes & 1;
            at += 8 + qint64(bytes) + qint64(bytes & 1);
        }
    }
    file_.seek(0);
    return true;
}

// The adapter: libsndfile's calls on the QFile, within the view. A failed read gives
// libsndfile no bytes (which it takes for the end) and leaves its cause for the reader's call
// that is under way to report.
sf_count_t SndfileReader::vioLength(void* user) {
    return static_cast<SndfileReader*>(user)->viewEnd_;
}

sf_count_t SndfileReader::vioSeek(sf_count_t offset, int whence, void* user) {
    auto* self = static_cast<SndfileReader*>(user);
    QFile& f = self->file_;
    const qint64 base = whence == SEEK_CUR ? f.pos() : whence == SEEK_END ? self->viewEnd_ : 0;
    if (base + offset < 0 || !f.seek(base + offset))
        return -1;
    return f.pos();
}

sf_count_t SndfileReader::vioRead(void* ptr, sf_count_t count, void* user) {
    auto* self = static_cast<SndfileReader*>(user);
    const qint64 from = self->file_.pos();
    const qint64 want = std::max<qint64>(0, std::min<qint64>(count, self->viewEnd_ - from));
    auto* bytes = static_cast<char*>(ptr);
    const qint64 n = want > 0 ? self->file_.read(bytes, want) : 0;
    if (n < 0) {
        if (self->readError_.isEmpty())
            self->readError_ = self->file_.errorString();
        return 0;
    }
    for (const qint64 list : self->lists_)
        for (qint64 i = std::max(list, from); i < std::min(list + 4, from + n); ++i)
            bytes[i - from] = "JUNK"[i - list];
    return n;
}

sf_count_t SndfileReader::vioWrite(const void*, sf_count_t, void*) {
    return 0; // read only
}

sf_count_t SndfileReader::vioTell(void* user) {
    return static_cast<SndfileReader*>(user)->file_.pos();
}

} // namespace quaverly
