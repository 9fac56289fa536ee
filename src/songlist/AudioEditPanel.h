#pragma once
// The "Audio Edit" panel Framewav: the song list with its buttons, the two list saves, the
// bit-rate options and the list player's frame "Play Control". The clip editor's frame is
// placed in it by the window that composes the panels (placeEditFrame).
//
// Widgets only: what the buttons do lives apart from this file.
// Threads: UI thread only.

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace quaverly {

class AudioEditPanel final : public QGroupBox {
    Q_OBJECT
public:
    // Every song item carries the path of its own working copy under this role.
    static constexpr int kWorkingCopyRole = Qt::UserRole;

    // Each numbered control keeps its historic name as its objectName (lblListHint is "Label6",
    // lblMaker "Label8", frameBitRate "Frame6", optBitRate56 to optBitRate256 "Option1" to
    // "Option4", framePlayControl "Frame2", chkPlayList "Check1"): tests find them by it.
    explicit AudioEditPanel(QWidget* parent = nullptr);

    // The selected song's row, -1 when none is selected.
    int ListIndex() const;
    // The working copy of the song at `row`; empty when there is no such row.
    QString workingCopy(int row) const;
    // The list player's five buttons, from left to right.
    QList<QPushButton*> playerButtons() const {
        return {CmdFoward, CmdPause, CmdPlay, CmdStop, CmdNext};
    }

    // Puts the clip editor's frame in the place kept for it: where "Play Control" is, and
    // down to the list saves (the two frames are not shown together).
    void placeEditFrame(QWidget* frame);

    // Selects the option of kbps; false (and nothing changes) when no option offers it.
    bool checkBitRate(int kbps);

    // Song list
    QListWidget* List1;
    QPushButton* CmdAdd;
    QPushButton* Cmdremove;
    QPushButton* CmdIns;
    QToolButton* CmdUP;
    QToolButton* CmdDown;
    QLabel* lblListHint; // the hint under the list
    QLabel* lblMaker;    // the maker's name

    // List saves and their bit rate
    QPushButton* CmdSaveWav;
    QPushButton* CmdSaveList;
    QGroupBox* frameBitRate;
    QRadioButton* optBitRate56;
    QRadioButton* optBitRate96;
    QRadioButton* optBitRate128;
    QRadioButton* optBitRate256;
    QButtonGroup* bitRateGroup; // ids are the bit rates

    // List player
    QGroupBox* framePlayControl;
    QCheckBox* chkPlayList;
    QPushButton* CmdFoward;
    QPushButton* CmdPause;
    QPushButton* CmdPlay;
    QPushButton* CmdStop;
    QPushButton* CmdNext;

signals:
    // The user picked the option of kbps.
    void bitRateChosen(int kbps);

protected:
    // The list grows downwards and the right-hand column (the player's and the editor's frame,
    // the bit rate and the list saves) to the right; what is below the list and the frames keeps
    // to the bottom.
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();

    QWidget* editFrame_ = nullptr;
};

} // namespace quaverly
