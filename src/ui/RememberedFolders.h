#pragma once
// The folder each kind of file dialog was last picked in (songs, saves, recordings), kept in a
// small INI file so that the next run opens there too, and the Dialogs that apply it: the window
// wraps its dialogs in RememberingDialogs, and each file dialog only names its kind.
//
// An open dialog opens in its kind's folder; a save dialog keeps the file name it offers and
// only takes the folder. Until a kind has a folder (or when it is gone) the request stays as
// its caller made it. Only a pick counts: a cancelled dialog remembers nothing.
//
// Threads: UI thread only.

#include "ui/Dialogs.h"

#include <QString>

#include <map>

namespace quaverly {

class RememberedFolders {
public:
    // `file`: the INI file read now and written at every pick.
    explicit RememberedFolders(QString file);

    // The folder last picked in for `kind`, while it is there; empty otherwise and for Other.
    QString folder(Dialogs::FileKind kind) const;
    // Keeps the folder of `picked` (a file chosen in a dialog of `kind`).
    void remember(Dialogs::FileKind kind, const QString& picked);

    // `request` as it is asked: in its kind's folder, when there is one.
    Dialogs::FileRequest applied(Dialogs::FileRequest request, bool save) const;

private:
    QString file_;
    std::map<Dialogs::FileKind, QString> folders_;
};

class RememberingDialogs final : public ForwardingDialogs {
public:
    RememberingDialogs(Dialogs& inner, const QString& file)
        : ForwardingDialogs(inner), folders_(file) {}

    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QStringList openFiles(const FileRequest& request) override;

private:
    RememberedFolders folders_;
};

} // namespace quaverly
