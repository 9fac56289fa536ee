#pragma once
// The private working folder of one running instance.
//
// All instances share one root, kWorkFolderName under the cache base ($QUAVERLY_WORK_BASE, else
// the user's cache folder: engines/util/UserFolders.h), created with mode 0700. Inside it each running instance owns
// a slot: the folder "instance-N" guarded by the lock file "instance-N.lock" beside it. A second
// instance therefore never empties the first one's folder. When a slot's lock is free or stale
// (its instance crashed), the next instance that starts removes the files it left.
//
// Only files are ever deleted; sub-folders survive start and exit.
//
// Threads: UI thread only. path() may be read from any thread once open() has returned.

#include "engines/util/Error.h"

#include <QString>

#include <memory>

class QLockFile;

namespace quaverly {

inline constexpr char kWorkFolderName[] = "velmarise";

class WorkFolder {
public:
    // root: the shared root; by default defaultRoot().
    explicit WorkFolder(QString root = defaultRoot());
    ~WorkFolder(); // empties the instance folder and frees the slot, if still open
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // The shared root: the cache base followed by kWorkFolderName.
    static QString defaultRoot();

    // Creates the root when missing, claims the lowest free slot, empties it of files and
    // removes what crashed instances left in the other free slots. Fails when no slot could be
    // prepared, the Error's cause saying why in a phrase that names the folder or file ("the
    // folder /x could not be created"); the program then runs without a working folder.
    Status open();

    // The instance folder, ending in "/"; empty while not open.
    QString path() const;

    // Deletes every file of the instance folder and keeps going past files that cannot be
    // deleted. Returns how many files could not be deleted.
    int emptyFiles();

    // emptyFiles(), then frees the slot. The folder itself stays, for the next start.
    void close();

private:
    bool isOpen() const;

    QString root_;
    QString slotPath_;
    std::unique_ptr<QLockFile> lock_;
};

// Deletes every file (hidden ones and links included) directly inside folder; sub-folders and
// their contents are kept. Returns how many files could not be deleted.
int deleteFilesIn(const QString& folder);

} // namespace quaverly
