#pragma once
// The recorder panel recorderPanel ("Voice Record"): the recording input with its type and level,
// the level meter, the take's length and size, Record / Play / Save and the two save choices Wav
// and MP3.
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

class LevelMeterView;

class RecorderPanel final : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kReadoutMs = 200;

    explicit RecorderPanel(QWidget* parent = nullptr);

    QComboBox* cmbInput;
    QLabel* lblInputType;
    QSlider* sldInputLevel;
    LevelMeterView* meter; // "meterInput"
    QLabel* lblPos;
    QPushButton* btnRecord;
    QPushButton* btnPlay;
    QPushButton* btnSave;
    QPushButton* CmdWav;
    QPushButton* CmdMp3;
    QTimer* tmrRecTest; // the take readout, while a take is recorded or played

signals:
    // The panel was shown or hidden (the meter monitors only while it is shown).
    void shownChanged(bool shown);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};

} // namespace quaverly
