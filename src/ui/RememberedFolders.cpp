#include "ui/RememberedFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace quaverly {

namespace {

// The key of each kind that is remembered.
const char* keyOf(Dialogs::FileKind kind) {
    switch (kind) {
    case Dialogs::FileKind::Songs:
        return "folders/songs";
    case Dialogs::FileKind::Saves:
        return "folders/saves";
    case Dialogs::FileKind::Recordings:
        return "folders/recordings";
    case Dialogs::FileKind::Other:
        break;
    }
    return nullptr;
}

constexpr Dialogs::FileKind kKinds[] = {Dialogs::FileKind::Songs, Dialogs::FileKind::Saves,
                                        Dialogs::FileKind::Recordings};

} // namespace

RememberedFolders::RememberedFolders(QString file) : file_(std::move(file)) {
    const QSettings saved(file_, QSettings::IniFormat);
    for (const Dialogs::FileKind kind : kKinds) {
        const QString folder = saved.value(QLatin1String(keyOf(kind))).toString();
        if (!folder.isEmpty())
            folders_[kind] = folder;
    }
}

QString RememberedFolders::folder(Dialogs::FileKind kind) const {
    const auto it = folders_.find(kind);
    return it != folders_.end() && QFileInfo(it->second).isDir() ? it->second : QString();
}

void RememberedFolders::remember(Dialogs::FileKind kind, const QString& picked) {
    const char* key = keyOf(kind);
    if (!key || picked.isEmpty())
        return;
    const QString folder = QFileInfo(picked).absolutePath();
    if (folders_[kind] == folder)
        return;
    folders_[kind] = folder;
    // Written at once (QSettings replaces the file whole), so that a run that ends abruptly
    // keeps it too. A file that cannot be written only costs the next run its folder.
    QSettings saved(file_, QSettings::IniFormat);
    saved.setValue(QLatin1String(key), folder);
}

Dialogs::FileRequest RememberedFolders::applied(Dialogs::FileRequest request, bool save) const {
    const QString folder = this->folder(request.kind);
    if (folder.isEmpty())
        return request;
    // A save offers its file name (which has an extension) in the remembered folder.
    const QFileInfo offered(request.folder);
    const bool name = save && !offered.isDir() && !offered.suffix().isEmpty();
    request.folder = name ? QDir(folder).filePath(offered.fileName()) : folder;
    return request;
}

QString RememberingDialogs::openFile(const FileRequest& request) {
    const QString picked = inner_.openFile(folders_.applied(request, false));
    folders_.remember(request.kind, picked);
    return picked;
}

QString RememberingDialogs::saveFile(const FileRequest& request) {
    const QString picked = inner_.saveFile(folders_.applied(request, true));
    folders_.remember(request.kind, picked);
    return picked;
}

QStringList RememberingDialogs::openFiles(const FileRequest& request) {
    const QStringList picked = inner_.openFiles(folders_.applied(request, false));
    if (!picked.isEmpty())
        folders_.remember(request.kind, picked.constFirst());
    return picked;
}

} // namespace quaverly
