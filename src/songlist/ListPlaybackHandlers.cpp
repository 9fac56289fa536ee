#include "songlist/ListPlaybackHandlers.h"

#include "engines/mci/MciErrors.h"
#include "engines/mci/MciPlayer.h"
#include "songlist/AudioEditPanel.h"
#include "ui/Dialogs.h"

namespace quaverly {

ListPlaybackHandlers::ListPlaybackHandlers(AudioEditPanel& panel, ListPlaybackServices services,
                                           QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)) {
    connect(panel_.CmdPlay, &QPushButton::clicked, this, &ListPlaybackHandlers::CmdPlay_Click);
    connect(panel_.CmdStop, &QPushButton::clicked, this, &ListPlaybackHandlers::CmdStop_Click);
    connect(panel_.CmdPause, &QPushButton::clicked, this, &ListPlaybackHandlers::CmdPause_Click);
    connect(panel_.CmdNext, &QPushButton::clicked, this, &ListPlaybackHandlers::CmdNext_Click);
    connect(panel_.CmdFoward, &QPushButton::clicked, this, &ListPlaybackHandlers::CmdFoward_Click);
    connect(s_.MMCPlayList, &MciPlayer::Done, this, &ListPlaybackHandlers::MMCPlayList_Done);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerMs);
    connect(Timer1, &QTimer::timeout, this, &ListPlaybackHandlers::Timer1_Timer);
    Timer1->start();
}

void ListPlaybackHandlers::CmdPlay_Click() {
    const int selected = panel_.ListIndex();
    if (selected < 0) {
        s_.dialogs->tell(QStringLiteral("Please select the song to play"),
                         Dialogs::Icon::Information);
        return;
    }
    playFrom(selected);
}

void ListPlaybackHandlers::CmdStop_Click() {
    paused_ = false;
    s_.MMCPlayList->Command(QStringLiteral("Stop"));
}

void ListPlaybackHandlers::CmdPause_Click() {
    MciPlayer& player = *s_.MMCPlayList;
    if (player.isPlaying()) {
        player.Command(QStringLiteral("pause")); // keeps the position heard
        paused_ = true;
    } else if (paused_ && player.isOpen()) {
        paused_ = false;
        player.Command(QStringLiteral("play")); // on from the same sample
    }
}

int ListPlaybackHandlers::currentRow() const {
    const MciPlayer& player = *s_.MMCPlayList;
    const bool holding = player.isPlaying() || (paused_ && player.isOpen());
    return holding && playingRow_ < panel_.List1->count() ? playingRow_ : panel_.ListIndex();
}

void ListPlaybackHandlers::CmdNext_Click() {
    const int row = currentRow() + 1;
    if (row > 0 && row < panel_.List1->count())
        playFrom(row);
}

void ListPlaybackHandlers::CmdFoward_Click() {
    const int row = currentRow() - 1;
    if (row >= 0)
        playFrom(row);
}

void ListPlaybackHandlers::playFrom(int row) {
    *s_.PlayIndex = row;
    PlayNext();
}

void ListPlaybackHandlers::PlayNext() {
    MciPlayer& player = *s_.MMCPlayList;
    paused_ = false;
    const int row = *s_.PlayIndex;
    if (row >= panel_.List1->count()) {
        player.Command(QStringLiteral("Stop"));
        player.Command(QStringLiteral("Close"));
        playingRow_ = -1;
        return;
    }
    // Whatever the player holds stops and is let go; the song starts from its beginning.
    player.setFileName(panel_.workingCopy(row));
    player.Command(QStringLiteral("stop"));
    player.Command(QStringLiteral("close"));
    int failed = player.Command(QStringLiteral("Open"));
    if (failed == 0)
        failed = player.Command(QStringLiteral("play"));
    // The program's own selection, not a click: the player goes on playing.
    panel_.List1->setCurrentRow(row);
    *s_.PlayIndex = row + 1;
    playingRow_ = row;
    if (failed != 0)
        s_.dialogs->tell(tr("%1 cannot be played.\n\n%2")
                             .arg(panel_.List1->item(row)->text(), player.lastError()),
                         Dialogs::Icon::Warning);
}

void ListPlaybackHandlers::MMCPlayList_Done(int notifyCode) {
    if (notifyCode == mcinotify::kFailure) {
        const MciPlayer& player = *s_.MMCPlayList;
        const int row = playingRow_;
        const QString name = row >= 0 && row < panel_.List1->count()
                                 ? panel_.List1->item(row)->text()
                                 : player.FileName();
        s_.dialogs->tell(tr("%1 cannot be played.\n\n%2").arg(name, player.lastError()),
                         Dialogs::Icon::Warning);
        // Without a sound device the next song would fail the same way: the list stops here,
        // and the next "Play" tries the device again.
        if (player.lastErrorCode() == mcierr::kHardware)
            return;
    }
    if (panel_.chkPlayList->isChecked())
        PlayNext();
}

void ListPlaybackHandlers::Timer1_Timer() {
    const int count = panel_.List1->count();
    const int selected = panel_.ListIndex();
    if (*s_.ListMode != QLatin1String("Edit") && count > 0) {
        for (QPushButton* b : panel_.playerButtons())
            b->setEnabled(true);
    }
    panel_.CmdNext->setEnabled(!(count == selected + 1 || selected == -1));
    panel_.CmdFoward->setEnabled(!(selected == -1 || selected == 0 || count == 0));
}

void ListPlaybackHandlers::followRows(const QList<int>& newRowOf) {
    if (playingRow_ < 0 || playingRow_ >= newRowOf.size())
        return;
    playingRow_ = newRowOf.at(playingRow_);
    *s_.PlayIndex = playingRow_ + 1;
}

void ListPlaybackHandlers::giveWayToEditor() {
    for (QPushButton* b : panel_.playerButtons())
        b->setEnabled(false);
    panel_.framePlayControl->setVisible(false);
}

} // namespace quaverly
