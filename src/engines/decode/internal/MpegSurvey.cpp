#include "engines/decode/internal/MpegSurvey.h"

#include "engines/decode/internal/Decoder.h"

#include <cerrno>
#include <cstring>

namespace quaverly::decode {
namespace {

thread_local int readError = 0;

// libmpg123 reads through the buffered stdio file.
mpg123_ssize_t readCallback(void* handle, void* buffer, size_t bytes) {
    auto* f = static_cast<std::FILE*>(handle);
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, bytes, f);
    readError = got == 0 && std::ferror(f) ? (errno != 0 ? errno : EIO) : 0;
    return readError != 0 ? -1 : static_cast<mpg123_ssize_t>(got);
}

off_t seekCallback(void* handle, off_t offset, int whence) {
    auto* f = static_cast<std::FILE*>(handle);
    if (seekFile(f, offset, whence) != 0)
        return -1;
    return static_cast<off_t>(tellFile(f));
}

} // namespace

int readThroughStdio(mpg123_handle* mh) {
    return mpg123_replace_reader_handle(mh, readCallback, seekCallback, nullptr);
}

int lastReadError() {
    return readError;
}

void clearReadError() {
    readError = 0;
}

std::string mpgError(mpg123_handle* mh, int code) {
    if (readError != 0)
        return std::string("read error: ") + std::strerror(readError);
    return (code == MPG123_ERR && mh) ? mpg123_strerror(mh) : mpg123_plain_strerror(code);
}

Survey survey(mpg123_handle* mh) {
    Survey s;
    off_t firstEnd = 0;
    for (;;) {
        const int r = mpg123_framebyframe_next(mh);
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            s.stopReason = mpgError(mh, r);
            break;
        }
        mpg123_frameinfo2 fi{};
        if (mpg123_info2(mh, &fi) != MPG123_OK) {
            s.stopReason = mpg123_strerror(mh);
            break;
        }
        const off_t pos = mpg123_framepos(mh);
        if (s.frames == 0) {
            s.rate = fi.rate;
            s.layer = fi.layer;
            s.version = fi.version;
            firstEnd = pos + fi.framesize;
        } else if (s.frames == 1) {
            s.firstTwoAdjacent = pos == firstEnd && fi.layer == s.layer &&
                                 fi.version == s.version && fi.rate == s.rate;
        }
        if (fi.mode != MPG123_M_MONO)
            s.anyStereo = true;
        else
            s.anyMono = true;
        if (fi.rate != s.rate)
            s.rateChanges = true;
        s.facts.add(pos, fi.framesize, fi.layer, fi.version, fi.rate, fi.mode == MPG123_M_MONO,
                    (fi.flags & MPG123_CRC) != 0, fi.bitrate == 0);
        ++s.frames;
    }
    return s;
}

bool tagFramesPlausible(mpg123_handle* mh, std::FILE* f) {
    const off_t frames = mpg123_framelength(mh);
    if (frames <= 0 || seekFile(f, 0, SEEK_END) != 0)
        return true;
    const std::int64_t size = tellFile(f);
    return size < 0 || static_cast<std::int64_t>(frames) <= size / 24 + 1;
}

} // namespace quaverly::decode
