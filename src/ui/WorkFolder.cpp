#include "ui/WorkFolder.h"

#include "engines/util/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

namespace quaverly {

namespace {

constexpr QFileDevice::Permissions kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                              QFileDevice::WriteUser | QFileDevice::ExeUser;
constexpr int kMaxSlots = 1000;

QString slotName(int n) {
    return QStringLiteral("instance-%1").arg(n);
}

std::unique_ptr<QLockFile> makeLock(const QString& path) {
    auto lock = std::make_unique<QLockFile>(path);
    // A lock lives as long as its instance, hours maybe: never let its age make it stale.
    // Staleness then means only that the process holding it is gone.
    lock->setStaleLockTime(0);
    return lock;
}

// A failure told in a phrase that names its folder or file.
Error refused(const QString& phrase) {
    return Error({}, phrase);
}

Status ensurePrivateFolder(const QString& path) {
    QFileInfo info(path);
    if (!info.exists()) {
        const QString parent = info.absolutePath();
        if (!QDir().mkpath(parent))
            return refused(QObject::tr("the folder %1 could not be created").arg(parent));
        if (!QDir().mkdir(path, kPrivate) && !QFileInfo(path).isDir())
            return refused(QObject::tr("the folder %1 could not be created").arg(path));
    } else if (!info.isDir()) {
        return refused(QObject::tr("%1 exists but is not a folder").arg(path));
    }
    // Another user must not read the songs being worked on.
    QFile::setPermissions(path, kPrivate);
    if (!QFileInfo(path).isWritable())
        return refused(QObject::tr("the folder %1 cannot be written").arg(path));
    return {};
}

} // namespace

int deleteFilesIn(const QString& folder) {
    QDir dir(folder);
    int failed = 0;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            continue; // a sub-folder (QDir::System may list special entries)
        }
        if (!QFile::remove(entry.absoluteFilePath())) {
            ++failed;
        }
    }
    return failed;
}

WorkFolder::WorkFolder(QString root) : root_(std::move(root)) {}

WorkFolder::~WorkFolder() {
    close();
}

QString WorkFolder::defaultRoot() {
    QString base = qEnvironmentVariable("QUAVERLY_WORK_BASE");
    if (base.isEmpty())
        base = userCacheBase();
    return QDir::cleanPath(base) + u'/' + QLatin1String(kWorkFolderName);
}

Status WorkFolder::open() {
    if (isOpen()) {
        return {};
    }
    if (Status root = ensurePrivateFolder(root_); !root) {
        return root;
    }
    const QDir rootDir(root_);

    // Claim the lowest slot whose lock can be taken: a running instance holds its lock, so a
    // slot that can be locked belongs to nobody (or to a crashed instance).
    for (int n = 0; n < kMaxSlots && !lock_; ++n) {
        auto lock = makeLock(rootDir.filePath(slotName(n) + QStringLiteral(".lock")));
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError) {
                continue; // held by a running instance
            }
            return refused(QObject::tr("the lock file %1 cannot be written").arg(lock->fileName()));
        }
        const QString slot = rootDir.filePath(slotName(n));
        if (Status made = ensurePrivateFolder(slot); !made) {
            return made; // the lock goes with `lock`
        }
        lock_ = std::move(lock);
        slotPath_ = slot + u'/';
    }
    if (!lock_) {
        return refused(QObject::tr("too many instances are running"));
    }
    emptyFiles();

    // Clear what crashed instances left behind. A slot whose lock we can take is not in use;
    // holding its lock meanwhile keeps a starting instance from claiming it under our feet.
    // Slots show up as their lock file, their folder or both.
    static const QRegularExpression slotEntry(QStringLiteral("^instance-(\\d+)(\\.lock)?$"));
    QStringList others;
    const QStringList names =
        rootDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const auto m = slotEntry.match(name);
        const QString slot = QStringLiteral("instance-") + m.captured(1);
        if (m.hasMatch() && !others.contains(slot) && rootDir.filePath(slot) + u'/' != slotPath_) {
            others.append(slot);
        }
    }
    for (const QString& slot : others) {
        auto other = makeLock(rootDir.filePath(slot + QStringLiteral(".lock")));
        if (!other->tryLock(0)) {
            continue;
        }
        deleteFilesIn(rootDir.filePath(slot));
        rootDir.rmdir(slot); // only when nothing is left in it
        other->unlock();
    }
    return {};
}

bool WorkFolder::isOpen() const {
    return lock_ != nullptr;
}

QString WorkFolder::path() const {
    return slotPath_;
}

int WorkFolder::emptyFiles() {
    return isOpen() ? deleteFilesIn(slotPath_) : 0;
}

void WorkFolder::close() {
    if (!lock_) {
        return;
    }
    emptyFiles();
    lock_->unlock();
    lock_.reset();
    slotPath_.clear();
}

} // namespace quaverly
