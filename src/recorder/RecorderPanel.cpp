#include "recorder/RecorderPanel.h"

#include "ui/Widgets.h"

namespace quaverly {

namespace {

QLabel* caption(QWidget* parent, const QString& text, int y) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(24, y, 110, 26);
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

RecorderPanel::RecorderPanel(QWidget* parent) : QGroupBox(tr("Vioce Record"), parent) {
    setObjectName(QStringLiteral("FrameRec"));

    caption(this, tr("Rec Device"), 36);
    cmbInput = named(new QComboBox(this), "cmbInput");
    cmbInput->setGeometry(140, 36, 290, 26);
    lblInputType = readout(this, "lblInputType", QRect(440, 36, 128, 26));

    caption(this, tr("Input Volume"), 80);
    sldInputLevel = named(new QSlider(Qt::Horizontal, this), "sldInputLevel");
    sldInputLevel->setGeometry(140, 80, 290, 26);
    sldInputLevel->setRange(0, 100);
    sldInputLevel->setTickPosition(QSlider::TicksBelow);
    sldInputLevel->setTickInterval(10);
    sldInputLevel->setPageStep(10);

    caption(this, tr("Size of File"), 124);
    lblPos = readout(this, "lblPos", QRect(140, 124, 290, 26));
    lblPos->setText(QStringLiteral("0"));

    btnRecord = named(new QPushButton(tr("Record"), this), "btnRecord");
    btnRecord->setGeometry(140, 176, 90, 32);
    btnPlay = named(new QPushButton(tr("Play"), this), "btnPlay");
    btnPlay->setGeometry(240, 176, 90, 32);
    btnPlay->setEnabled(false);
    btnSave = named(new QPushButton(tr("Save"), this), "btnSave");
    btnSave->setGeometry(340, 176, 90, 32);
    btnSave->setEnabled(false);

    // The two save choices appear beside "Save" when it is clicked.
    CmdWav = named(new QPushButton(tr("Wav"), this), "CmdWav");
    CmdWav->setGeometry(440, 176, 62, 32);
    CmdWav->setVisible(false);
    CmdMp3 = named(new QPushButton(tr("MP3"), this), "CmdMp3");
    CmdMp3->setGeometry(506, 176, 62, 32);
    CmdMp3->setVisible(false);

    tmrRecTest = new QTimer(this);
    tmrRecTest->setObjectName(QStringLiteral("tmrRecTest"));
    tmrRecTest->setInterval(kReadoutMs);
}

} // namespace quaverly
