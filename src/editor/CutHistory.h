#pragma once
// The undo of the clip editor's cut: each working copy as it was before its last cut, kept
// beside it in a hidden folder of the working folder under a unique name
// (".before-cut/NAME-XXXXXX"), so that the working folder itself holds only working copies.
// Only the last cut of a song can be undone: keeping it again replaces what was kept before.
//
// Keeping is a hard link: a second name for the working copy's data, made at once whatever the
// song's length. It keeps the old contents because nothing writes a working copy in place: the
// cut and the effects write a new file and rename it over the working copy, which leaves the old
// data to the kept name alone. Where the file system has no hard links, the working copy is
// copied instead, through the one write path (copyFileAtomically), under the same kind of name.
// Either way the kept file is complete before it is kept, so an undo never finds half a file, and
// the working copy stays in place at every moment, whether the cut succeeds or not.
//
// Undo renames the kept file over the working copy: the working copy is replaced whole, at once,
// byte for byte as it was kept (with its permissions), and nothing is left to undo.
//
// Every kept file is removed when its song is forgotten and when the history is destroyed.
// Not thread-safe: one thread, the history's own, calls everything, with two exceptions for a
// cut made on a worker: prepare() only makes a file and reads nothing the history changes, so a
// worker may call it while the history's thread leaves the history alone; and a Pending not
// committed may be dropped on any thread (it only removes its file). commit() is the history's
// thread's.

#include "engines/util/Error.h"

#include <QString>

#include <map>

namespace quaverly {

class CutHistory {
public:
    // What is kept for an undo (a link, or a copy) becomes the kept one only by commit(), once
    // the cut it guards has succeeded. Dropped without commit(), it removes its file and the
    // history is as it was. It must not outlive its history.
    class Pending {
    public:
        Pending(Pending&& other) noexcept;
        Pending& operator=(Pending&& other) noexcept; // drops this one's file
        ~Pending();

        // Makes this the one undo() restores, removing the one kept before it.
        void commit();

    private:
        friend class CutHistory;
        Pending(CutHistory* history, QString key, QString file);

        CutHistory* history_;
        QString key_;
        QString file_; // empty once committed or moved from
    };

    // How a working copy is kept: by a hard link, or by a copy (what is done where a link cannot
    // be made; tests choose it to see that way work).
    enum class Keeping { ByLink, ByCopy };

    explicit CutHistory(Keeping how = Keeping::ByLink) : how_(how) {}
    ~CutHistory(); // removes every kept file
    CutHistory(const CutHistory&) = delete;
    CutHistory& operator=(const CutHistory&) = delete;

    // Keeps `workingCopy` aside for a cut that is about to be made; on failure nothing is left
    // behind. A failure to read the working copy names it as the Error's file; the others are
    // sentences that name it ("cannot keep a copy of FILE: ...").
    Result<Pending> prepare(const QString& workingCopy);
    // prepare() and commit() at once: keeps `workingCopy` as it is now.
    Status keep(const QString& workingCopy);

    bool canUndo(const QString& workingCopy) const;
    // Puts `workingCopy` back as it was kept. On failure it stays as it is and can still be
    // undone.
    Status undo(const QString& workingCopy);
    // Removes what is kept of `workingCopy` (its song leaves the list).
    void forget(const QString& workingCopy);

private:
    static QString key(const QString& workingCopy);

    Keeping how_;
    std::map<QString, QString> kept_; // the working copy's absolute path -> its kept file
};

} // namespace quaverly
