#include "songlist/ListPlaybackHandlers.h"

#include "engines/player/MciErrors.h"
#include "engines/player/WavPlayer.h"
#include "engines/util/ClockText.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/WorkingCopy.h"
#include "ui/Dialogs.h"
#include "ui/PlayerMessages.h"
#include "ui/Widgets.h"

#include <QAbstractItemModel>

#include <algorithm>

namespace quaverly {

ListPlaybackHandlers::ListPlaybackHandlers(AudioEditPanel& panel, ListPlaybackServices services,
                                           QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)) {
    connectClicks(this, {{panel_.CmdPlay, &ListPlaybackHandlers::CmdPlay_Click},
                         {panel_.CmdStop, &ListPlaybackHandlers::CmdStop_Click},
                         {panel_.CmdPause, &ListPlaybackHandlers::CmdPause_Click},
                         {panel_.CmdNext, &ListPlaybackHandlers::CmdNext_Click},
                         {panel_.CmdForward, &ListPlaybackHandlers::CmdForward_Click}});
    connect(s_.listPlayer, &WavPlayer::Done, this, [this](int notifyCode) {
        if (notifyCode == mcinotify::kFailure)
            listPlayer_Done(s_.listPlayer->brokenOff().value());
        else
            listPlayer_Done({});
    });
    // Whoever starts, pauses or stops the player, the label follows.
    for (const auto told :
         {&WavPlayer::Started, &WavPlayer::Paused, &WavPlayer::Stopped, &WavPlayer::Closed}) {
        connect(s_.listPlayer, told, this, &ListPlaybackHandlers::showPosition);
    }
    connect(s_.listPlayer, &WavPlayer::Done, this, &ListPlaybackHandlers::showPosition);

    QListWidget* list = panel_.List1;
    connect(list, &QListWidget::currentRowChanged, this, &ListPlaybackHandlers::updateButtons);
    connect(list, &QListWidget::itemSelectionChanged, this, &ListPlaybackHandlers::updateButtons);
    const QAbstractItemModel* rows = list->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &ListPlaybackHandlers::updateButtons);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &ListPlaybackHandlers::updateButtons);
    connect(rows, &QAbstractItemModel::rowsMoved, this, &ListPlaybackHandlers::updateButtons);
    connect(rows, &QAbstractItemModel::modelReset, this, &ListPlaybackHandlers::updateButtons);

    positionTimer = new QTimer(this);
    positionTimer->setObjectName(QStringLiteral("tmrListPosition"));
    positionTimer->setInterval(kPositionMs);
    connect(positionTimer, &QTimer::timeout, this, &ListPlaybackHandlers::showPosition);
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
    s_.listPlayer->stop();
    showPosition();
}

void ListPlaybackHandlers::CmdPause_Click() {
    WavPlayer& player = *s_.listPlayer;
    if (player.isPlaying()) {
        player.pause(); // keeps the position heard
        paused_ = true;
    } else if (paused_ && player.isOpen()) {
        paused_ = false;
        // On from the same sample. Should the device refuse, the song stays stopped there, and
        // the next "Play" starts it again and says why it cannot be played.
        (void)player.play();
    }
    showPosition();
}

int ListPlaybackHandlers::currentRow() const {
    const WavPlayer& player = *s_.listPlayer;
    const bool holding = player.isPlaying() || (paused_ && player.isOpen());
    return holding && playingRow_ < panel_.List1->count() ? playingRow_ : panel_.ListIndex();
}

void ListPlaybackHandlers::CmdNext_Click() {
    const int row = currentRow() + 1;
    if (row > 0 && row < panel_.List1->count())
        playFrom(row);
}

void ListPlaybackHandlers::CmdForward_Click() {
    const int row = currentRow() - 1;
    if (row >= 0)
        playFrom(row);
}

void ListPlaybackHandlers::playFrom(int row) {
    *s_.PlayIndex = row;
    PlayNext();
}

void ListPlaybackHandlers::PlayNext() {
    WavPlayer& player = *s_.listPlayer;
    paused_ = false;
    const int row = *s_.PlayIndex;
    if (row >= panel_.List1->count()) {
        player.stop();
        player.close();
        playingRow_ = -1;
        showPosition();
        return;
    }
    // Whatever the player holds stops and is let go; the song starts from its beginning.
    player.stop();
    player.close();
    Status played = player.open(panel_.workingCopy(row));
    if (played)
        played = player.play();
    // The program's own selection, not a click: the player goes on playing.
    panel_.List1->setCurrentRow(row);
    *s_.PlayIndex = row + 1;
    playingRow_ = row;
    showPosition();
    if (!played)
        s_.dialogs->tell(cannotPlayText(panel_.List1->item(row)->text(), played.error()),
                         Dialogs::Icon::Warning);
}

void ListPlaybackHandlers::listPlayer_Done(const Status& ended) {
    if (!ended) {
        const WavPlayer& player = *s_.listPlayer;
        const Error& why = ended.error();
        const int row = playingRow_;
        const QString name = row >= 0 && row < panel_.List1->count()
                                 ? panel_.List1->item(row)->text()
                                 : player.FileName();
        s_.dialogs->tell(cannotPlayText(name, why), Dialogs::Icon::Warning);
        // Without a sound device the next song would fail the same way: the list stops here,
        // and the next "Play" tries the device again.
        if (why.code() == mcierr::kHardware)
            return;
    }
    if (panel_.chkPlayList->isChecked())
        PlayNext();
}

void ListPlaybackHandlers::updateButtons() {
    const int count = panel_.List1->count();
    const int selected = panel_.ListIndex();
    if (*s_.ListMode != QLatin1String("Edit") && count > 0) {
        for (QPushButton* b : panel_.playerButtons())
            b->setEnabled(true);
    }
    panel_.CmdNext->setEnabled(!(count == selected + 1 || selected == -1));
    panel_.CmdForward->setEnabled(!(selected == -1 || selected == 0 || count == 0));
}

void ListPlaybackHandlers::showPosition() {
    const WavPlayer& player = *s_.listPlayer;
    const bool holding = player.isPlaying() || (paused_ && player.isOpen());
    QListWidgetItem* song = holding ? panel_.List1->item(playingRow_) : nullptr;
    if (!song) {
        positionTimer->stop();
        panel_.lblListPosition->clear();
        return;
    }
    if (!player.isPlaying())
        positionTimer->stop();
    else if (!positionTimer->isActive())
        positionTimer->start();
    const QString times =
        QStringLiteral("%1 / %2").arg(clockMillis(std::uint64_t(player.Position())),
                                      listLengthText(std::uint64_t(player.Length())));
    // A long name gives way to the times.
    const QFontMetrics metrics = panel_.lblListPosition->fontMetrics();
    const int room = panel_.lblListPosition->contentsRect().width() -
                     metrics.horizontalAdvance(QStringLiteral("  ") + times);
    const QString name = metrics.elidedText(song->text(), Qt::ElideRight, std::max(room, 0));
    panel_.lblListPosition->setText(name + QStringLiteral("  ") + times);
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
