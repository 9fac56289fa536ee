#include "recorder/LevelMeterView.h"

#include "ui/ThemeColours.h"

#include <QPainter>

#include <algorithm>

namespace quaverly {

namespace {

constexpr float kFloor = audio::LevelMeter::kFloorDb;
constexpr int kLampWidth = 40;
constexpr int kBarHeight = 7;
// The scale's marks, in dBFS.
constexpr int kMarks[] = {-60, -40, -20, -12, -6, 0};

} // namespace

LevelMeterView::LevelMeterView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("meterInput"));
    setAccessibleName(tr("Input level meter"));
    setToolTip(tr("The input's level in dBFS: the peak above, the RMS below. CLIP lights when "
                  "the sound reaches full scale: turn the input volume down."));
    showIdle();
}

QSize LevelMeterView::sizeHint() const {
    return {290, 2 * kBarHeight + fontMetrics().height() + 6};
}

void LevelMeterView::showIdle() {
    peakDb_ = rmsDb_ = kFloor;
    lastMs_ = clipUntilMs_ = -1;
    clipLit_ = false;
    describe();
    update();
}

void LevelMeterView::showReading(const audio::LevelMeter::Reading& reading, qint64 nowMs) {
    // The shown peak falls at its own pace; a higher one replaces it at once.
    const float elapsed = lastMs_ < 0 ? 0.0f : float(nowMs - lastMs_) / 1000.0f;
    lastMs_ = nowMs;
    const float fallen = std::max(kFloor, peakDb_ - kPeakFallDbPerS * elapsed);
    peakDb_ = reading.fresh ? std::max(fallen, audio::LevelMeter::dbfs(reading.peak)) : fallen;
    if (reading.fresh)
        rmsDb_ = audio::LevelMeter::dbfs(reading.rms);
    if (reading.clipped)
        clipUntilMs_ = nowMs + kClipHoldMs;
    clipLit_ = clipUntilMs_ >= 0 && nowMs < clipUntilMs_;
    describe();
    update();
}

void LevelMeterView::describe() {
    // Told to a screen reader in whole dB, so that it is not told anew at every reading.
    QString text = tr("Peak %1 dBFS, RMS %2 dBFS").arg(qRound(peakDb_)).arg(qRound(rmsDb_));
    if (clipLit_)
        text += tr(", clipping");
    if (text != described_) {
        described_ = text;
        setAccessibleDescription(text);
    }
}

void LevelMeterView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const int scaleWidth = width() - kLampWidth - 6;
    const auto xOf = [scaleWidth](float db) {
        return int(float(scaleWidth) * (std::clamp(db, kFloor, 0.0f) - kFloor) / -kFloor);
    };
    const QRect peakBar(0, 0, scaleWidth, kBarHeight);
    const QRect rmsBar(0, kBarHeight + 2, scaleWidth, kBarHeight);
    for (const QRect& groove : {peakBar, rmsBar}) {
        p.fillRect(groove, pal.color(QPalette::Base));
        p.setPen(pal.color(QPalette::Mid));
        p.drawRect(groove.adjusted(0, 0, -1, -1));
    }
    const QColor bar = pal.color(QPalette::Highlight);
    p.fillRect(QRect(peakBar.topLeft(), QSize(xOf(peakDb_), kBarHeight)).adjusted(1, 1, 0, -1),
               bar.lighter(130));
    p.fillRect(QRect(rmsBar.topLeft(), QSize(xOf(rmsDb_), kBarHeight)).adjusted(1, 1, 0, -1), bar);

    // The scale under the bars.
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    p.setFont(small);
    p.setPen(dimmedText(pal, QPalette::WindowText, QPalette::Window));
    const QFontMetrics fm(small);
    const int top = rmsBar.bottom() + 2;
    for (const int mark : kMarks) {
        const QString text = QString::number(mark);
        const int x = xOf(float(mark));
        const int w = fm.horizontalAdvance(text);
        p.drawLine(x, top, x, top + 2);
        p.drawText(std::clamp(x - w / 2, 0, scaleWidth - w), top + 2 + fm.ascent(), text);
    }

    // The clip light.
    const QRect lamp(width() - kLampWidth, 0, kLampWidth, 2 * kBarHeight + 2);
    p.setFont(small);
    if (clipLit_) {
        // Red on every theme; its word in whichever of the palette's text and field colours
        // stands out more on it.
        const QColor red(0xd9, 0x30, 0x2c), text = pal.color(QPalette::Text),
                                            base = pal.color(QPalette::Base);
        p.fillRect(lamp, red);
        p.setPen(contrastRatio(text, red) >= contrastRatio(base, red) ? text : base);
    } else {
        p.fillRect(lamp, pal.color(QPalette::Button));
        p.setPen(dimmedText(pal, QPalette::ButtonText, QPalette::Button));
    }
    p.drawText(lamp, Qt::AlignCenter, tr("CLIP"));
}

} // namespace quaverly
