#include "engines/wav/SndfileReader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace quaverly {

SndfileReader::Opened SndfileReader::open(const QString& path) {
    snd_.reset();
    file_.close();
    info_ = {};
    position_ = 0;
    readError_.clear();
    cause_.clear();
    file_.setFileName(path);
    if (!QFileInfo::exists(path)) {
        cause_ = QStringLiteral("the file does not exist");
        return Opened::CannotOpen;
    }
    // libsndfile buffers what it reads; a second buffer in QFile would only copy it again.
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        cause_ = file_.errorString();
        return Opened::CannotOpen;
    }
    static SF_VIRTUAL_IO io{&vioLength, &vioSeek, &vioRead, &vioWrite, &vioTell};
    snd_.reset(sf_open_virtual(&io, SFM_READ, &info_, this));
    if (!readError_.isEmpty()) {
        snd_.reset();
        cause_ = readError_;
        return Opened::CannotOpen;
    }
    if (!snd_) {
        cause_ = QString::fromUtf8(sf_strerror(nullptr)).trimmed();
        return Opened::NotSound;
    }
    if (info_.frames < 0)
        info_.frames = 0;
    return Opened::Ok;
}

QString SndfileReader::error() const {
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file_.fileName()), cause_);
}

bool SndfileReader::fail(const QString& cause) {
    cause_ = cause;
    return false;
}

template <typename T, typename Read>
sf_count_t SndfileReader::read(T* out, sf_count_t frames, Read readFrames) {
    if (!snd_) {
        fail(QStringLiteral("the file is not open"));
        return -1;
    }
    const sf_count_t got = readFrames(snd_.get(), out, frames);
    if (!readError_.isEmpty()) {
        fail(readError_);
        return -1;
    }
    if (got < 0 || sf_error(snd_.get()) != SF_ERR_NO_ERROR) {
        fail(QString::fromUtf8(sf_strerror(snd_.get())));
        return -1;
    }
    const sf_count_t due = std::min(frames, std::max<sf_count_t>(info_.frames - position_, 0));
    position_ += got;
    if (got < due) {
        fail(QStringLiteral("the file ends after %1 of its %2 frames")
                 .arg(position_)
                 .arg(info_.frames));
        return -1;
    }
    return got;
}

sf_count_t SndfileReader::readShorts(short* out, sf_count_t frames) {
    return read(out, frames, &sf_readf_short);
}

sf_count_t SndfileReader::readFloats(float* out, sf_count_t frames) {
    return read(out, frames, &sf_readf_float);
}

bool SndfileReader::seek(sf_count_t frame) {
    if (!snd_)
        return fail(QStringLiteral("the file is not open"));
    const sf_count_t at = sf_seek(snd_.get(), frame, SEEK_SET);
    if (!readError_.isEmpty())
        return fail(readError_);
    if (at < 0)
        return fail(QString::fromUtf8(sf_strerror(snd_.get())));
    position_ = at;
    return true;
}

// The adapter: libsndfile's calls on the QFile. A failed read gives libsndfile no bytes (which
// it takes for the end) and leaves its cause for the reader to report.
sf_count_t SndfileReader::vioLength(void* user) {
    return static_cast<SndfileReader*>(user)->file_.size();
}

sf_count_t SndfileReader::vioSeek(sf_count_t offset, int whence, void* user) {
    QFile& f = static_cast<SndfileReader*>(user)->file_;
    const qint64 base = whence == SEEK_CUR ? f.pos() : whence == SEEK_END ? f.size() : 0;
    if (base + offset < 0 || !f.seek(base + offset))
        return -1;
    return f.pos();
}

sf_count_t SndfileReader::vioRead(void* ptr, sf_count_t count, void* user) {
    auto* self = static_cast<SndfileReader*>(user);
    const qint64 n = self->file_.read(static_cast<char*>(ptr), count);
    if (n < 0) {
        if (self->readError_.isEmpty())
            self->readError_ = self->file_.errorString();
        return 0;
    }
    return n;
}

sf_count_t SndfileReader::vioWrite(const void*, sf_count_t, void*) {
    return 0; // read only
}

sf_count_t SndfileReader::vioTell(void* user) {
    return static_cast<SndfileReader*>(user)->file_.pos();
}

} // namespace quaverly
