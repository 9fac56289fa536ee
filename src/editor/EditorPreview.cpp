// The clip editor's previews and play position: "Play Selection" (with "Loop"), "Around In" and
// "Around Out", Space, Home and End, seek() and the position a waveform view follows.
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/TimeText.h"
#include "engines/mci/MciPlayer.h"
#include "engines/player/MciErrors.h"
#include "ui/Dialogs.h"

#include <algorithm>

namespace quaverly {

void EditorHandlers::connectPreview() {
    positionTimer_.setInterval(kPositionMs);
    connect(&positionTimer_, &QTimer::timeout, this, &EditorHandlers::followPosition);
    connect(s_.MMCEdit, &MciPlayer::Done, this, &EditorHandlers::MMCEdit_Done);
    connect(frame_.CmdPlaySel, &QPushButton::clicked, this, &EditorHandlers::CmdPlaySel_Click);
    connect(frame_.CmdPlayIn, &QPushButton::clicked, this, &EditorHandlers::CmdPlayIn_Click);
    connect(frame_.CmdPlayOut, &QPushButton::clicked, this, &EditorHandlers::CmdPlayOut_Click);
    connect(frame_.actPlayStop, &QAction::triggered, this, &EditorHandlers::togglePlay);
    connect(frame_.actGoIn, &QAction::triggered, this, [this] { seek(*s_.MarkIn); });
    connect(frame_.actGoOut, &QAction::triggered, this, [this] { seek(*s_.MarkOut); });
}

void EditorHandlers::playRange(qint64 from, qint64 to, Preview kind) {
    if (!editing_ || !ensureOpen())
        return;
    MciPlayer& player = *s_.MMCEdit;
    player.setFrom(from);
    player.setTo(to);
    if (!startPlayer())
        return;
    preview_ = kind;
    startFollowing();
}

bool EditorHandlers::startPlayer() {
    MciPlayer& player = *s_.MMCEdit;
    if (player.Command(QStringLiteral("play")) == 0)
        return true;
    // The player stays where it was; the next press tries the sound device again.
    reportUnplayable();
    return false;
}

void EditorHandlers::reportUnplayable() {
    s_.dialogs->tell(tr("%1 cannot be played.\n\n%2").arg(songName_, s_.MMCEdit->lastError()),
                     Dialogs::Icon::Warning);
}

void EditorHandlers::CmdPlaySel_Click() {
    if (*s_.MarkIn < *s_.MarkOut)
        playRange(*s_.MarkIn, *s_.MarkOut, Preview::Selection);
}

void EditorHandlers::CmdPlayIn_Click() {
    const qint64 mark = *s_.MarkIn;
    playRange(std::max<qint64>(mark - kAroundMs, 0), std::min(mark + kAroundMs, grid_.lengthMs()),
              Preview::Around);
}

void EditorHandlers::CmdPlayOut_Click() {
    const qint64 mark = *s_.MarkOut;
    playRange(std::max<qint64>(mark - kAroundMs, 0), std::min(mark + kAroundMs, grid_.lengthMs()),
              Preview::Around);
}

void EditorHandlers::MMCEdit_Done(int notifyCode) {
    const Preview was = preview_;
    preview_ = Preview::None;
    followPosition();
    // Broken off (the sound device failed, the file could not be read): said once, and a
    // looping selection does not start again.
    if (notifyCode == mcinotify::kFailure)
        reportUnplayable();
    else if (was == Preview::Selection && frame_.chkLoop->isChecked())
        CmdPlaySel_Click();
}

void EditorHandlers::seek(qint64 ms) {
    if (!editing_ || !ensureOpen())
        return;
    MciPlayer& player = *s_.MMCEdit;
    ms = std::clamp<qint64>(ms, 0, player.Length());
    player.setFrom(ms);
    if (player.isPlaying()) {
        preview_ = Preview::None;
        startPlayer();
    } else {
        player.Command(QStringLiteral("seek"));
    }
    showPosition(ms);
    emit positionChanged(player.Position());
}

void EditorHandlers::startFollowing() {
    if (s_.MMCEdit->isPlaying())
        positionTimer_.start();
    followPosition();
}

void EditorHandlers::followPosition() {
    const MciPlayer& player = *s_.MMCEdit;
    if (!player.isPlaying())
        positionTimer_.stop();
    emit positionChanged(player.Position());
}

void EditorHandlers::showPosition(qint64 ms) {
    // As the player's status notification would show it.
    frame_.Lbltotal->setText(timeText(ms));
    if (!frame_.SliderEdit->isSliderDown())
        frame_.SliderEdit->setValue(int(wholeSeconds(ms)));
}

} // namespace quaverly
