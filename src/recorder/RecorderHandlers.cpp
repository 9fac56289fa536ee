#include "recorder/RecorderHandlers.h"

#include "engines/util/ClockText.h"
#include "recorder/LevelMeterView.h"
#include "recorder/RecorderPanel.h"
#include "ui/Dialogs.h"
#include "ui/Encodings.h"
#include "ui/OutputChoice.h"
#include "ui/SoundError.h"

#include <QSignalBlocker>
#include <QTimer>

#include <utility>

namespace quaverly {

namespace {

// The time of `bytes` of the take, to the tenth of a second and never ahead of it.
QString takeTime(std::uint64_t bytes) {
    const std::uint64_t tenths = bytes * 10u / RecordTake::kBytesPerSecond;
    return clockTenths(tenths);
}

// The size of the WAV file a take of `bytes` makes, in MB (10^6 bytes) with one decimal.
QString takeMegabytes(std::uint64_t bytes) {
    return QString::number(double(bytes + WavHeader::kSize) / 1e6, 'f', 1);
}

} // namespace

RecorderHandlers::RecorderHandlers(RecorderPanel& panel, RecorderServices services, QObject* parent)
    : QObject(parent), panel_(panel), s_(std::move(services)), engine_(s_.engine) {
    pumpTimer = new QTimer(this);
    pumpTimer->setObjectName(QStringLiteral("pumpTimer"));
    pumpTimer->setInterval(kPumpMs);
    connect(pumpTimer, &QTimer::timeout, this, &RecorderHandlers::pumpTimer_Timer);
    meterTimer = new QTimer(this);
    meterTimer->setObjectName(QStringLiteral("tmrMeter"));
    meterTimer->setInterval(kMeterMs);
    connect(meterTimer, &QTimer::timeout, this, &RecorderHandlers::meterTimer_Timer);
    clock_.start();
    connect(&panel_, &RecorderPanel::shownChanged, this, &RecorderHandlers::updateMonitoring);
    connect(panel_.tmrRecTest, &QTimer::timeout, this, &RecorderHandlers::tmrRecTest_Timer);
    connect(panel_.cmbInput, &QComboBox::currentIndexChanged, this,
            &RecorderHandlers::cmbInput_Click);
    connect(panel_.sldInputLevel, &QSlider::valueChanged, this,
            &RecorderHandlers::sldInputLevel_Scroll);
    panel_.lblPos->setText(takeText(0));
    connect(panel_.btnRecord, &QPushButton::clicked, this, &RecorderHandlers::btnRecord_Click);
    connect(panel_.btnPlay, &QPushButton::clicked, this, &RecorderHandlers::btnPlay_Click);
    connect(panel_.btnSave, &QPushButton::clicked, this, &RecorderHandlers::btnSave_Click);
    connect(panel_.CmdWav, &QPushButton::clicked, this, &RecorderHandlers::CmdWav_Click);
    connect(panel_.CmdMp3, &QPushButton::clicked, this, &RecorderHandlers::CmdMp3_Click);
    if (s_.encodings)
        connect(s_.encodings, &Encodings::finished, this, &RecorderHandlers::encodingFinished);
}

void RecorderHandlers::initrec() {
    // A take and a device of an earlier visit go, whether or not they were released in between.
    engine_.discard();
    unsaved_ = false;
    device_.reset();
    inputIndex_ = -1;
    levelFailed_ = false;
    updateMonitoring();
    showIdle();
    {
        const QSignalBlocker quiet(panel_.cmbInput);
        panel_.cmbInput->clear();
    }
    panel_.lblInputType->clear();
    panel_.lblPos->setText(takeText(0));

    // The capture device of the sound server; the take plays on the same server.
    auto opened = audio::CaptureDevice::open();
    if (!opened) {
        ReportSoundError(*s_.dialogs, QStringLiteral("Can't initialize device"),
                         opened.error().code());
        noInputs(opened.error().cause());
        return;
    }
    device_.emplace(std::move(*opened));

    // Inputs that cannot be listed read as none.
    const auto inputs = device_->inputs();
    const int selected = device_->chosen();
    if (inputs) {
        const QSignalBlocker quiet(panel_.cmbInput);
        for (const audio::RecordingInput& input : *inputs)
            panel_.cmbInput->addItem(input.description);
        panel_.cmbInput->setCurrentIndex(selected);
    }
    if (panel_.cmbInput->count() == 0) {
        noInputs(tr("the sound server has no recording input"));
        return;
    }
    panel_.cmbInput->setPlaceholderText(tr("Choose an input"));
    panel_.cmbInput->setToolTip(QString());
    panel_.cmbInput->setEnabled(true);
    panel_.sldInputLevel->setEnabled(selected >= 0);
    if (selected >= 0)
        cmbInput_Click();
}

void RecorderHandlers::noInputs(const QString& why) {
    const QString text = tr("No input available: %1").arg(why);
    panel_.cmbInput->setPlaceholderText(text);
    panel_.cmbInput->setToolTip(text);
    panel_.cmbInput->setEnabled(false);
    panel_.sldInputLevel->setEnabled(false);
    panel_.lblInputType->clear();
    panel_.btnRecord->setEnabled(false);
}

void RecorderHandlers::showIdle() {
    pumpTimer->stop();
    panel_.btnRecord->setText(QStringLiteral("Record"));
    panel_.btnRecord->setEnabled(inputIndex_ >= 0);
    panel_.btnPlay->setEnabled(false);
    panel_.btnSave->setEnabled(false);
    panel_.CmdWav->setVisible(false);
    panel_.CmdMp3->setVisible(false);
}

void RecorderHandlers::cmbInput_Click() {
    inputIndex_ = panel_.cmbInput->currentIndex();
    levelFailed_ = false;
    panel_.sldInputLevel->setEnabled(inputIndex_ >= 0);
    if (inputIndex_ < 0 || !device_)
        return;
    // Only the source recorded from changes; every other input, and the server's default
    // source, stay as they are.
    if (const Status chosen = device_->choose(inputIndex_); !chosen)
        ReportSoundError(*s_.dialogs, tr("Can't record from this input"), chosen.error().code());
    if (!engine_.recording()) {
        panel_.btnRecord->setEnabled(true);
        // The meter follows the input chosen now.
        engine_.stopMonitoring();
        updateMonitoring();
    }
    ShowInputState();
}

void RecorderHandlers::ShowInputState() {
    if (inputIndex_ < 0 || !device_)
        return;
    // An input that is gone (or cannot be read) shows no kind, and the slider stays as it is.
    const auto input = device_->input(inputIndex_);
    const bool known = input && input->present;
    panel_.lblInputType->setText(
        audio::inputKindText(known ? input->kind : audio::SourceKind::Unknown));
    if (known) {
        const QSignalBlocker quiet(panel_.sldInputLevel);
        panel_.sldInputLevel->setValue(input->level);
    }
}

void RecorderHandlers::sldInputLevel_Scroll() {
    if (inputIndex_ < 0 || !device_)
        return;
    const Status set = device_->setLevel(inputIndex_, panel_.sldInputLevel->value());
    if (set) {
        levelFailed_ = false;
    } else if (!levelFailed_) {
        levelFailed_ = true;
        ReportSoundError(*s_.dialogs, tr("Can't set the input level"), set.error().code());
    }
}

void RecorderHandlers::tmrRecTest_Timer() {
    if (engine_.recording()) {
        panel_.lblPos->setText(takeText(engine_.recordedBytes()));
        return;
    }
    // Unless the take plays (below), the readout stands from now on: its timer rests.
    panel_.tmrRecTest->stop();
    if (audio::TakePlayer* player = engine_.player()) {
        const std::uint64_t length = player->length();
        if (player->playing()) {
            panel_.tmrRecTest->start();
            panel_.lblPos->setText(
                tr("Playing %1 of %2 · %3 MB")
                    .arg(takeTime(player->position()), takeTime(length), takeMegabytes(length)));
            return;
        }
        // A take that stopped because the output failed is said once.
        panel_.lblPos->setText(takeText(length));
        if (const Status played = player->consumeFailure(); !played)
            ReportSoundError(
                *s_.dialogs,
                tr("The take stopped playing: %1\r\nThe take is kept.").arg(played.error().cause()),
                played.error().code());
    }
}

QString RecorderHandlers::takeText(std::uint64_t bytes) {
    return tr("Length %1 · %2 MB").arg(takeTime(bytes), takeMegabytes(bytes));
}

void RecorderHandlers::updateMonitoring() {
    if (engine_.recording())
        return; // the recording feeds the meter
    const bool wanted = device_ && inputIndex_ >= 0 && panel_.isVisible();
    if (wanted && !engine_.monitoring() && engine_.startMonitoring(*device_)) {
        meterTimer->start();
        return;
    }
    if (wanted && engine_.monitoring())
        return;
    engine_.stopMonitoring();
    meterTimer->stop();
    panel_.meter->showIdle();
}

void RecorderHandlers::meterTimer_Timer() {
    if (engine_.monitoring() && !engine_.monitorFailure()) {
        // The input or the server went away: the meter rests until the input is chosen again.
        engine_.stopMonitoring();
        meterTimer->stop();
        panel_.meter->showIdle();
        return;
    }
    panel_.meter->showReading(engine_.meter().read(), clock_.elapsed());
}

void RecorderHandlers::btnRecord_Click() {
    if (engine_.recording())
        EndRecording();
    else if (!keepTakeBeforeRecording())
        BeginRecording();
}

void RecorderHandlers::BeginRecording() {
    // The last take goes now: nothing may play or save it while the new one is recorded.
    showIdle();
    if (!device_)
        return;
    if (const Status started = engine_.BeginRecording(*device_); !started) {
        ReportSoundError(*s_.dialogs, QStringLiteral("Couldn't start recording"),
                         started.error().code());
        updateMonitoring();
        return;
    }
    takeStarted_ = QDateTime::currentDateTime();
    unsaved_ = false;
    panel_.btnRecord->setText(QStringLiteral("Stop"));
    panel_.btnRecord->setEnabled(true);
    pumpTimer->start();
    meterTimer->start();
    panel_.tmrRecTest->start();
    tmrRecTest_Timer();
}

void RecorderHandlers::EndRecording() {
    pumpTimer->stop();
    engine_.EndRecording();
    updateMonitoring();
    showIdle();
    // The take can be saved even when it has no player.
    panel_.btnPlay->setEnabled(engine_.player() != nullptr);
    panel_.btnSave->setEnabled(engine_.take().exists());
    unsaved_ = engine_.take().exists();
    tmrRecTest_Timer();
    if (const std::uint64_t lost = engine_.lostBytes()) {
        s_.dialogs->tell(tr("%1 seconds of sound were lost from the take: the program was too "
                            "busy to take them in.")
                             .arg(double(lost) / RecordTake::kBytesPerSecond, 0, 'f', 1),
                         Dialogs::Icon::Warning);
    }
}

void RecorderHandlers::pumpTimer_Timer() {
    const TakeRecorder::Stop why = engine_.pump();
    if (why != TakeRecorder::Stop::None)
        stopFor(why);
}

void RecorderHandlers::stopFor(TakeRecorder::Stop why) {
    // Read before EndRecording, which may put its own failure in place.
    const Status failure = engine_.failure();
    EndRecording();
    switch (why) {
    case TakeRecorder::Stop::OutOfMemory:
        ReportSoundError(*s_.dialogs, QStringLiteral("Out of memory!"), sound::kMemory);
        break;
    case TakeRecorder::Stop::TooLarge:
        s_.dialogs->tell(tr("The take has reached the largest size a WAV file can hold (4 GiB), "
                            "so the recording has stopped. What was recorded is kept."),
                         Dialogs::Icon::Warning);
        break;
    case TakeRecorder::Stop::DeviceFailed:
        ReportSoundError(*s_.dialogs,
                         tr("The recording stopped: %1\r\nWhat was recorded until then is kept.")
                             .arg(failure.error().cause()),
                         failure.error().code());
        break;
    case TakeRecorder::Stop::None:
        break;
    }
}

void RecorderHandlers::btnPlay_Click() {
    audio::TakePlayer* player = engine_.player();
    if (!player)
        return;
    // After a failed output the player opens a new device stream on the sound server
    // (connecting again) and goes on from where the take was heard to stop.
    if (const Status played = player->play(); !played)
        ReportSoundError(*s_.dialogs, tr("Can't play the take"), played.error().code());
    else
        panel_.tmrRecTest->start(); // the readout follows the play
}

void RecorderHandlers::btnSave_Click() {
    panel_.CmdMp3->setText(formatWord(s_.output().format()));
    panel_.CmdWav->setVisible(true);
    panel_.CmdMp3->setVisible(true);
}

void RecorderHandlers::releaseTake() {
    engine_.discard();
    unsaved_ = false;
    device_.reset();
    updateMonitoring();
    panel_.tmrRecTest->stop();
    showIdle();
}

} // namespace quaverly
