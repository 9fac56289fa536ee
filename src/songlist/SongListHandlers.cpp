#include "songlist/SongListHandlers.h"

#include "engines/formats/Formats.h"
#include "engines/player/WavPlayer.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/SongRowMarks.h"
#include "ui/Dialogs.h"
#include "ui/SongFilter.h"

#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>

#include <algorithm>
#include <numeric>

namespace quaverly {

namespace {

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

// What else a drag of files carries (web addresses, ...): told, never silently left out.
QStringList otherUrls(const QMimeData* mime) {
    QStringList others;
    for (const QUrl& url : mime->urls())
        if (!url.isLocalFile())
            others << url.toDisplayString();
    return others;
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

// Where the `count` songs of the list went after the ones at `a` and `b` changed places.
QList<int> rowsAfterSwap(int count, int a, int b) {
    QList<int> rows(count);
    std::iota(rows.begin(), rows.end(), 0);
    std::swap(rows[a], rows[b]);
    return rows;
}

} // namespace

SongListHandlers::SongListHandlers(AudioEditPanel& panel, SongListServices services,
                                   QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)),
      marks_(new SongRowMarks(panel_, *s_.listPlayer, *s_.editorPlayer, this)) {
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
                        "Ctrl+Up, Ctrl+Down: move it\nDrop song files here to add them:\n%1")
                         .arg(formats::kindNames(60)));
}

QStringList SongListHandlers::pickSongs(const QString& title) {
    // Whatever is picked goes to the song reader, which refuses what holds no sound in its own
    // words; the filter only helps to find songs.
    return s_.dialogs->openFiles(
        {title, QString(), songFileFilter(), QString(), Dialogs::FileKind::Songs});
}

void SongListHandlers::CmdAdd_Click() {
    addSongs(pickSongs(tr("Add songs")), -1);
}

void SongListHandlers::CmdIns_Click() {
    const int row = panel_.ListIndex();
    addSongs(pickSongs(tr("Insert songs")), row);
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
            const QStringList others = otherUrls(drop.mimeData());
            QMetaObject::invokeMethod(
                this, [this, files, others] { addFiles(files, others); }, Qt::QueuedConnection);
        }
        return true;
    }
    default:
        return false;
    }
}

void SongListHandlers::stopAndClosePlayers() {
    s_.editorPlayer->stop();
    s_.listPlayer->stop();
    s_.editorPlayer->close();
    s_.listPlayer->close();
}

void SongListHandlers::Cmdremove_Click() {
    stopAndClosePlayers();
    const int row = panel_.ListIndex();
    QListWidgetItem* item = panel_.List1->item(row);
    QString released;
    if (item && s_.dialogs->question(tr("Remove song"),
                                     tr("Remove “%1” from the song list? The file itself is "
                                        "not deleted.")
                                         .arg(item->text()))) {
        const QString copy = panel_.workingCopy(row);
        emit releaseRequested(copy);
        released = copy;
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
    // Once the editor has closed the song, so that nothing reads the deleted file again.
    if (!released.isEmpty())
        emit releaseEnded(released);
}

void SongListHandlers::List1_Click() {
    stopAndClosePlayers();
    emit editorReset(true);
    for (QPushButton* b : panel_.playerButtons())
        b->setEnabled(true);
    panel_.framePlayControl->setVisible(true);
    marks_->refresh();
}

QStringList SongListHandlers::workingCopies() const {
    QStringList copies;
    for (int i = 0; i < panel_.List1->count(); ++i)
        copies << panel_.workingCopy(i);
    return copies;
}

} // namespace quaverly
