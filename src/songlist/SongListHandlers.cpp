#include "songlist/SongListHandlers.h"

#include "engines/mci/MciPlayer.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/ListJoin.h"
#include "songlist/WorkingCopy.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/Encodings.h"
#include "ui/SoundError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace quaverly {

SongListHandlers::SongListHandlers(AudioEditPanel& panel, SongListServices services,
                                   QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)) {
    connect(panel_.CmdAdd, &QPushButton::clicked, this, &SongListHandlers::CmdAdd_Click);
    connect(panel_.Cmdremove, &QPushButton::clicked, this, &SongListHandlers::Cmdremove_Click);
    connect(panel_.List1, &QListWidget::itemClicked, this, &SongListHandlers::List1_Click);
    connect(panel_.CmdSaveWav, &QPushButton::clicked, this, &SongListHandlers::CmdSaveWav_Click);
    connect(panel_.CmdSaveList, &QPushButton::clicked, this, &SongListHandlers::CmdSaveList_Click);
    // "Insert", "Move UP" and "Move Down" have no action: the list keeps the order of adding.
}

void SongListHandlers::CmdAdd_Click() {
    const QString picked = s_.dialogs->openFile(
        {tr("Select a file to Convert"), QString(), tr("Audio files (*.wav *.mp3)"), QString()});
    if (picked.isEmpty() || !isSongFile(picked))
        return;
    addSong(picked, QStringLiteral("Loading.........."));
}

bool SongListHandlers::addSong(const QString& picked, const QString& busyText) {
    const QString copy = newWorkingCopyPath(s_.workPath());
    if (copy.isEmpty()) {
        s_.dialogs->tell(tr("%1 was not added: the program has no working folder to keep the "
                            "song's working copy in (see the message at start).")
                             .arg(QFileInfo(picked).fileName()),
                         Dialogs::Icon::Critical);
        return false;
    }
    // A plain PCM WAV is a quick byte copy; anything else is decoded block by block with the
    // window disabled and the busy window moving, so no second add can start meanwhile.
    const auto layout = probeWav(picked);
    const bool quickCopy = picked.right(3).toLower() == QLatin1String("wav") && layout &&
                           layout->canonical && layout->dataSize > 0;
    if (!quickCopy) {
        s_.window->setEnabled(false);
        s_.busy->show(busyText);
    }
    const auto r = makeWorkingCopy(picked, copy, decoder_, [] {
        QCoreApplication::processEvents();
        return true;
    });
    if (!quickCopy) {
        s_.window->setEnabled(true);
        s_.busy->hide();
    }
    if (!r.ok) {
        if (r.soundError != 0)
            ReportSoundError(*s_.dialogs, QStringLiteral("Can't play the file"), r.soundError);
        else
            s_.dialogs->tell(
                tr("%1 could not be added.\n\n%2").arg(QFileInfo(picked).fileName(), r.error),
                Dialogs::Icon::Critical);
        return false;
    }
    auto* item = new QListWidgetItem(songNameFor(picked));
    item->setData(AudioEditPanel::kWorkingCopyRole, copy);
    item->setToolTip(picked);
    panel_.List1->addItem(item);
    return true;
}

void SongListHandlers::stopAndClosePlayers() {
    s_.MMCEdit->Command(QStringLiteral("Stop"));
    s_.MMCPlayList->Command(QStringLiteral("Stop"));
    s_.MMCEdit->Command(QStringLiteral("Close"));
    s_.MMCPlayList->Command(QStringLiteral("Close"));
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
        }
    }
    emit editorReset(false);
}

void SongListHandlers::List1_Click() {
    stopAndClosePlayers();
    emit editorReset(true);
    for (QPushButton* b : panel_.playerButtons())
        b->setEnabled(true);
    panel_.Frame2->setVisible(true);
}

QStringList SongListHandlers::workingCopies() const {
    QStringList copies;
    for (int i = 0; i < panel_.List1->count(); ++i)
        copies << panel_.workingCopy(i);
    return copies;
}

bool SongListHandlers::refuseEmptyList() {
    if (panel_.List1->count() > 0)
        return false;
    s_.dialogs->tell(tr("The song list is empty: add songs before saving it."),
                     Dialogs::Icon::Critical);
    return true;
}

void SongListHandlers::CmdSaveWav_Click() {
    if (refuseEmptyList())
        return;
    const QString target = s_.dialogs->saveFile(
        {tr("Save The List to Wav"), s_.baseFolder(), tr("Wav (*.wav)"), QStringLiteral("wav")});
    if (target.isEmpty())
        return;
    s_.MMCEdit->Command(QStringLiteral("Close"));
    s_.MMCPlayList->Command(QStringLiteral("Close"));
    // The songs go straight into the chosen file (through a temporary file renamed into
    // place), so a failure never leaves half a file there or damages the one already there.
    const auto r = joinSongs(workingCopies(), target);
    if (r.ok)
        s_.dialogs->tell(QStringLiteral("Finish Save"), Dialogs::Icon::Information);
    else
        s_.dialogs->tell(tr("The list was not saved.\n\n%1").arg(r.error), Dialogs::Icon::Critical);
}

void SongListHandlers::CmdSaveList_Click() {
    if (refuseEmptyList())
        return;
    const QString target = s_.dialogs->saveFile(
        {tr("Save The List to MP3"), s_.baseFolder(), tr("MP3 (*.mp3)"), QStringLiteral("mp3")});
    if (target.isEmpty())
        return;
    if (s_.workPath().isEmpty()) {
        s_.dialogs->tell(tr("The list was not saved: the program has no working folder to join "
                            "the songs in before encoding them (see the message at start)."),
                         Dialogs::Icon::Critical);
        return;
    }
    s_.busy->show(QStringLiteral("Saving......."));
    s_.window->setEnabled(false);
    s_.MMCEdit->Command(QStringLiteral("Close"));
    s_.MMCPlayList->Command(QStringLiteral("Close"));
    // Each save joins into a work file of its own, which its own completion removes.
    const QString joined = s_.workPath() + QStringLiteral("concat-") +
                           QUuid::createUuid().toString(QUuid::Id128).left(12) +
                           QStringLiteral(".wav");
    const auto r = joinSongs(workingCopies(), joined);
    if (!r.ok) {
        s_.busy->hide();
        s_.window->setEnabled(true);
        s_.dialogs->tell(tr("The list was not saved.\n\n%1").arg(r.error), Dialogs::Icon::Critical);
        return;
    }
    s_.encodings->start(joined, target, s_.outBitRate(),
                        {/*showsBusyWindow=*/true, /*disablesWindow=*/true, {joined}});
}

} // namespace quaverly
