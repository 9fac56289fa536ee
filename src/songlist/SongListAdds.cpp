// Adding songs: the working copies are made on a job's thread, one file after the other, and the
// songs listed on the window thread when the job ends. The job's work reads only the copies of
// paths it was given; it never touches the list.
#include "songlist/SongListHandlers.h"

#include "engines/util/FrameTime.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/SongRowMarks.h"
#include "songlist/WorkingCopy.h"
#include "ui/Dialogs.h"
#include "ui/Jobs.h"
#include "ui/KeptSave.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPersistentModelIndex>

#include <algorithm>
#include <memory>
#include <vector>

namespace quaverly {

// The working copy of one picked file, as the job made it, or why it was not made.
struct MadeCopy {
    QString picked;
    QString copy; // empty when none was made
    Result<SongSummary> song = Error(QString(), QString());
    // The picked file as it was before it was read: a change while it was read counts.
    SongOrigin origin = SongOrigin();
};

namespace {

// What the busy window says while the index-th (from 0) of `total` files is added.
QString addingText(const QString& picked, qsizetype index, qsizetype total) {
    const QString name = QFileInfo(picked).fileName();
    if (total == 1)
        return SongListHandlers::tr("Adding %1").arg(name);
    return SongListHandlers::tr("Adding %1 (%2 of %3)").arg(name).arg(index + 1).arg(total);
}

// Makes the working copy of `made.picked` at `made.copy`.
void makeCopy(MadeCopy& made, const WorkProgress& work) {
    made.origin = songOrigin(made.picked, 0);
    made.song = makeWorkingCopy(made.picked, made.copy, work);
    if (made.song)
        made.origin.to = made.song->frames;
    else
        made.copy.clear(); // nothing is left at the path
}

// Makes the working copies of `picked` in `folder`, in order, until a stop is requested. Each
// file counts by its size, so that a long song takes its share of the bar. The sizes are counted
// in KiB: the job's progress, told in parts of 2^20 of each file's, stays within 64 bits for
// terabytes of files.
std::vector<MadeCopy> makeCopies(const QStringList& picked, const QString& folder,
                                 JobContext& job) {
    std::vector<std::uint64_t> sizes;
    std::uint64_t whole = 0;
    for (const QString& file : picked) {
        sizes.push_back(std::uint64_t(std::max<qint64>(1, (QFileInfo(file).size() + 1023) / 1024)));
        whole += sizes.back();
    }
    const WorkProgress progress = job.work();
    std::vector<MadeCopy> made;
    std::uint64_t from = 0;
    for (qsizetype i = 0; i < picked.size() && !job.stopRequested(); ++i) {
        job.say(addingText(picked[i], i, picked.size()));
        MadeCopy one{picked[i], newWorkingCopyPath(folder)};
        makeCopy(one, progress.step(from, sizes[i], whole));
        made.push_back(std::move(one));
        from += sizes[i];
    }
    if (!job.stopRequested())
        job.progress(whole, whole);
    return made;
}

void removeCopies(const std::vector<MadeCopy>& made) {
    for (const MadeCopy& one : made) {
        if (!one.copy.isEmpty())
            QFile::remove(one.copy);
    }
}

// Where the `count` songs of the list went after one was inserted at `row`.
QList<int> rowsAfterInsert(int count, int row) {
    QList<int> rows(count);
    for (int i = 0; i < count; ++i)
        rows[i] = i < row ? i : i + 1;
    return rows;
}

// Why no working copy of `picked` was made, as a line of a message: the song by its file name,
// then the cause; another file that failed (its working copy) by its path.
QString failureLine(const QString& picked, const Error& error) {
    QString line = QFileInfo(picked).fileName() + QStringLiteral(": ");
    if (!error.file().isEmpty() && error.file() != picked)
        line += error.file() + QStringLiteral(": ");
    line += error.cause();
    if (sound::codeTellsMore(error.code()))
        line += SongListHandlers::tr(" (error code %1)").arg(error.code());
    return line;
}

} // namespace

void SongListHandlers::addFiles(const QStringList& names, const QStringList& notFiles) {
    QStringList songs;
    QStringList refused;
    for (const QString& other : notFiles)
        refused << tr("%1: not a file on this computer").arg(other);
    for (const QString& name : names) {
        const QFileInfo info(name);
        if (!info.exists())
            refused << tr("%1: there is no such file").arg(name);
        else if (info.isDir())
            refused << tr("%1: is a folder").arg(name);
        else if (!info.isFile())
            refused << tr("%1: not a regular file").arg(name);
        else
            songs << info.absoluteFilePath();
    }
    addSongs(songs, -1, refused);
}

void SongListHandlers::addSongs(const QStringList& files, int row, const QStringList& refused) {
    // Every file that was not added is named, with why, in one message at the end.
    const auto tellRefused = [this](const QStringList& lines) {
        if (!lines.isEmpty())
            s_.dialogs->tell(tr("Not added to the song list:\n\n%1").arg(lines.join(u'\n')),
                             Dialogs::Icon::Warning);
    };
    const QString folder = s_.workPath();
    if (!files.isEmpty() && folder.isEmpty()) {
        // Without a working folder no song can be added: the first refusal stands for all.
        tellNoWorkingFolder(files.constFirst(), true);
        tellRefused(refused);
        return;
    }
    if (files.isEmpty()) {
        tellRefused(refused);
        return;
    }
    // The songs go in above the one at `row`, which stays below them as they come.
    const QPersistentModelIndex anchor(panel_.List1->model()->index(row, 0));
    auto made = std::make_shared<std::vector<MadeCopy>>();
    s_.jobs->start(
        {addingText(files.constFirst(), 0, files.size()),
         [made, files, folder](JobContext& job) { *made = makeCopies(files, folder, job); },
         [this, made, anchor, refused, tellRefused](bool cancelled) {
             if (cancelled) {
                 removeCopies(*made);
                 return;
             }
             // A file that failed is told; the others are listed all the same.
             QStringList failed;
             for (const MadeCopy& one : *made) {
                 if (one.song)
                     listSong(one, anchor.isValid() ? anchor.row() : -1);
                 else
                     failed << failureLine(one.picked, one.song.error());
             }
             tellRefused(failed + refused);
         }});
}

void SongListHandlers::copySong(const QString& picked, bool listing, const QString& words,
                                AfterCopy after, CopyDone done) {
    const QString folder = s_.workPath();
    if (folder.isEmpty()) {
        tellNoWorkingFolder(picked, listing);
        return;
    }
    struct Outcome {
        MadeCopy made;
        Status after;      // what `after` returned
        bool done = false; // `after` ran to its end: what it wrote stays, even after a Cancel
    };
    auto outcome = std::make_shared<Outcome>();
    // The working copy takes the bar up to here, what follows the rest.
    constexpr std::uint64_t kCopyShare = 750;
    s_.jobs->start({words,
                    [outcome, picked, folder, after](JobContext& job) {
                        MadeCopy& made = outcome->made;
                        made.picked = picked;
                        made.copy = newWorkingCopyPath(folder);
                        const std::uint64_t share = after ? kCopyShare : 1000;
                        const WorkProgress progress = job.work();
                        makeCopy(made, progress.step(0, share, 1000));
                        if (!made.song)
                            return;
                        if (after && !job.stopRequested()) {
                            outcome->after =
                                after(made.copy, progress.step(share, 1000 - share, 1000));
                            outcome->done = outcome->after.ok();
                        }
                        if (!job.stopRequested())
                            job.progress(1000, 1000);
                    },
                    [this, outcome, listing, done](bool cancelled) {
                        const MadeCopy& made = outcome->made;
                        if (cancelled && !outcome->done) {
                            removeCopies({made});
                            done(QString(), {});
                            return;
                        }
                        if (!made.song)
                            tellNotConverted(made.picked, made.song.error());
                        else if (listing)
                            listSong(made, -1);
                        done(made.copy, outcome->after);
                    }});
}

void SongListHandlers::listSong(const MadeCopy& made, int row) {
    const QString& picked = made.picked;
    const SongSummary& song = *made.song;
    auto* item = new QListWidgetItem(songNameFor(picked, song.tags));
    item->setData(AudioEditPanel::kWorkingCopyRole, made.copy);
    item->setData(AudioEditPanel::kOriginRole, QVariant::fromValue(made.origin));
    item->setData(AudioEditPanel::kSourceRole, picked);
    item->setData(AudioEditPanel::kTitleRole, song.tags.title);
    item->setToolTip(songToolTip(picked, song));
    item->setData(AudioEditPanel::kLengthRole,
                  QVariant::fromValue<quint64>(frametime::framesToMs(song.frames, song.rate)));
    item->setData(AudioEditPanel::kFormatRole, songFormatWord(song));
    item->setData(Qt::AccessibleTextRole, songRowSpoken(*item));
    QListWidget& list = *panel_.List1;
    if (row < 0 || row >= list.count()) {
        list.addItem(item);
        return;
    }
    const int before = list.count();
    list.insertItem(row, item);
    emit songsRenumbered(rowsAfterInsert(before, row));
}

void SongListHandlers::tellNotConverted(const QString& picked, const Error& error) {
    s_.dialogs->tell(tr("Not converted:\n\n%1").arg(failureLine(picked, error)),
                     Dialogs::Icon::Warning);
}

void SongListHandlers::tellNoWorkingFolder(const QString& picked, bool listing) {
    s_.dialogs->tell((listing ? tr("%1 was not added: the program has no working folder to keep "
                                   "the song's working copy in (see the message at start).")
                              : tr("%1 was not converted: the program has no working folder to "
                                   "decode it in (see the message at start)."))
                         .arg(QFileInfo(picked).fileName()),
                     Dialogs::Icon::Critical);
}

} // namespace quaverly
