#include "songlist/SongListHandlers.h"

#include "engines/player/WavPlayer.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/WorkingCopy.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/SongFilter.h"
#include "ui/SoundError.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPersistentModelIndex>

#include <algorithm>
#include <numeric>

namespace quaverly {

namespace {

// What the busy window says while the index-th (from 0) of `total` files decodes; a file added
// alone keeps the plain text.
QString loadingText(qsizetype index, qsizetype total) {
    const QString plain = QStringLiteral("Loading..........");
    if (total == 1)
        return plain;
    return QStringLiteral("%1 %2 of %3").arg(plain).arg(index + 1).arg(total);
}

// The local files a drag carries, in order; none for anything else.
QStringList localFiles(const QMimeData* mime) {
    QStringList files;
    if (mime && mime->hasUrls()) {
        for (const QUrl& url : mime->urls()) {
            if (url.isLocalFile())
                files << url.toLocalFile();
        }
    }
    return files;
}

// A drag is taken when it carries a local file (not a folder) and may be copied: the dropped
// files stay where they are, whatever the file manager proposed. Whether a file holds a song
// is the song reader's to find, from its content.
bool takeDrag(QDropEvent& drag) {
    const QStringList files = localFiles(drag.mimeData());
    if (std::any_of(files.cbegin(), files.cend(),
                    [](const QString& f) { return QFileInfo(f).isFile(); }) &&
        drag.possibleActions().testFlag(Qt::CopyAction)) {
        drag.setDropAction(Qt::CopyAction);
        drag.accept();
        return true;
    }
    drag.ignore();
    return false;
}

// Where the `count` songs of the list went after one was inserted at `row`.
QList<int> rowsAfterInsert(int count, int row) {
    QList<int> rows(count);
    for (int i = 0; i < count; ++i)
        rows[i] = i < row ? i : i + 1;
    return rows;
}

// Where the `count` songs of the list went after the ones at `a` and `b` changed places.
QList<int> rowsAfterSwap(int count, int a, int b) {
    QList<int> rows(count);
    std::iota(rows.begin(), rows.end(), 0);
    std::swap(rows[a], rows[b]);
    return rows;
}

// The song reader could not read a picked file (the failure has a code): the report names the
// song and gives the reader's words about the file, which name it by its path.
QString cantPlayText(const QString& picked, const Error& error) {
    return QStringLiteral("Can't play the file ") + QFileInfo(picked).fileName() +
           QStringLiteral("\r\n\r\n") + error.text();
}

// What went wrong in any other failure to add a song: the song is named by its file name, any
// other file (its working copy) by its path.
QString notAddedDetail(const QString& picked, const Error& error) {
    const QString file = error.file() == picked ? QFileInfo(picked).fileName() : error.file();
    return file.isEmpty() ? error.cause() : file + QStringLiteral(": ") + error.cause();
}

} // namespace

SongListHandlers::SongListHandlers(AudioEditPanel& panel, SongListServices services,
                                   QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)) {
    QListWidget* list = panel_.List1;
    connect(panel_.CmdAdd, &QPushButton::clicked, this, &SongListHandlers::CmdAdd_Click);
    connect(panel_.CmdIns, &QPushButton::clicked, this, &SongListHandlers::CmdIns_Click);
    connect(panel_.Cmdremove, &QPushButton::clicked, this, &SongListHandlers::Cmdremove_Click);
    connect(panel_.CmdUP, &QToolButton::clicked, this, &SongListHandlers::CmdUP_Click);
    connect(panel_.CmdDown, &QToolButton::clicked, this, &SongListHandlers::CmdDown_Click);
    connect(list, &QListWidget::itemClicked, this, &SongListHandlers::List1_Click);
    connect(panel_.CmdSaveWav, &QPushButton::clicked, this, &SongListHandlers::CmdSaveWav_Click);
    connect(panel_.CmdSaveList, &QPushButton::clicked, this, &SongListHandlers::CmdSaveList_Click);

    // The arrows follow the selection and the length of the list.
    connect(list, &QListWidget::itemSelectionChanged, this, &SongListHandlers::updateOrderButtons);
    connect(list->model(), &QAbstractItemModel::rowsInserted, this,
            &SongListHandlers::updateOrderButtons);
    connect(list->model(), &QAbstractItemModel::rowsRemoved, this,
            &SongListHandlers::updateOrderButtons);
    updateOrderButtons();

    // Keys reach the list itself; drags arrive at its viewport (or its frame).
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    list->setToolTip(tr("Enter: edit the selected song\nDelete: remove it\n"
                        "Ctrl+Up, Ctrl+Down: move it\nDrop song files here to add them: WAV, "
                        "MP3, FLAC, Ogg Vorbis, Opus, M4A, AAC, AIFF, WMA, the sound of videos"));
}

QStringList SongListHandlers::pickSongs(const QString& title) {
    // Whatever is picked goes to the song reader, which refuses what holds no sound in its own
    // words; the filter only helps to find songs.
    return s_.dialogs->openFiles({title, QString(), songFileFilter(), QString()});
}

void SongListHandlers::CmdAdd_Click() {
    addSongs(pickSongs(tr("Add songs")), -1);
}

void SongListHandlers::CmdIns_Click() {
    const int row = panel_.ListIndex();
    addSongs(pickSongs(tr("Insert songs")), row);
}

int SongListHandlers::addFiles(const QStringList& names) {
    QStringList songs;
    QStringList refused;
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
    const int added = addSongs(songs, -1);
    if (!refused.isEmpty())
        s_.dialogs->tell(tr("Not added to the song list:\n\n%1").arg(refused.join(u'\n')),
                         Dialogs::Icon::Warning);
    return added;
}

int SongListHandlers::addSongs(const QStringList& files, int row) {
    // The songs go in above the one at `row`, which stays below them as they come.
    const QPersistentModelIndex anchor(panel_.List1->model()->index(row, 0));
    int added = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // Without a working folder no song can be added: the first refusal stands for all.
        if (i > 0 && s_.workPath().isEmpty())
            break;
        const int at = anchor.isValid() ? anchor.row() : -1;
        if (insertSong(files[i], at, loadingText(i, files.size()), i + 1 < files.size()))
            ++added;
    }
    releaseWindow();
    return added;
}

bool SongListHandlers::addSong(const QString& picked, const QString& busyText) {
    return insertSong(picked, -1, busyText, false);
}

void SongListHandlers::holdWindow(const QString& busyText) {
    s_.window->setEnabled(false);
    s_.busy->show(busyText);
    holding_ = true;
}

void SongListHandlers::releaseWindow() {
    if (!holding_)
        return;
    s_.window->setEnabled(true);
    s_.busy->hide();
    holding_ = false;
}

QString SongListHandlers::workingCopyOf(const QString& picked, const QString& busyText) {
    return makeCopy(picked, busyText, false, false);
}

QString SongListHandlers::makeCopy(const QString& picked, const QString& busyText, bool moreFollow,
                                   bool listing, SongSummary* song) {
    const QString name = QFileInfo(picked).fileName();
    const QString copy = newWorkingCopyPath(s_.workPath());
    if (copy.isEmpty()) {
        releaseWindow();
        s_.dialogs->tell((listing ? tr("%1 was not added: the program has no working folder to "
                                       "keep the song's working copy in (see the message at "
                                       "start).")
                                  : tr("%1 was not converted: the program has no working folder "
                                       "to decode it in (see the message at start)."))
                             .arg(name),
                         Dialogs::Icon::Critical);
        return QString();
    }
    // A plain PCM WAV is a quick byte copy; anything else is decoded block by block with the
    // window disabled and the busy window moving, so no second add can start meanwhile.
    if (!copiesWhole(picked))
        holdWindow(busyText);
    else if (holding_)
        s_.busy->setText(busyText);
    const auto made = makeWorkingCopy(picked, copy, [](std::uint64_t, std::uint64_t) {
        QCoreApplication::processEvents();
        return true;
    });
    if (!moreFollow || !made)
        releaseWindow();
    if (!made) {
        const Error& error = made.error();
        if (error.code() != 0)
            ReportSoundError(*s_.dialogs, cantPlayText(picked, error), error.code());
        else
            s_.dialogs->tell((listing ? tr("%1 could not be added.\n\n%2")
                                      : tr("%1 could not be decoded.\n\n%2"))
                                 .arg(name, notAddedDetail(picked, error)),
                             Dialogs::Icon::Critical);
        return QString();
    }
    if (song)
        *song = *made;
    return copy;
}

bool SongListHandlers::insertSong(const QString& picked, int row, const QString& busyText,
                                  bool moreFollow) {
    SongSummary made;
    const QString copy = makeCopy(picked, busyText, moreFollow, true, &made);
    if (copy.isEmpty())
        return false;
    auto* item = new QListWidgetItem(songNameFor(picked, made.tags));
    item->setData(AudioEditPanel::kWorkingCopyRole, copy);
    item->setData(AudioEditPanel::kSourceRole, picked);
    item->setToolTip(songToolTip(picked, made));
    QListWidget& list = *panel_.List1;
    if (row < 0 || row >= list.count()) {
        list.addItem(item);
        return true;
    }
    const int before = list.count();
    list.insertItem(row, item);
    emit songsRenumbered(rowsAfterInsert(before, row));
    return true;
}

void SongListHandlers::CmdUP_Click() {
    moveSelected(-1);
}

void SongListHandlers::CmdDown_Click() {
    moveSelected(+1);
}

void SongListHandlers::moveSelected(int step) {
    QListWidget& list = *panel_.List1;
    const int from = panel_.ListIndex();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= list.count())
        return;
    // The item moves with its working copy; the players keep what they hold.
    QListWidgetItem* item = list.takeItem(from);
    list.insertItem(to, item);
    list.setCurrentItem(item);
    list.scrollToItem(item);
    emit songsRenumbered(rowsAfterSwap(list.count(), from, to));
    updateOrderButtons();
}

void SongListHandlers::updateOrderButtons() {
    const int row = panel_.ListIndex();
    panel_.CmdUP->setEnabled(row > 0);
    panel_.CmdDown->setEnabled(row >= 0 && row + 1 < panel_.List1->count());
}

bool SongListHandlers::eventFilter(QObject* watched, QEvent* event) {
    // Only keys and drags are looked at: other events reach the list also while the panel is
    // being destroyed, when its members must not be touched any more.
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched == panel_.List1 && handleKey(static_cast<const QKeyEvent&>(*event)))
            return true;
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        if ((watched == panel_.List1 || watched == panel_.List1->viewport()) && handleDrag(event))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool SongListHandlers::handleKey(const QKeyEvent& key) {
    if (panel_.ListIndex() < 0)
        return false;
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
        switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit editRequested();
            return true;
        case Qt::Key_Delete:
            Cmdremove_Click();
            return true;
        default:
            return false;
        }
    }
    if (mods == Qt::ControlModifier && (key.key() == Qt::Key_Up || key.key() == Qt::Key_Down)) {
        moveSelected(key.key() == Qt::Key_Up ? -1 : +1);
        return true;
    }
    return false;
}

bool SongListHandlers::handleDrag(QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        takeDrag(static_cast<QDropEvent&>(*event));
        return true;
    case QEvent::Drop: {
        auto& drop = static_cast<QDropEvent&>(*event);
        if (takeDrag(drop)) {
            // Adding may decode and ask: it runs once the drop is over, so that the file
            // manager is not kept waiting for its answer.
            const QStringList files = localFiles(drop.mimeData());
            QMetaObject::invokeMethod(
                this, [this, files] { addFiles(files); }, Qt::QueuedConnection);
        }
        return true;
    }
    default:
        return false;
    }
}

void SongListHandlers::stopAndClosePlayers() {
    s_.MMCEdit->stop();
    s_.MMCPlayList->stop();
    s_.MMCEdit->close();
    s_.MMCPlayList->close();
}

void SongListHandlers::Cmdremove_Click() {
    stopAndClosePlayers();
    const int row = panel_.ListIndex();
    QListWidgetItem* item = panel_.List1->item(row);
    if (item && s_.dialogs->question(
                    QStringLiteral("Deleting"),
                    QStringLiteral("Are you sure you want to delete %1 ?").arg(item->text()))) {
        const QString copy = panel_.workingCopy(row);
        if (QFile::exists(copy) && !QFile::remove(copy)) {
            s_.dialogs->tell(
                tr("The working copy of %1 could not be deleted, so the song stays in the "
                   "list.\n\n%2")
                    .arg(item->text(), copy),
                Dialogs::Icon::Critical);
        } else {
            delete panel_.List1->takeItem(row);
            emit songRemoved(copy);
        }
    }
    emit editorReset(false);
}

void SongListHandlers::List1_Click() {
    stopAndClosePlayers();
    emit editorReset(true);
    for (QPushButton* b : panel_.playerButtons())
        b->setEnabled(true);
    panel_.framePlayControl->setVisible(true);
}

QStringList SongListHandlers::workingCopies() const {
    QStringList copies;
    for (int i = 0; i < panel_.List1->count(); ++i)
        copies << panel_.workingCopy(i);
    return copies;
}

} // namespace quaverly
