#pragma once
// The recorder's level meter: two bars on a dBFS scale (-60 to 0), the peak above and the RMS
// below, and a clip light that stays lit for kClipHoldMs after the sound reached full scale. The
// peak falls back slowly (kPeakFallDbPerS), so that a short peak can be seen. Colours come from
// the palette but for the clip light, which is red on every theme.
//
// It is given readings with the time they were taken (showReading), so that the hold and the
// fall follow that clock.
//
// Threads: UI thread only.

#include "engines/audio/LevelMeter.h"

#include <QWidget>

namespace quaverly {

class LevelMeterView final : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kClipHoldMs = 2000;
    static constexpr float kPeakFallDbPerS = 20.0f;

    explicit LevelMeterView(QWidget* parent = nullptr);

    // A reading of the meter taken at `nowMs` (any steady clock in ms).
    void showReading(const audio::LevelMeter::Reading& reading, qint64 nowMs);
    // No input: empty bars, the clip light off.
    void showIdle();

    float peakDb() const { return peakDb_; }
    float rmsDb() const { return rmsDb_; }
    bool clipLit() const { return clipLit_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void describe();

    float peakDb_ = audio::LevelMeter::kFloorDb;
    float rmsDb_ = audio::LevelMeter::kFloorDb;
    qint64 lastMs_ = -1;
    qint64 clipUntilMs_ = -1;
    bool clipLit_ = false;
    QString described_;
};

} // namespace quaverly
