#pragma once
// The texts a widget draws, each with its colour and where it lies: the widget and its children
// are rendered onto a paint device that records every text with the painter's pen, opacity and
// clip, and draws nothing. Whatever paints a text (a style, a delegate, a widget's own
// paintEvent) is caught alike.

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QWidget>

#include <climits>
#include <optional>
#include <vector>

namespace quaverly::test {

struct DrawnText {
    QString text;
    QColor ink; // with the painter's opacity in its alpha
    QRect rect; // where its glyphs are, within the clip
};

// Records the texts drawn, and nothing else.
class TextEngine final : public QPaintEngine {
public:
    TextEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return User; }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}

    void updateState(const QPaintEngineState& now) override {
        const DirtyFlags dirty = now.state();
        if (dirty & DirtyPen)
            pen_ = now.pen();
        if (dirty & DirtyOpacity)
            opacity_ = now.opacity();
        if (dirty & DirtyTransform)
            transform_ = now.transform();
        if (dirty & (DirtyClipRegion | DirtyClipPath)) {
            const QRect r =
                transform_
                    .mapRect(dirty & DirtyClipPath ? now.clipPath().boundingRect()
                                                   : QRectF(now.clipRegion().boundingRect()))
                    .toAlignedRect();
            const Qt::ClipOperation op = now.clipOperation();
            clip_ = op == Qt::NoClip                   ? std::optional<QRect>()
                    : op == Qt::IntersectClip && clip_ ? *clip_ & r
                                                       : r;
        }
        if (dirty & DirtyClipEnabled)
            clipOn_ = now.isClipEnabled();
    }

    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        QRect r = transform_
                      .mapRect(QRectF(p.x(), p.y() - item.ascent(), item.width(),
                                      item.ascent() + item.descent()))
                      .toAlignedRect();
        if (clipOn_ && clip_)
            r &= *clip_;
        QColor ink = pen_.color();
        ink.setAlphaF(float(ink.alphaF() * opacity_));
        if (!r.isEmpty() && !item.text().trimmed().isEmpty())
            texts.push_back({item.text(), ink, r});
    }

    std::vector<DrawnText> texts;

private:
    QPen pen_;
    double opacity_ = 1;
    QTransform transform_;
    std::optional<QRect> clip_;
    bool clipOn_ = false;
};

// The device TextEngine draws on: the widget's size and resolution.
class TextDevice final : public QPaintDevice {
public:
    explicit TextDevice(const QWidget& w) : size_(w.size()), dpi_(w.logicalDpiX()) {}
    QPaintEngine* paintEngine() const override { return &engine; }
    mutable TextEngine engine;

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth:
            return size_.width();
        case PdmHeight:
            return size_.height();
        case PdmWidthMM:
            return size_.width() * 254 / (dpi_ * 10);
        case PdmHeightMM:
            return size_.height() * 254 / (dpi_ * 10);
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default: // the resolutions
            return dpi_;
        }
    }

private:
    QSize size_;
    int dpi_;
};

// What `w` and its visible children draw now, in `w`'s coordinates.
inline std::vector<DrawnText> drawnTexts(QWidget& w) {
    TextDevice device(w);
    w.render(&device);
    return std::move(device.engine.texts);
}

} // namespace quaverly::test
