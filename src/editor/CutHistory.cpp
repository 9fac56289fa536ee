#include "editor/CutHistory.h"

#include "engines/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quaverly {
namespace {

// The hidden folder beside a working copy that holds what is kept of it.
QString keptFolderOf(const QString& workingCopy) {
    return QFileInfo(workingCopy).absolutePath() + QStringLiteral("/.before-cut");
}

// Removes a kept file, and its folder when that is left empty.
void removeKept(const QString& file) {
    QFile::remove(file);
    QDir().rmdir(QFileInfo(file).absolutePath());
}

QString systemCause(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// A hard link to `workingCopy` under a new name that starts with `base`, or "" when none can be
// made here (no hard links on this file system, or any other refusal: the copy then says why).
QString linkAside(const QString& workingCopy, const QString& base) {
#ifdef Q_OS_UNIX
    const QByteArray from = QFile::encodeName(workingCopy);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = base + QString::number(QRandomGenerator::global()->generate(), 36);
        const QByteArray to = QFile::encodeName(name);
        const int rc = ::link(from.constData(), to.constData());
        const int cause = errno;
        if (rc == 0)
            return name;
        if (cause != EEXIST)
            break;
    }
#else
    (void)workingCopy;
    (void)base;
#endif
    return {};
}

// A copy of `workingCopy`, with its permissions, under a new name that starts with `base`; ""
// with *error set when it cannot be made.
QString copyAside(const QString& workingCopy, const QString& base, QString* error) {
    QTemporaryFile reserved(base + QStringLiteral("XXXXXX")); // removed unless kept
    if (!reserved.open()) {
        *error = QStringLiteral("cannot keep a copy of %1 beside it: %2")
                     .arg(workingCopy, reserved.errorString());
        return {};
    }
    reserved.close();
    if (Status copied = copyFileAtomically(workingCopy, reserved.fileName()); !copied) {
        *error =
            QStringLiteral("cannot keep a copy of %1: %2").arg(workingCopy, copied.error().text());
        return {};
    }
    if (!QFile::setPermissions(reserved.fileName(), QFile::permissions(workingCopy))) {
        *error = QStringLiteral("cannot keep a copy of %1: its permissions cannot be given to %2")
                     .arg(workingCopy, reserved.fileName());
        return {};
    }
    reserved.setAutoRemove(false);
    return reserved.fileName();
}

} // namespace

CutHistory::Pending::Pending(CutHistory* history, QString key, QString file)
    : history_(history), key_(std::move(key)), file_(std::move(file)) {}

CutHistory::Pending::Pending(Pending&& other) noexcept
    : history_(other.history_), key_(std::move(other.key_)), file_(std::move(other.file_)) {
    other.file_.clear();
}

CutHistory::Pending& CutHistory::Pending::operator=(Pending&& other) noexcept {
    if (this != &other) {
        if (!file_.isEmpty())
            removeKept(file_);
        history_ = other.history_;
        key_ = std::move(other.key_);
        file_ = std::move(other.file_);
        other.file_.clear();
    }
    return *this;
}

CutHistory::Pending::~Pending() {
    if (!file_.isEmpty())
        removeKept(file_);
}

void CutHistory::Pending::commit() {
    if (file_.isEmpty())
        return;
    QString& slot = history_->kept_[key_];
    if (!slot.isEmpty())
        QFile::remove(slot); // the folder still holds the new one
    slot = file_;
    file_.clear();
}

CutHistory::~CutHistory() {
    for (const auto& [workingCopy, file] : kept_)
        removeKept(file);
}

QString CutHistory::key(const QString& workingCopy) {
    return QFileInfo(workingCopy).absoluteFilePath();
}

std::optional<CutHistory::Pending> CutHistory::prepare(const QString& workingCopy, QString* error) {
    // A link needs no read access, but what is kept must be readable again to be of any use.
    if (QFile from(workingCopy); !from.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(workingCopy, from.errorString());
        return std::nullopt;
    }
    const QString folder = keptFolderOf(workingCopy);
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot keep a copy of %1: cannot make the folder %2")
                     .arg(workingCopy, folder);
        return std::nullopt;
    }
    const QString base =
        folder + QLatin1Char('/') + QFileInfo(workingCopy).fileName() + QLatin1Char('-');
    QString kept = how_ == Keeping::ByLink ? linkAside(workingCopy, base) : QString();
    if (kept.isEmpty())
        kept = copyAside(workingCopy, base, error);
    if (kept.isEmpty()) {
        QDir().rmdir(folder); // when nothing else is kept there
        return std::nullopt;
    }
    return Pending(this, key(workingCopy), kept);
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
