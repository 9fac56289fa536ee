#pragma once
// A one-line label that shows as much of its text as fits, ending in "…" when it does not; the
// whole text is its tool tip and its accessible description. The text is drawn on the window's
// colour, so that it can carry on a group box's title: the Windows styles draw the title on the
// box's top line, which would otherwise strike the words through.
//
// Threads: UI thread only.

#include <QLabel>

namespace quaverly {

class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void elide();

    QString full_;
};

} // namespace quaverly
