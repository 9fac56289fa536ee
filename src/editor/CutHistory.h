#pragma once
// The undo of the clip editor's cut: each working copy as it was before its last cut, kept
// beside it in a hidden folder of the working folder under a unique name
// (".before-cut/NAME-XXXXXX"), so that the working folder itself holds only working copies.
// Only the last cut of a song can be undone: keeping it again replaces what was kept before.
//
// Keeping is a copy, made by the kernel (a shared-block clone where the file system offers one,
// else an in-kernel copy) into a new file that becomes the kept copy only once it is complete,
// so an undo never finds half a file. The copy is not forced to the disk: it serves this run
// only, in a folder that is emptied when the program ends, and a crash loses the working copies
// with it. Renaming the working copy aside and cutting from there would save the copy, but
// would leave the song without a working copy whenever the cut failed and the rename back did
// too; the copy keeps the working copy in place at every moment.
//
// Undo renames the kept copy over the working copy: the working copy is replaced whole, at
// once, byte for byte as it was kept (with its permissions), and nothing is left to undo.
//
// Every kept copy is removed when its song is forgotten and when the history is destroyed.
// Not thread-safe; use from one thread.

#include <QString>

#include <map>
#include <optional>

namespace quaverly {

class CutHistory {
public:
    // A copy taken for an undo that becomes the kept one only by commit(), once the cut it
    // guards has succeeded. Dropped without commit(), it removes the copy and the history is as
    // it was. It must not outlive its history.
    class Pending {
    public:
        Pending(Pending&& other) noexcept;
        Pending& operator=(Pending&& other) noexcept; // drops this one's copy
        ~Pending();

        // Makes this copy the one undo() restores, removing the one kept before it.
        void commit();

    private:
        friend class CutHistory;
        Pending(CutHistory* history, QString key, QString copy);

        CutHistory* history_;
        QString key_;
        QString copy_; // empty once committed or moved from
    };

    CutHistory() = default;
    ~CutHistory(); // removes every kept copy
    CutHistory(const CutHistory&) = delete;
    CutHistory& operator=(const CutHistory&) = delete;

    // Copies `workingCopy` aside for a cut that is about to be made; on failure *error names the
    // file and the cause, and nothing is left behind.
    std::optional<Pending> prepare(const QString& workingCopy, QString* error);
    // prepare() and commit() at once: keeps `workingCopy` as it is now.
    bool keep(const QString& workingCopy, QString* error);

    bool canUndo(const QString& workingCopy) const;
    // Puts `workingCopy` back as it was kept. On failure it stays as it is and can still be
    // undone.
    bool undo(const QString& workingCopy, QString* error);
    // Removes what is kept of `workingCopy` (its song leaves the list).
    void forget(const QString& workingCopy);

private:
    static QString key(const QString& workingCopy);

    std::map<QString, QString> kept_; // the working copy's absolute path -> its kept copy
};

} // namespace quaverly
