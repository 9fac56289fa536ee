#include "editor/CutHistory.h"

#include "engines/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// Why `workingCopy` cannot be kept. The sentence names the working copy itself, so the Error
// names no file.
Error cannotKeep(const QString& workingCopy, const QString& why) {
    return Error(QString(), QStringLiteral("cannot keep a copy of %1%2").arg(workingCopy, why));
}

// A copy of `workingCopy`, with its permissions, under a new name that starts with `base`.
Result<QString> copyAside(const QString& workingCopy, const QString& base) {
    ReservedFile reserved(base + QStringLiteral("XXXXXX")); // removed unless kept
    if (!reserved.isValid())
        return cannotKeep(workingCopy, QStringLiteral(" beside it: ") + reserved.errorString());
    if (Status copied = copyFileAtomically(workingCopy, reserved.fileName()); !copied)
        return cannotKeep(workingCopy, QStringLiteral(": ") + copied.error().text());
    if (!QFile::setPermissions(reserved.fileName(), QFile::permissions(workingCopy)))
        return cannotKeep(workingCopy, QStringLiteral(": its permissions cannot be given to ") +
                                           reserved.fileName());
    reserved.keep();
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

Result<CutHistory::Pending> CutHistory::prepare(const QString& workingCopy) {
    // A link needs no read access, but what is kept must be readable again to be of any use.
    {
        QFile from(workingCopy);
        if (Status opened = openForReading(from, QIODevice::ReadOnly); !opened)
            return opened.error();
    }
    const QString folder = keptFolderOf(workingCopy);
    if (!QDir().mkpath(folder))
        return cannotKeep(workingCopy, QStringLiteral(": cannot make the folder ") + folder);
    const QString base =
        folder + QLatin1Char('/') + QFileInfo(workingCopy).fileName() + QLatin1Char('-');
    if (how_ == Keeping::ByLink)
        if (const auto linked = linkAside(workingCopy, base + QStringLiteral("XXXXXX")))
            return Pending(this, key(workingCopy), *linked);
    // No hard links here, or any other refusal: a copy, which says why should it fail too.
    const auto copied = copyAside(workingCopy, base);
    if (!copied) {
        QDir().rmdir(folder); // when nothing else is kept there
        return copied.error();
    }
    return Pending(this, key(workingCopy), *copied);
}

Status CutHistory::keep(const QString& workingCopy) {
    auto pending = prepare(workingCopy);
    if (!pending)
        return pending.error();
    pending->commit();
    return {};
}

bool CutHistory::canUndo(const QString& workingCopy) const {
    return kept_.count(key(workingCopy)) != 0;
}

Status CutHistory::undo(const QString& workingCopy) {
    const auto it = kept_.find(key(workingCopy));
    if (it == kept_.end())
        return Error(workingCopy, QStringLiteral("there is no cut to undo"));
    // The rename replaces the working copy at once, over whatever is there. The sentence names
    // the working copy itself.
    if (Status put = replaceFile(it->second, it->first); !put)
        return Error(QString(), QStringLiteral("cannot put %1 back as it was before the cut: %2")
                                    .arg(workingCopy, put.error().cause()));
    kept_.erase(it);
    return {};
}

void CutHistory::forget(const QString& workingCopy) {
    const auto it = kept_.find(key(workingCopy));
    if (it == kept_.end())
        return;
    removeKept(it->second);
    kept_.erase(it);
}

} // namespace quaverly
