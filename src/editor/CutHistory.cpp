#include "editor/CutHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef Q_OS_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quaverly {
namespace {

// The hidden folder beside a working copy that holds what is kept of it.
QString keptFolderOf(const QString& workingCopy) {
    return QFileInfo(workingCopy).absolutePath() + QStringLiteral("/.before-cut");
}

// Removes a kept copy, and its folder when that is left empty.
void removeKept(const QString& copy) {
    QFile::remove(copy);
    QDir().rmdir(QFileInfo(copy).absolutePath());
}

QString systemCause(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Copies all of `from` (opened unbuffered) into the empty file `to`; on failure *cause says why.
bool copyInto(QFile& from, QFile& to, QString* cause) {
#ifdef Q_OS_LINUX
    const int in = from.handle();
    const int out = to.handle();
    if (::ioctl(out, FICLONE, in) == 0) // the file system shares the blocks: no bytes move
        return true;
    qint64 left = from.size();
    bool copied = false;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
        if (n < 0 && !copied &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            break; // not between these files: copy the bytes below
        if (n < 0) {
            *cause = systemCause(errno);
            return false;
        }
        if (n == 0) {
            *cause = QStringLiteral("the file ended before it was copied (it changed meanwhile)");
            return false;
        }
        copied = true;
        left -= n;
    }
    if (copied)
        return true;
#endif
    std::vector<char> block(1 << 20);
    for (;;) {
        const qint64 got = from.read(block.data(), qint64(block.size()));
        if (got < 0) {
            *cause = from.errorString();
            return false;
        }
        if (got == 0)
            break;
        if (to.write(block.data(), got) != got) {
            *cause = to.errorString();
            return false;
        }
    }
    if (!to.flush()) {
        *cause = to.errorString();
        return false;
    }
    return true;
}

} // namespace

CutHistory::Pending::Pending(CutHistory* history, QString key, QString copy)
    : history_(history), key_(std::move(key)), copy_(std::move(copy)) {}

CutHistory::Pending::Pending(Pending&& other) noexcept
    : history_(other.history_), key_(std::move(other.key_)), copy_(std::move(other.copy_)) {
    other.copy_.clear();
}

CutHistory::Pending& CutHistory::Pending::operator=(Pending&& other) noexcept {
    if (this != &other) {
        if (!copy_.isEmpty())
            removeKept(copy_);
        history_ = other.history_;
        key_ = std::move(other.key_);
        copy_ = std::move(other.copy_);
        other.copy_.clear();
    }
    return *this;
}

CutHistory::Pending::~Pending() {
    if (!copy_.isEmpty())
        removeKept(copy_);
}

void CutHistory::Pending::commit() {
    if (copy_.isEmpty())
        return;
    QString& slot = history_->kept_[key_];
    if (!slot.isEmpty())
        QFile::remove(slot); // the folder still holds the new copy
    slot = copy_;
    copy_.clear();
}

CutHistory::~CutHistory() {
    for (const auto& [workingCopy, copy] : kept_)
        removeKept(copy);
}

QString CutHistory::key(const QString& workingCopy) {
    return QFileInfo(workingCopy).absoluteFilePath();
}

std::optional<CutHistory::Pending> CutHistory::prepare(const QString& workingCopy, QString* error) {
    QFile from(workingCopy);
    if (!from.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(workingCopy, from.errorString());
        return std::nullopt;
    }
    const QString folder = keptFolderOf(workingCopy);
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot keep a copy of %1: cannot make the folder %2")
                     .arg(workingCopy, folder);
        return std::nullopt;
    }
    QTemporaryFile to(folder + QLatin1Char('/') + QFileInfo(workingCopy).fileName() +
                      QStringLiteral("-XXXXXX"));
    if (!to.open()) {
        *error = QStringLiteral("cannot keep a copy of %1 beside it: %2")
                     .arg(workingCopy, to.errorString());
        return std::nullopt;
    }
    QString cause;
    if (!copyInto(from, to, &cause)) {
        *error = QStringLiteral("cannot keep a copy of %1: %2").arg(workingCopy, cause);
        return std::nullopt; // `to` removes its file
    }
    if (!to.setPermissions(from.permissions())) {
        *error = QStringLiteral("cannot keep a copy of %1: %2").arg(workingCopy, to.errorString());
        return std::nullopt;
    }
    to.setAutoRemove(false); // from here on the Pending owns the file
    const QString copy = to.fileName();
    to.close();
    return Pending(this, key(workingCopy), copy);
}

bool CutHistory::keep(const QString& workingCopy, QString* error) {
    auto pending = prepare(workingCopy, error);
    if (!pending)
        return false;
    pending->commit();
    return true;
}

bool CutHistory::canUndo(const QString& workingCopy) const {
    return kept_.count(key(workingCopy)) != 0;
}

bool CutHistory::undo(const QString& workingCopy, QString* error) {
    const auto it = kept_.find(key(workingCopy));
    if (it == kept_.end()) {
        *error = QStringLiteral("%1: there is no cut to undo").arg(workingCopy);
        return false;
    }
    // The rename replaces the working copy at once, over whatever is there.
    if (std::rename(QFile::encodeName(it->second).constData(),
                    QFile::encodeName(it->first).constData()) != 0) {
        *error = QStringLiteral("cannot put %1 back as it was before the cut: %2")
                     .arg(workingCopy, systemCause(errno));
        return false;
    }
    kept_.erase(it);
    return true;
}

void CutHistory::forget(const QString& workingCopy) {
    const auto it = kept_.find(key(workingCopy));
    if (it == kept_.end())
        return;
    removeKept(it->second);
    kept_.erase(it);
}

} // namespace quaverly
