#include "songlist/SongRowMarks.h"

#include "engines/player/WavPlayer.h"
#include "engines/util/FrameTime.h"
#include "engines/util/QueuedCall.h"
#include "engines/wav/WavHeader.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/WorkingCopy.h"

#include <QAbstractItemModel>
#include <QFileInfo>

#include <utility>

namespace quaverly {

namespace {

// Sets `role` of `item` only when it changes: every change repaints the row.
void setRole(QListWidgetItem& item, int role, const QVariant& value) {
    if (item.data(role) != value)
        item.setData(role, value);
}

} // namespace

SongRowMarks::SongRowMarks(AudioEditPanel& panel, const WavPlayer& listPlayer,
                           const WavPlayer& editPlayer, QObject* parent)
    : QObject(parent), panel_(panel), listPlayer_(listPlayer), editPlayer_(editPlayer) {
    follow(listPlayer_);
    follow(editPlayer_);
    const QAbstractItemModel* rows = panel_.List1->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &SongRowMarks::refreshSoon);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &SongRowMarks::refreshSoon);
    connect(rows, &QAbstractItemModel::rowsMoved, this, &SongRowMarks::refreshSoon);
    connect(rows, &QAbstractItemModel::modelReset, this, &SongRowMarks::refreshSoon);
    connect(rows, &QAbstractItemModel::dataChanged, this, [this] {
        if (!refreshing_)
            refreshSoon();
    });
}

void SongRowMarks::follow(const WavPlayer& player) {
    for (const auto told : {&WavPlayer::Opened, &WavPlayer::Closed, &WavPlayer::Started,
                            &WavPlayer::Paused, &WavPlayer::Stopped}) {
        connect(&player, told, this, &SongRowMarks::refreshSoon);
    }
    connect(&player, &WavPlayer::Done, this, &SongRowMarks::refreshSoon);
}

void SongRowMarks::refreshSoon() {
    if (!std::exchange(queued_, true))
        queueCall(this, "refreshNow");
}

void SongRowMarks::refreshNow() {
    queued_ = false;
    refresh();
}

QString SongRowMarks::editedCopy() {
    const QWidget* frame = panel_.editFrame();
    if (!frame || frame->isHidden()) {
        edited_.clear();
    } else if (editPlayer_.isOpen() && editPlayer_.FileName() != edited_) {
        edited_ = editPlayer_.FileName();
        editedSize_ = -1;
    }
    return edited_;
}

void SongRowMarks::updateEditedLength(QListWidgetItem& item) {
    const qint64 size = QFileInfo(edited_).size();
    if (size == editedSize_)
        return;
    editedSize_ = size;
    if (const auto layout = probeWav(edited_); layout && layout->blockAlign > 0)
        setRole(item, AudioEditPanel::kLengthRole,
                QVariant::fromValue<quint64>(frametime::framesToMs(
                    layout->dataSize / layout->blockAlign, layout->sampleRate)));
}

void SongRowMarks::refresh() {
    refreshing_ = true;
    const QString playing = listPlayer_.isPlaying() ? listPlayer_.FileName() : QString();
    const QString edited = editedCopy();
    QListWidget& list = *panel_.List1;
    for (int row = 0; row < list.count(); ++row) {
        QListWidgetItem& item = *list.item(row);
        const QString copy = item.data(AudioEditPanel::kWorkingCopyRole).toString();
        setRole(item, AudioEditPanel::kPlayingRole, !playing.isEmpty() && copy == playing);
        setRole(item, AudioEditPanel::kEditedRole, !edited.isEmpty() && copy == edited);
        if (!edited.isEmpty() && copy == edited)
            updateEditedLength(item);
        setRole(item, Qt::AccessibleTextRole, songRowSpoken(item));
    }
    refreshing_ = false;
}

QString songRowSpoken(const QListWidgetItem& item) {
    QStringList words{item.text()};
    if (const QVariant length = item.data(AudioEditPanel::kLengthRole); length.isValid())
        words << listLengthText(length.toULongLong());
    if (const QString format = item.data(AudioEditPanel::kFormatRole).toString(); !format.isEmpty())
        words << format;
    if (item.data(AudioEditPanel::kPlayingRole).toBool())
        words << SongRowMarks::tr("playing");
    if (item.data(AudioEditPanel::kEditedRole).toBool())
        words << SongRowMarks::tr("in the editor");
    return words.join(QStringLiteral(", "));
}

} // namespace quaverly
