#pragma once
// The waveform of the song open in the clip editor: its peaks at any zoom with the RMS level
// darker inside them, a time ruler under it whose steps follow the zoom (see TimeRuler.h), the
// stretch between the two marks shaded, the marks as handles to drag, and the play cursor.
// The waveform, the ruler and the shading take their colours from the palette, so that a dark
// theme reads as well as a light one; the In and Out handles (green, red) and the cursor (orange)
// keep theirs, which stand out on both.
//
// The view keeps no marks of its own: dragging a handle emits markInMoved / markOutMoved with
// the new time and the handle moves when the owner calls setMarks() back. A click away from the
// handles emits seekRequested. The owner feeds the play position (e.g. from a 16 ms timer while
// playing); a move repaints only the two strips under the old and the new cursor, over the
// waveform drawn once per range into an image.
//
// Times are whole milliseconds; they convert to frames by the song's rate, rounding to the
// nearest frame, and frames back to the nearest millisecond (as the player counts).
//
// Threads: UI thread only; the peaks are computed by the PeakCache's workers and arrive here
// queued.

#include "editor/PeakCache.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;
class QScrollBar;

namespace quaverly {

class WaveformView final : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMaxPixelsPerFrame = 8; // the closest zoom
    static constexpr double kZoomPerNotch = 1.5;    // one wheel notch
    static constexpr int kHandleReach = 5;          // pixels either side of a mark that grab it

    // Draws from `cache`, which must outlive the view; without one the view makes its own.
    explicit WaveformView(PeakCache* cache = nullptr, QWidget* parent = nullptr);

    PeakCache& peakCache() const { return *cache_; }

    // Shows the WAV at `path` whole, once its peaks are ready; no marks and no cursor until set.
    void setSource(const QString& path);
    void clear();
    // The open song once its peaks are ready.
    const std::optional<PeakSong>& song() const { return song_; }
    qint64 lengthMs() const;

    // The visible range: the frame at the left edge (fractional when zoomed in past a frame per
    // pixel) and frames per pixel, announced by rangeChanged. setRange() keeps it within the
    // song and the zoom limits.
    double framesPerPixel() const { return fpp_; }
    void setRange(double firstFrame, double framesPerPixel);
    void showWholeSong();

    // The marks in milliseconds (-1: not shown), and the play position (-1: no cursor).
    void setMarks(qint64 markInMs, qint64 markOutMs);
    void setPlayPosition(qint64 ms);

    // The frame boundary nearest to x (pixels from the left edge), within the song.
    qint64 frameAt(double x) const;
    // Where a frame boundary is drawn, in pixels from the left edge.
    double xOf(double frame) const;
    qint64 frameOfMs(qint64 ms) const;
    qint64 msOfFrame(qint64 frame) const;

    // What the view shows instead of a waveform: reading, or why there is none; empty while
    // there is a waveform or no song.
    QString message() const;

    QSize sizeHint() const override { return {480, 140}; }
    QSize minimumSizeHint() const override { return {120, 60}; }

signals:
    void markInMoved(qint64 ms);
    void markOutMoved(qint64 ms);
    void seekRequested(qint64 ms);
    void rangeChanged(double firstFrame, double framesPerPixel);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, In, Out, Either };

    QRect waveArea() const;
    QRect rulerArea() const; // under the waveform, above the scroll bar
    int rulerHeight() const;
    void drawRuler(QPainter& p) const;
    QColor peakInk() const;
    QColor rmsInk() const;
    double maxFramesPerPixel() const;
    void request();
    void adopt(const QString& path);
    void syncScroll();
    void renderWave();
    void drawColumns(const PeakColumns& peaks);
    void drawSamples();
    int yOf(int lane, std::int16_t v) const;
    int pixelOf(qint64 ms) const;
    // The strip a mark at `ms` occupies with its handle, and the play cursor's.
    QRect markStrip(qint64 ms) const;
    QRect cursorStrip(qint64 ms) const;
    Drag handleAt(double x) const;
    void dragTo(double x);

    PeakCache* cache_;
    QScrollBar* scroll_;
    QString path_;
    std::optional<PeakSong> song_;
    double first_ = 0;
    double fpp_ = 1;
    double scrollScale_ = 1; // frames per scroll bar step
    bool syncingScroll_ = false;
    qint64 markIn_ = -1;
    qint64 markOut_ = -1;
    qint64 playMs_ = -1;
    Drag drag_ = Drag::None;
    double pressX_ = 0;
    QImage wave_; // the waveform of the visible range, without marks and cursor
    bool waveValid_ = false;
};

} // namespace quaverly
