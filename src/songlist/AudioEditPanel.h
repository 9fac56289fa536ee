#pragma once
// The "Audio Edit" panel songListPanel: the song list with its buttons, the two list saves, the
// output frame (preset, format and setting of the encoded saves) and the list player's frame
// "Play Control". The clip editor's frame is
// placed in it by the window that composes the panels (placeEditFrame).
//
// Widgets only: what the buttons do lives apart from this file.
// Threads: UI thread only.

#include "ui/ElidedLabel.h"
#include "ui/OutputFrame.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

namespace quaverly {

class OutputChoice;

class AudioEditPanel final : public QGroupBox {
    Q_OBJECT
public:
    // Every song item carries the path of its own working copy under this role, and the path
    // of the file it was made from under the next.
    static constexpr int kWorkingCopyRole = Qt::UserRole;
    static constexpr int kSourceRole = Qt::UserRole + 1;
    // What the row shows right-aligned beside the song's text: its length in ms (quint64) and
    // its format's word ("MP3", "WAV", "FLAC").
    static constexpr int kLengthRole = Qt::UserRole + 2;
    static constexpr int kFormatRole = Qt::UserRole + 3;
    // The song the list player plays (bold, a play sign) and the song the clip editor shows (a
    // pen); bools.
    static constexpr int kPlayingRole = Qt::UserRole + 4;
    static constexpr int kEditedRole = Qt::UserRole + 5;
    // The title the file it was made from gave in its tags when it was listed; empty: none.
    static constexpr int kTitleRole = Qt::UserRole + 6;
    // What its working copy holds of the file it was made from (SongOrigin, ui/KeptSave.h).
    static constexpr int kOriginRole = Qt::UserRole + 7;

    // Each numbered control keeps its historic name as its objectName (lblListHint is "Label6",
    // lblMaker "Label8", framePlayControl "Frame2", chkPlayList "Check1"; the output frame's in
    // OutputFrame.h): tests find them by it.
    explicit AudioEditPanel(QWidget* parent = nullptr);
    // Silences the list before its widgets go: handlers that follow the list's rows must not hear
    // of its teardown once this panel is no longer whole.
    ~AudioEditPanel() override;

    // The selected song's row, -1 when none is selected.
    int ListIndex() const;
    // The working copy of the song at `row`; empty when there is no such row.
    QString workingCopy(int row) const;
    // The list player's five buttons, from left to right.
    QList<QPushButton*> playerButtons() const {
        return {CmdForward, CmdPause, CmdPlay, CmdStop, CmdNext};
    }

    // The song item whose working copy is `workingCopy`; null when none is.
    QListWidgetItem* itemOf(const QString& workingCopy) const;

    // The clip editor's frame once placed (null before).
    QWidget* editFrame() const { return editFrame_; }

    // Puts the clip editor's frame in the place kept for it: where "Play Control" is, and
    // down to the list saves (the two frames are not shown together).
    void placeEditFrame(QWidget* frame);

    // Shows `choice` in the output frame and the "keep" box (without announcing it as the
    // user's); the list save's caption names the format.
    void showOutput(const OutputChoice& choice);

    // Song list
    QListWidget* List1;
    QPushButton* CmdAdd;
    QPushButton* Cmdremove;
    QPushButton* CmdIns;
    QToolButton* CmdUP;
    QToolButton* CmdDown;
    QLabel* lblListHint; // the hint under the list
    QLabel* lblMaker;    // the maker's name

    // List saves and the output frame
    QPushButton* CmdSaveWav;
    QPushButton* CmdSaveList; // "Save The List to MP3", or the chosen format
    OutputFrame* outputFrame; // "Output"
    // Beside its title: whether the clip in hand keeps its song's own sound, or why it is
    // re-encoded (empty when the output's codec is not the song's). Under it and the saves:
    // "Keep the song's own sound when it can" (OutputChoice::keepsSound).
    ElidedLabel* lblKeepSound;
    QCheckBox* chkKeepSound;

    // List player
    QGroupBox* framePlayControl;
    QLabel* lblListPosition; // beside "Play List": the song playing, its position and length
    QCheckBox* chkPlayList;
    QPushButton* CmdForward;
    QPushButton* CmdPause;
    QPushButton* CmdPlay;
    QPushButton* CmdStop;
    QPushButton* CmdNext;

protected:
    // The list grows downwards and, by two fifths of the width the panel gains, to the right
    // (its arrows, buttons and hint follow it); the right-hand column (the player's and the
    // editor's frame, the bit rate and the list saves) takes the rest. What is below the list
    // and the frames keeps to the bottom.
    void resizeEvent(QResizeEvent* event) override;

private:
    // Accessible names and the tab order of the panel's own controls.
    void nameForScreenReaders();
    void layOut();

    QWidget* editFrame_ = nullptr;
};

} // namespace quaverly
