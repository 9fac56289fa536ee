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

    // The buttons' row: Play and Save wait for a take; the two save choices appear beside
    // "Save" when it is clicked.
    const struct {
        QPushButton*& button;
        QString caption;
        const char* name;
        int x;
        int width;
        bool waitsForTake;
        bool hidden;
        QString what;
    } buttons[] = {
        {btnRecord, tr("Record"), "btnRecord", 140, 90, false, false, tr("Record or stop")},
        {btnPlay, tr("Play"), "btnPlay", 240, 90, true, false, tr("Play the take")},
        {btnSave, tr("Save"), "btnSave", 340, 90, true, false, tr("Save the take")},
        {CmdWav, tr("Wav"), "CmdWav", 440, 62, false, true, tr("Save the take as WAV")},
        {CmdMp3, tr("MP3"), "CmdMp3", 506, 62, false, true, tr("Save the take as MP3")},
    };
    for (const auto& b : buttons) {
        b.button = named(new QPushButton(b.caption, this), b.name);
        b.button->setGeometry(b.x, kButtonRow, b.width, 32);
        if (b.waitsForTake)
            b.button->setEnabled(false);
        if (b.hidden)
            b.button->setVisible(false);
        b.button->setAccessibleName(b.what);
    }

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
