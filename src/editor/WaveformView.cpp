#include "editor/WaveformView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace quaverly {

namespace {

constexpr int kGripWidth = 9; // the flag on top of a mark line
constexpr int kGripHeight = 10;

// `a` moved by `t` (0 to 1) towards `b`.
QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

} // namespace

WaveformView::WaveformView(PeakCache* cache, QWidget* parent)
    : QWidget(parent), cache_(cache ? cache : new PeakCache(this)),
      scroll_(new QScrollBar(Qt::Horizontal, this)) {
    setObjectName(QStringLiteral("WaveformView"));
    scroll_->setObjectName(QStringLiteral("WaveScroll"));
    scroll_->setEnabled(false);
    setMouseTracking(true); // the pointer shows where a handle can be grabbed
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(tr("Mouse wheel: zoom in or out around the pointer.\n"
                  "Shift+wheel or the scroll bar: move along the song.\n"
                  "Drag the In or the Out handle to move that mark;\n"
                  "click anywhere else to move the play position there."));
    setAccessibleName(tr("Waveform"));
    setAccessibleDescription(toolTip());
    connect(cache_, &PeakCache::ready, this, &WaveformView::adopt);
    connect(cache_, &PeakCache::failed, this, [this](const QString& path) {
        if (path == path_)
            update();
    });
    // A cut replaced the song: its peaks are read again; and once the cache may read it again
    // after a cut or an undo, the song is asked for again (the peaks may have been dropped).
    const auto again = [this](const QString& path) {
        if (path == path_)
            request();
    };
    connect(cache_, &PeakCache::invalidated, this, again);
    connect(cache_, &PeakCache::resumed, this, again);
    connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncingScroll_)
            setRange(value * scrollScale_, fpp_);
    });
}

void WaveformView::setSource(const QString& path) {
    path_ = path;
    song_.reset();
    markIn_ = markOut_ = playMs_ = -1;
    drag_ = Drag::None;
    request();
}

void WaveformView::clear() {
    setSource(QString());
}

void WaveformView::request() {
    waveValid_ = false;
    if (!path_.isEmpty() && cache_->request(path_) == PeakCache::State::Ready)
        adopt(path_);
    else
        song_.reset();
    syncScroll();
    update();
}

void WaveformView::adopt(const QString& path) {
    if (path != path_)
        return;
    const std::optional<PeakSong> was = song_;
    song_ = cache_->song(path_);
    waveValid_ = false;
    // A song that changed length (a cut) is shown whole; the same song keeps its range.
    if (!was || !song_ || was->frames != song_->frames)
        showWholeSong();
    else
        setRange(first_, fpp_);
    update();
}

qint64 WaveformView::lengthMs() const {
    return song_ ? msOfFrame(song_->frames) : 0;
}

QRect WaveformView::waveArea() const {
    return {0, 0, width(), std::max(0, height() - scroll_->sizeHint().height() - rulerHeight())};
}

double WaveformView::maxFramesPerPixel() const {
    const double whole = song_ ? double(song_->frames) / std::max(1, width()) : 0;
    return std::max(whole, 1 / kMaxPixelsPerFrame);
}

void WaveformView::setRange(double firstFrame, double framesPerPixel) {
    if (!song_)
        return;
    const double fpp = std::clamp(framesPerPixel, 1 / kMaxPixelsPerFrame, maxFramesPerPixel());
    const double last = std::max(0.0, double(song_->frames) - width() * fpp);
    const double first = std::clamp(firstFrame, 0.0, last);
    if (first == first_ && fpp == fpp_)
        return;
    first_ = first;
    fpp_ = fpp;
    waveValid_ = false;
    syncScroll();
    update();
    emit rangeChanged(first_, fpp_);
}

void WaveformView::showWholeSong() {
    setRange(0, maxFramesPerPixel());
}

void WaveformView::syncScroll() {
    syncingScroll_ = true;
    const double pixels = song_ ? song_->frames / fpp_ : 0;
    // One step per pixel, unless the song is so long at this zoom that the steps would not fit
    // an int.
    scrollScale_ = std::max(fpp_, pixels > (1 << 30) ? song_->frames / double(1 << 30) : 0.0);
    const double steps = song_ ? std::ceil((song_->frames - width() * fpp_) / scrollScale_) : 0;
    scroll_->setEnabled(steps > 0);
    scroll_->setRange(0, steps > 0 ? int(steps) : 0);
    const int page = std::max(1, int(width() * fpp_ / scrollScale_));
    scroll_->setPageStep(page);
    scroll_->setSingleStep(std::max(1, page / 20));
    scroll_->setValue(int(std::lround(first_ / scrollScale_)));
    syncingScroll_ = false;
}

qint64 WaveformView::frameOfMs(qint64 ms) const {
    if (!song_ || ms <= 0)
        return 0;
    return std::min<qint64>(song_->frames, (ms * song_->sampleRate + 500) / 1000);
}

qint64 WaveformView::msOfFrame(qint64 frame) const {
    if (!song_ || frame <= 0 || song_->sampleRate == 0)
        return 0;
    return (frame * 1000 + song_->sampleRate / 2) / song_->sampleRate;
}

qint64 WaveformView::frameAt(double x) const {
    if (!song_)
        return 0;
    return std::clamp<qint64>(std::llround(first_ + x * fpp_), 0, song_->frames);
}

double WaveformView::xOf(double frame) const {
    return (frame - first_) / fpp_;
}

void WaveformView::setMarks(qint64 markInMs, qint64 markOutMs) {
    // The shading changes between each mark's old and new place; with a mark newly shown or
    // gone, everywhere.
    const auto moved = [this](qint64 was, qint64 now) {
        if (was == now)
            return QRect();
        if (was < 0 || now < 0)
            return waveArea();
        return (markStrip(was) | markStrip(now)) & waveArea();
    };
    const QRect dirty = moved(markIn_, markInMs) | moved(markOut_, markOutMs);
    markIn_ = markInMs;
    markOut_ = markOutMs;
    if (!dirty.isEmpty())
        update(dirty);
}

void WaveformView::setPlayPosition(qint64 ms) {
    if (ms == playMs_)
        return;
    const QRect before = cursorStrip(playMs_);
    playMs_ = ms;
    const QRect after = cursorStrip(playMs_);
    if (before != after) {
        update(before);
        update(after);
    }
}

int WaveformView::pixelOf(qint64 ms) const {
    // Far off the view when zoomed in, a mark is kept just outside it.
    const double x = std::floor(xOf(double(frameOfMs(ms))));
    return int(std::clamp(x, -4.0 * kGripWidth, width() + 4.0 * kGripWidth));
}

QRect WaveformView::markStrip(qint64 ms) const {
    if (!song_ || ms < 0)
        return {};
    return {pixelOf(ms) - kGripWidth - 1, 0, 2 * kGripWidth + 3, waveArea().height()};
}

QRect WaveformView::cursorStrip(qint64 ms) const {
    if (!song_ || ms < 0)
        return {};
    return QRect(pixelOf(ms) - 1, 0, 3, waveArea().height()) & waveArea();
}

QString WaveformView::message() const {
    if (path_.isEmpty() || song_)
        return {};
    if (cache_->state(path_) == PeakCache::State::Failed)
        return tr("No waveform: %1").arg(cache_->errorString(path_));
    return tr("Reading the waveform…");
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int h = scroll_->sizeHint().height();
    scroll_->setGeometry(0, height() - h, width(), h);
    // A song shown whole stays whole; otherwise the zoom stays and the range grows to the right.
    const bool whole = song_ && fpp_ * event->oldSize().width() >= song_->frames - 1;
    waveValid_ = false;
    if (whole)
        showWholeSong();
    else
        setRange(first_, fpp_);
    syncScroll();
}

void WaveformView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The file may have changed while the view was hidden.
    if (!path_.isEmpty() && song_ && cache_->request(path_) != PeakCache::State::Ready)
        request();
}

void WaveformView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::FontChange)
        waveValid_ = false;
}

int WaveformView::yOf(int lane, std::int16_t v) const {
    const int channels = song_ ? std::max(1, song_->channels) : 1;
    const int laneHeight = wave_.height() / channels;
    const int top = lane * laneHeight;
    const int half = std::max(0, (laneHeight - 1) / 2);
    return std::clamp(top + half - int(std::lround(v * double(half) / 32768.0)), top,
                      top + std::max(0, laneHeight - 1));
}

void WaveformView::renderWave() {
    const QRect area = waveArea();
    if (wave_.size() != area.size())
        wave_ = QImage(area.size(), QImage::Format_RGB32);
    wave_.fill(palette().color(QPalette::Base));
    waveValid_ = true;
    if (!song_ || wave_.isNull())
        return;
    // The centre line of each channel's lane.
    const QRgb centre = palette().color(QPalette::Mid).rgb();
    for (int lane = 0; lane < song_->channels; ++lane) {
        auto* row = reinterpret_cast<QRgb*>(wave_.scanLine(yOf(lane, 0)));
        std::fill(row, row + wave_.width(), centre);
    }
    if (fpp_ >= 1)
        drawColumns(cache_->peaks(path_, first_, fpp_, wave_.width()));
    else
        drawSamples();
}

QColor WaveformView::rmsInk() const {
    return palette().color(QPalette::Text);
}

QColor WaveformView::peakInk() const {
    // Halfway to the background: lighter than the RMS on a light theme, dimmer on a dark one.
    return mix(rmsInk(), palette().color(QPalette::Base), 0.5);
}

void WaveformView::drawColumns(const PeakColumns& peaks) {
    const QRgb peak = peakInk().rgb();
    const QRgb rms = rmsInk().rgb();
    const auto stride = std::size_t(wave_.bytesPerLine()) / sizeof(QRgb);
    auto* bits = reinterpret_cast<QRgb*>(wave_.bits());
    const auto fill = [&](int c, int from, int to, QRgb ink) {
        for (int y = from; y <= to; ++y)
            bits[std::size_t(y) * stride + std::size_t(c)] = ink;
    };
    for (int lane = 0; lane < peaks.channels; ++lane) {
        int lastTop = -1, lastBottom = -1;
        for (int c = 0; c < peaks.columns; ++c) {
            const Peak& p = peaks.at(c, lane);
            const int top = yOf(lane, p.max), bottom = yOf(lane, p.min);
            // Each column reaches over to its neighbour, so that a steep stretch shows no gaps.
            const int from = lastTop < 0 ? top : std::min(top, lastBottom + 1);
            const int to = lastTop < 0 ? bottom : std::max(bottom, lastTop - 1);
            fill(c, from, to, peak);
            // The RMS level either side of the centre, darker, within the peaks.
            const auto r = std::int16_t(std::min(32767.0f, peaks.rmsAt(c, lane)));
            fill(c, std::max(top, yOf(lane, r)), std::min(bottom, yOf(lane, std::int16_t(-r))),
                 rms);
            lastTop = top;
            lastBottom = bottom;
        }
    }
}

void WaveformView::drawSamples() {
    // Zoomed in past a frame per pixel: every sample is a point on a line, with a dot when there
    // is room for one. One frame either side of the range carries the line to the edges.
    const auto from = std::max<qint64>(0, qint64(std::floor(first_)) - 1);
    const int count = int(std::ceil(wave_.width() * fpp_)) + 3;
    const PeakColumns s = cache_->peaks(path_, double(from), 1.0, count);
    QPainter p(&wave_);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = rmsInk();
    p.setPen(QPen(ink, 1));
    const bool dots = 1 / fpp_ >= 4;
    for (int lane = 0; lane < s.channels; ++lane) {
        QPolygonF line;
        line.reserve(s.columns);
        for (int c = 0; c < s.columns; ++c)
            line << QPointF(xOf(double(from + c) + 0.5), yOf(lane, s.at(c, lane).max));
        p.drawPolyline(line);
        if (dots) {
            p.setBrush(ink);
            for (const QPointF& pt : line)
                p.drawEllipse(pt, 2, 2);
        }
    }
}

void WaveformView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect area = waveArea();
    const QRect dirty = event->rect() & area;
    if (!song_) {
        p.fillRect(area | rulerArea(), palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Text));
        p.drawText(area.adjusted(4, 0, -4, 0), Qt::AlignCenter | Qt::TextWordWrap, message());
        return;
    }
    if (event->rect().intersects(rulerArea()))
        drawRuler(p);
    if (!waveValid_)
        renderWave();
    p.drawImage(dirty, wave_, dirty);
    if (markIn_ >= 0 && markOut_ >= 0 && markIn_ < markOut_) {
        QColor shade = palette().color(QPalette::Highlight);
        shade.setAlpha(70);
        const QRect sel(QPoint(pixelOf(markIn_), 0), QPoint(pixelOf(markOut_) - 1, area.bottom()));
        p.fillRect(sel & dirty, shade);
    }
    // The handles: a line with a flag on top that points into the selection.
    const auto handle = [&](qint64 ms, const QColor& colour, int towards) {
        if (ms < 0 || !markStrip(ms).intersects(dirty))
            return;
        const int x = pixelOf(ms);
        p.fillRect(QRect(x, 0, 1, area.height()), colour);
        const QPoint flag[] = {
            {x, 0}, {x + towards * kGripWidth, kGripHeight / 2}, {x, kGripHeight}};
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawPolygon(flag, 3);
    };
    handle(markIn_, QColor(0, 140, 60), +1);
    handle(markOut_, QColor(200, 40, 40), -1);
    if (playMs_ >= 0) {
        const int x = pixelOf(playMs_);
        p.fillRect(QRect(x, 0, 1, area.height()) & dirty, QColor(255, 140, 0));
    }
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    if (!song_) {
        event->ignore();
        return;
    }
    const QPoint delta = event->angleDelta();
    const bool pan = (event->modifiers() & Qt::ShiftModifier) || delta.x() != 0;
    if (pan) {
        // A notch moves a tenth of the view; some systems turn Shift+wheel into a sideways turn.
        const int notches = delta.x() != 0 ? delta.x() : delta.y();
        setRange(first_ - notches / 120.0 * width() / 10.0 * fpp_, fpp_);
    } else {
        // The frame under the pointer stays under it.
        const double x = event->position().x();
        const double anchor = first_ + x * fpp_;
        const double fpp = std::clamp(fpp_ * std::pow(kZoomPerNotch, -delta.y() / 120.0),
                                      1 / kMaxPixelsPerFrame, maxFramesPerPixel());
        setRange(anchor - x * fpp, fpp);
    }
    event->accept();
}

WaveformView::Drag WaveformView::handleAt(double x) const {
    if (!song_ || markIn_ < 0 || markOut_ < 0)
        return Drag::None;
    const double in = pixelOf(markIn_);
    const double out = pixelOf(markOut_);
    const double dIn = std::abs(x - in), dOut = std::abs(x - out);
    if (dIn > kHandleReach && dOut > kHandleReach)
        return Drag::None;
    if (in == out)
        return Drag::Either; // the first move tells which
    return dIn < dOut ? Drag::In : Drag::Out;
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (!song_ || event->button() != Qt::LeftButton ||
        !waveArea().contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressX_ = event->position().x();
    drag_ = handleAt(pressX_);
    if (drag_ == Drag::None)
        emit seekRequested(msOfFrame(frameAt(pressX_)));
}

void WaveformView::dragTo(double x) {
    if (drag_ == Drag::Either) {
        if (x == pressX_)
            return;
        drag_ = x < pressX_ ? Drag::In : Drag::Out;
    }
    // A mark does not pass the other one.
    const qint64 ms = msOfFrame(frameAt(x));
    if (drag_ == Drag::In) {
        const qint64 in = std::min(ms, markOut_);
        if (in != markIn_)
            emit markInMoved(in);
    } else {
        const qint64 out = std::max(ms, markIn_);
        if (out != markOut_)
            emit markOutMoved(out);
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (drag_ != Drag::None) {
        dragTo(x);
        return;
    }
    setCursor(handleAt(x) != Drag::None ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ != Drag::None && event->button() == Qt::LeftButton)
        drag_ = Drag::None;
    QWidget::mouseReleaseEvent(event);
}

} // namespace quaverly
