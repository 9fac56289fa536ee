// The waveform's time ruler: ticks and labels under the waveform, at a step that follows the
// zoom (TimeRuler.h), in the palette's colours.
#include "editor/TimeRuler.h"
#include "editor/WaveformView.h"

#include <QPainter>

#include <cmath>

namespace quaverly {

int WaveformView::rulerHeight() const {
    return fontMetrics().height() + 6;
}

QRect WaveformView::rulerArea() const {
    const QRect wave = waveArea();
    return {0, wave.bottom() + 1, width(), rulerHeight()};
}

void WaveformView::drawRuler(QPainter& p) const {
    const QRect ruler = rulerArea();
    p.fillRect(ruler, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(ruler.topLeft(), ruler.topRight());
    if (!song_ || song_->sampleRate == 0)
        return;
    const double rate = song_->sampleRate;
    const QFontMetrics metrics = fontMetrics();
    const RulerStep step = rulerStep(fpp_ / rate, song_->sampleRate,
                                     metrics.horizontalAdvance(QStringLiteral("0:00:00.000")) + 12);
    const double stepFrames = step.frames > 0 ? double(step.frames) : step.seconds * rate;
    // Minor ticks at a fifth of the step (a quarter of a 2), where they are 4 pixels apart.
    const double mantissa =
        step.frames > 0 ? double(step.frames)
                        : step.seconds / std::pow(10.0, std::floor(std::log10(step.seconds)));
    const int minors = std::lround(mantissa) % 2 == 0 && std::lround(mantissa) != 10 ? 4 : 5;
    const bool showMinors =
        stepFrames / minors / fpp_ >= 4 && (step.frames == 0 || step.frames >= 5);
    const double lastFrame = std::min(double(song_->frames), first_ + width() * fpp_);
    const auto firstTick = std::int64_t(std::floor(first_ / stepFrames));
    p.setPen(palette().color(QPalette::WindowText));
    bool labelled = false;
    double labelledFrame = 0;
    for (std::int64_t k = firstTick; double(k) * stepFrames <= lastFrame; ++k) {
        const double frame = double(k) * stepFrames;
        const int x = int(std::floor(xOf(frame)));
        if (showMinors)
            for (int m = 1; m < minors; ++m) {
                const int mx = int(std::floor(xOf(frame + stepFrames * m / minors)));
                p.drawLine(mx, ruler.top() + 1, mx, ruler.top() + 3);
            }
        if (x < 0)
            continue;
        p.drawLine(x, ruler.top() + 1, x, ruler.bottom());
        // Zoomed in to the frames, the first label says where, the others how many frames on.
        QString label;
        if (step.frames == 0)
            label = rulerLabel(frame / rate, step.seconds);
        else if (!labelled)
            label = rulerLabel(frame / rate, 0.001);
        else
            label = tr("+%1 smp").arg(std::llround(frame - labelledFrame));
        if (!labelled)
            labelledFrame = frame;
        labelled = true;
        p.drawText(
            QRect(x + 3, ruler.top() + 1, metrics.horizontalAdvance(label) + 2, ruler.height() - 1),
            Qt::AlignLeft | Qt::AlignVCenter, label);
    }
}

} // namespace quaverly
