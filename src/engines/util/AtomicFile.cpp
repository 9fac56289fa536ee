#include "engines/util/AtomicFile.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>
#include <vector>

namespace quaverly {

AtomicFile::AtomicFile(QString target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::open(QString* error) {
    const QFileInfo info(target_);
    if (info.isDir()) {
        *error = QStringLiteral("%1 is a folder").arg(target_);
        return false;
    }
    temp_ = std::make_unique<QTemporaryFile>(info.absolutePath() + QStringLiteral("/.") +
                                             info.fileName() + QStringLiteral(".XXXXXX.part"));
    temp_->setAutoRemove(true);
    if (!temp_->open()) {
        *error = QStringLiteral("%1: %2").arg(target_, temp_->errorString());
        temp_.reset();
        return false;
    }
    return true;
}

bool AtomicFile::write(const char* data, qint64 bytes, QString* error) {
    if (temp_->write(data, bytes) == bytes)
        return true;
    *error = QStringLiteral("%1: %2").arg(target_, temp_->errorString());
    return false;
}

bool AtomicFile::commit(QString* error) {
    if (!temp_) {
        *error = QStringLiteral("%1: not open").arg(target_);
        return false;
    }
    if (!temp_->flush()) {
        *error = QStringLiteral("%1: %2").arg(target_, temp_->errorString());
        return false;
    }
    // A temporary file is private to its owner; the result keeps the permissions of the file
    // it replaces, or gets those of an ordinary new file.
    const QFileInfo existing(target_);
    temp_->setPermissions(existing.exists() ? existing.permissions()
                                            : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
    const QString from = temp_->fileName();
    temp_->close();
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(target_.toStdU16String()), ec);
    if (ec) {
        *error = QStringLiteral("%1: %2").arg(target_, QString::fromStdString(ec.message()));
        return false; // the temporary file is removed with temp_
    }
    temp_->setAutoRemove(false);
    temp_.reset();
    return true;
}

void AtomicFile::discard() {
    temp_.reset();
}

bool copyFileAtomically(const QString& source, const QString& target, QString* error) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(source, in.errorString());
        return false;
    }
    AtomicFile out(target);
    if (!out.open(error))
        return false;
    std::vector<char> block(1 << 20);
    for (;;) {
        const qint64 got = in.read(block.data(), qint64(block.size()));
        if (got < 0) {
            *error = QStringLiteral("%1: %2").arg(source, in.errorString());
            return false;
        }
        if (got == 0)
            break;
        if (!out.write(block.data(), got, error))
            return false;
    }
    return out.commit(error);
}

} // namespace quaverly
