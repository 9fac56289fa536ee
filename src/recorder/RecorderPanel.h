#pragma once
// The recorder panel FrameRec ("Vioce Record"): the recording input with its type and level,
// the size of the take, Record / Play / Save and the two save choices Wav and MP3.
//
// Widgets only: what the buttons do lives apart from this file.
// Threads: UI thread only.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace quaverly {

class RecorderPanel final : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kReadoutMs = 200;

    explicit RecorderPanel(QWidget* parent = nullptr);

    QComboBox* cmbInput;
    QLabel* lblInputType;
    QSlider* sldInputLevel;
    QLabel* lblPos;
    QPushButton* btnRecord;
    QPushButton* btnPlay;
    QPushButton* btnSave;
    QPushButton* CmdWav;
    QPushButton* CmdMp3;
    QTimer* tmrRecTest; // the byte readout; off until the recorder is prepared
};

} // namespace quaverly
