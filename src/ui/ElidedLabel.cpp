#include "ui/ElidedLabel.h"

#include <QPainter>

#include <algorithm>

namespace quaverly {

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    setAccessibleDescription(text);
    elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    if (!text().isEmpty()) {
        // Behind the words and a few pixels either side, as the styles leave around a title.
        const QRect words = contentsRect();
        const int pad = fontMetrics().horizontalAdvance(QLatin1Char(' ')) / 2 + 1;
        QPainter(this).fillRect(words.left() - pad, 0,
                                fontMetrics().horizontalAdvance(text()) + 2 * pad, height(),
                                palette().window());
    }
    QLabel::paintEvent(event);
}

void ElidedLabel::elide() {
    setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, contentsRect().width())));
}

} // namespace quaverly
