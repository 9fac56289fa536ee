// The clip editor's previews and play position: "Play Selection" (with "Loop"), "Around In" and
// "Around Out", Space, Home and End, seek() and the position a waveform view follows.
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "editor/TimeText.h"
#include "engines/player/MciErrors.h"
#include "engines/player/WavPlayer.h"
#include "ui/Dialogs.h"
#include "ui/PlayerMessages.h"

#include <algorithm>

namespace quaverly {

void EditorHandlers::connectPreview() {
    positionTimer_.setInterval(kPositionMs);
    connect(&positionTimer_, &QTimer::timeout, this, &EditorHandlers::followPosition);
    connect(s_.editorPlayer, &WavPlayer::Done, this, [this](int notifyCode) {
        if (notifyCode == mcinotify::kFailure)
            editorPlayer_Done(s_.editorPlayer->brokenOff().value());
        else
            editorPlayer_Done({});
    });
    // The position is followed while the player plays, whoever started or stopped it.
    connect(s_.editorPlayer, &WavPlayer::Started, this, &EditorHandlers::startFollowing);
    for (const auto halted : {&WavPlayer::Paused, &WavPlayer::Stopped, &WavPlayer::Closed})
        connect(s_.editorPlayer, halted, this, &EditorHandlers::followPosition);
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
    if (!startPlayer(from, to))
        return;
    preview_ = kind;
    startFollowing();
}

bool EditorHandlers::startPlayer(std::optional<qint64> from, std::optional<qint64> to) {
    const Status played = s_.editorPlayer->play(from, to);
    if (played)
        return true;
    // The player stays where it was; the next press tries the sound device again.
    reportUnplayable(played.error());
    return false;
}

void EditorHandlers::reportUnplayable(const Error& why) {
    s_.dialogs->tell(cannotPlayText(songName_, why), Dialogs::Icon::Warning);
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

void EditorHandlers::editorPlayer_Done(const Status& ended) {
    const Preview was = preview_;
    preview_ = Preview::None;
    followPosition();
    // Broken off (the sound device failed, the file could not be read): said once, and a
    // looping selection does not start again.
    if (!ended)
        reportUnplayable(ended.error());
    else if (was == Preview::Selection && frame_.chkLoop->isChecked())
        CmdPlaySel_Click();
}

void EditorHandlers::seek(qint64 ms) {
    if (!editing_ || !ensureOpen())
        return;
    WavPlayer& player = *s_.editorPlayer;
    ms = std::clamp<qint64>(ms, 0, player.Length());
    if (player.isPlaying()) {
        preview_ = Preview::None;
        startPlayer(ms);
    } else {
        (void)player.seek(ms); // open, and within the song
    }
    showPosition(ms);
    emit positionChanged(player.Position());
}

void EditorHandlers::startFollowing() {
    if (s_.editorPlayer->isPlaying())
        positionTimer_.start();
    followPosition();
}

void EditorHandlers::followPosition() {
    const WavPlayer& player = *s_.editorPlayer;
    if (!player.isPlaying())
        positionTimer_.stop();
    emit positionChanged(player.Position());
}

void EditorHandlers::showPosition(qint64 ms) {
    // As the player's status notification would show it.
    frame_.Lbltotal->setText(positionText(ms));
    if (!frame_.SliderEdit->isSliderDown())
        frame_.SliderEdit->setValue(int(wholeSeconds(ms)));
}

} // namespace quaverly
