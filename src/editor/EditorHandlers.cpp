#include "editor/EditorHandlers.h"

#include "editor/ClipCut.h"
#include "editor/EditSongFrame.h"
#include "editor/TimeText.h"
#include "engines/mci/MciPlayer.h"
#include "ui/Dialogs.h"

namespace quaverly {

EditorHandlers::EditorHandlers(EditSongFrame& frame, EditorServices services, QObject* parent)
    : QObject(parent), frame_(frame), s_(std::move(services)) {
    connect(frame_.CmdEditPlay, &QPushButton::clicked, this, &EditorHandlers::CmdEditPlay_Click);
    connect(frame_.CmdEditStop, &QPushButton::clicked, this, &EditorHandlers::CmdEditStop_Click);
    connect(frame_.CmdMarkin, &QPushButton::clicked, this, &EditorHandlers::CmdMarkin_Click);
    connect(frame_.CmdMarkOut, &QPushButton::clicked, this, &EditorHandlers::CmdMarkOut_Click);
    connect(frame_.CmdEditDone, &QPushButton::clicked, this, &EditorHandlers::CmdEditDone_Click);
    connect(s_.MMCEdit, &MciPlayer::StatusUpdate, this, &EditorHandlers::MMCEdit_StatusUpdate);
    // A click on the slider: the handle let go after a click or a drag, or a step by the keys
    // or the wheel (whose new value is applied right after the action is announced).
    connect(frame_.SliderEdit, &QSlider::sliderReleased, this, &EditorHandlers::SliderEdit_Click);
    connect(frame_.SliderEdit, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, &EditorHandlers::SliderEdit_Click,
                                      Qt::QueuedConnection);
    });
}

void EditorHandlers::setControlsEnabled(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{frame_.SliderEdit, frame_.CmdEditPlay, frame_.CmdEditStop,
                                         frame_.CmdMarkin, frame_.CmdMarkOut, frame_.CmdEditDone})
        w->setEnabled(enabled);
}

void EditorHandlers::reset(bool hide) {
    // The editor's player has let go of the song: nothing here could act on it.
    setControlsEnabled(false);
    if (hide)
        frame_.setVisible(false);
}

void EditorHandlers::List1_DblClick() {
    const QString song = s_.selectedCopy();
    if (song.isEmpty())
        return; // no song selected: nothing to open
    s_.MMCPlayList->Command(QStringLiteral("Stop"));
    s_.MMCPlayList->Command(QStringLiteral("Close"));
    MciPlayer& player = *s_.MMCEdit;
    player.Command(QStringLiteral("Stop"));
    song_ = song;
    songName_ = s_.selectedName();
    if (!openSong())
        return;
    const qint64 length = player.Length();
    frame_.SliderEdit->setMaximum(int(wholeSeconds(length)));
    frame_.SliderEdit->setValue(0);
    *s_.ListMode = QStringLiteral("Edit");
    *s_.MarkIn = 0;
    frame_.Lblin->setText(clockText(0));
    *s_.MarkOut = length;
    frame_.Lbltotal->setText(timeText(length));
    frame_.Lblout->setText(timeText(length));
    setControlsEnabled(true);
    s_.hideListPlayer();
    frame_.setVisible(true);
}

void EditorHandlers::MMCEdit_StatusUpdate() {
    const qint64 position = s_.MMCEdit->Position();
    frame_.Lbltotal->setText(timeText(position));
    // The handle stays where the user holds it.
    if (!frame_.SliderEdit->isSliderDown())
        frame_.SliderEdit->setValue(int(wholeSeconds(position)));
}

bool EditorHandlers::openSong() {
    MciPlayer& player = *s_.MMCEdit;
    player.setFileName(song_);
    if (player.Command(QStringLiteral("open")) == 0)
        return true;
    reset(false);
    s_.dialogs->tell(
        tr("%1 cannot be opened in the editor.\n\n%2").arg(songName_, player.lastError()),
        Dialogs::Icon::Warning);
    return false;
}

bool EditorHandlers::ensureOpen() {
    // Others close the editor's player before they touch the songs (a list save): the song is
    // opened again, from its start.
    return s_.MMCEdit->isOpen() || openSong();
}

void EditorHandlers::SliderEdit_Click() {
    MciPlayer& player = *s_.MMCEdit;
    if (!frame_.SliderEdit->isEnabled() || !ensureOpen())
        return;
    player.setFrom(qint64(frame_.SliderEdit->sliderPosition()) * 1000);
    player.Command(QStringLiteral("Play"));
}

void EditorHandlers::CmdEditPlay_Click() {
    if (ensureOpen())
        s_.MMCEdit->Command(QStringLiteral("play"));
}

void EditorHandlers::CmdEditStop_Click() {
    s_.MMCEdit->Command(QStringLiteral("stop"));
}

// A mark is the exact play position; its label shows the second the slider shows.
void EditorHandlers::CmdMarkin_Click() {
    if (!ensureOpen())
        return;
    *s_.MarkIn = s_.MMCEdit->Position();
    frame_.Lblin->setText(clockText(frame_.SliderEdit->value()));
}

void EditorHandlers::CmdMarkOut_Click() {
    if (!ensureOpen())
        return;
    *s_.MarkOut = s_.MMCEdit->Position();
    frame_.Lblout->setText(clockText(frame_.SliderEdit->value()));
}

void EditorHandlers::CmdEditDone_Click() {
    if (*s_.MarkIn >= *s_.MarkOut) {
        s_.dialogs->tell(QStringLiteral("Time Input Error"), Dialogs::Icon::Warning);
        return;
    }
    if (!ensureOpen())
        return;
    MciPlayer& player = *s_.MMCEdit;
    player.Command(QStringLiteral("Stop"));
    const qint64 length = player.Length();
    player.Command(QStringLiteral("Close"));
    // The wave commands only read the song they open, and their save replaces the working copy
    // whole: a cut that fails anywhere leaves it as it was.
    const CutOutcome cut = cutClip(song_, song_, *s_.MarkIn, *s_.MarkOut, length, commands_);
    if (cut.result != CutOutcome::Cut) {
        s_.dialogs->tell(tr("%1 was not cut; it is as it was.\n\n%2").arg(songName_, cut.error),
                         Dialogs::Icon::Critical);
        // The song opens again, so that the marks can be taken anew.
        ensureOpen();
        return;
    }
    *s_.ListMode = QStringLiteral("Play");
    setControlsEnabled(false);
}

} // namespace quaverly
