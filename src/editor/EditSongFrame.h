#pragma once
// The clip editor's frame Frame3 ("Edit Song"): the position slider with the time display, Play
// and Stop, the two marks with their times, and "Done".
//
// Widgets only: what the buttons do lives apart from this file.
// Threads: UI thread only.

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace quaverly {

class EditSongFrame final : public QGroupBox {
    Q_OBJECT
public:
    explicit EditSongFrame(QWidget* parent = nullptr);

    QSlider* SliderEdit;
    QLabel* Lbltotal;
    QPushButton* CmdEditPlay;
    QPushButton* CmdEditStop;
    QLabel* Lblin;
    QPushButton* CmdMarkin;
    QLabel* Lblout;
    QPushButton* CmdMarkOut;
    QPushButton* CmdEditDone;
};

} // namespace quaverly
