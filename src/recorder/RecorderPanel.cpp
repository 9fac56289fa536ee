#include "recorder/RecorderPanel.h"

#include "recorder/LevelMeterView.h"
#include "ui/Widgets.h"

namespace quaverly {

namespace {

// The rows, from the top: input, volume, level, take, buttons.
constexpr int kInputRow = 30;
constexpr int kVolumeRow = 64;
constexpr int kLevelRow = 98;
constexpr int kTakeRow = 140;
constexpr int kButtonRow = 180;

QLabel* caption(QWidget* parent, const QString& text, int y, QWidget* buddy) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(24, y, 110, 26);
    l->setBuddy(buddy);
    return l;
}

QLabel* readout(QWidget* parent, const char* name, const QRect& r) {
    auto* l = named(new QLabel(parent), name);
    l->setGeometry(r);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMargin(2);
    return l;
}

} // namespace

RecorderPanel::RecorderPanel(QWidget* parent) : QGroupBox(tr("Voice Record"), parent) {
    setObjectName(QStringLiteral("FrameRec"));

    cmbInput = named(new QComboBox(this), "cmbInput");
    cmbInput->setGeometry(140, kInputRow, 290, 26);
    cmbInput->setAccessibleName(tr("Recording input"));
    caption(this, tr("Rec Device"), kInputRow, cmbInput);
    lblInputType = readout(this, "lblInputType", QRect(440, kInputRow, 128, 26));
    lblInputType->setAccessibleName(tr("Input type"));

    sldInputLevel = named(new QSlider(Qt::Horizontal, this), "sldInputLevel");
    sldInputLevel->setGeometry(140, kVolumeRow, 290, 26);
    sldInputLevel->setRange(0, 100);
    sldInputLevel->setTickPosition(QSlider::TicksBelow);
    sldInputLevel->setTickInterval(10);
    sldInputLevel->setPageStep(10);
    sldInputLevel->setAccessibleName(tr("Input volume"));
    caption(this, tr("Input Volume"), kVolumeRow, sldInputLevel);

    meter = new LevelMeterView(this);
    meter->setGeometry(140, kLevelRow + 2, 428, 32);
    caption(this, tr("Level"), kLevelRow, meter);

    lblPos = readout(this, "lblPos", QRect(140, kTakeRow, 290, 26));
    lblPos->setAccessibleName(tr("Take length and size"));
    caption(this, tr("Take"), kTakeRow, lblPos);

    btnRecord = named(new QPushButton(tr("Record"), this), "btnRecord");
    btnRecord->setGeometry(140, kButtonRow, 90, 32);
    btnRecord->setAccessibleName(tr("Record or stop"));
    btnPlay = named(new QPushButton(tr("Play"), this), "btnPlay");
    btnPlay->setGeometry(240, kButtonRow, 90, 32);
    btnPlay->setEnabled(false);
    btnPlay->setAccessibleName(tr("Play the take"));
    btnSave = named(new QPushButton(tr("Save"), this), "btnSave");
    btnSave->setGeometry(340, kButtonRow, 90, 32);
    btnSave->setEnabled(false);
    btnSave->setAccessibleName(tr("Save the take"));

    // The two save choices appear beside "Save" when it is clicked.
    CmdWav = named(new QPushButton(tr("Wav"), this), "CmdWav");
    CmdWav->setGeometry(440, kButtonRow, 62, 32);
    CmdWav->setVisible(false);
    CmdWav->setAccessibleName(tr("Save the take as WAV"));
    CmdMp3 = named(new QPushButton(tr("MP3"), this), "CmdMp3");
    CmdMp3->setGeometry(506, kButtonRow, 62, 32);
    CmdMp3->setVisible(false);
    CmdMp3->setAccessibleName(tr("Save the take as MP3"));

    // Top to bottom, left to right, as the controls are laid out.
    chainTabOrder({cmbInput, sldInputLevel, btnRecord, btnPlay, btnSave, CmdWav, CmdMp3});

    tmrRecTest = new QTimer(this);
    tmrRecTest->setObjectName(QStringLiteral("tmrRecTest"));
    tmrRecTest->setInterval(kReadoutMs);
}

void RecorderPanel::showEvent(QShowEvent* event) {
    QGroupBox::showEvent(event);
    emit shownChanged(true);
}

void RecorderPanel::hideEvent(QHideEvent* event) {
    QGroupBox::hideEvent(event);
    emit shownChanged(false);
}

} // namespace quaverly
