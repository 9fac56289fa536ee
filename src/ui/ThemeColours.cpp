#include "ui/ThemeColours.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>

#include <cmath>

namespace quaverly {

namespace {

// WCAG's relative luminance of an opaque colour.
double luminance(const QColor& c) {
    const auto linear = [](float v) {
        return v <= 0.04045f ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// `a` moved the fraction t of the way to `b`, opaque.
QColor mix(const QColor& a, const QColor& b, double t) {
    const auto at = [t](float x, float y) { return float(x + (y - x) * t); };
    return QColor::fromRgbF(at(a.redF(), b.redF()), at(a.greenF(), b.greenF()),
                            at(a.blueF(), b.blueF()));
}

// `ink` laid over the opaque `paper` as its alpha says.
QColor over(const QColor& ink, const QColor& paper) {
    return ink.alpha() == 255 ? ink : mix(paper, ink, ink.alphaF());
}

// Sets `role` of `group` to `colour` only when it differs, so that a palette that reads already
// gains no explicitly set roles.
void put(QPalette& palette, QPalette::ColorGroup group, QPalette::ColorRole role,
         const QColor& colour) {
    if (palette.color(group, role) != colour)
        palette.setColor(group, role, colour);
}

// Mends the application's palette whenever it changes; one for the program.
class PaletteMender final : public QObject {
public:
    using QObject::QObject;

    void mend() {
        mending_ = true;
        const QPalette now = QGuiApplication::palette();
        const QPalette mended = readablePalette(now);
        if (!(mended == now))
            QApplication::setPalette(mended);
        mending_ = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ApplicationPaletteChange && watched == qApp && !mending_)
            mend();
        return false;
    }

private:
    bool mending_ = false;
};

// Keeps one label's text dimmed, taken anew from the application's palette when that changes.
class TextDimmer final : public QObject {
public:
    explicit TextDimmer(QLabel* label) : QObject(label), label_(label) {
        label->installEventFilter(this);
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::ApplicationPaletteChange)
            apply();
        return false;
    }

private:
    void apply() {
        const QPalette base = QApplication::palette(label_);
        QPalette own = label_->palette();
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            QPalette inGroup = base;
            inGroup.setCurrentColorGroup(group);
            own.setColor(group, QPalette::WindowText, dimmedText(inGroup));
        }
        own.setColor(QPalette::Disabled, QPalette::WindowText,
                     base.color(QPalette::Disabled, QPalette::WindowText));
        label_->setPalette(own);
    }

    QLabel* label_;
};

} // namespace

double contrastRatio(const QColor& ink, const QColor& paper) {
    const double a = luminance(over(ink, paper)), b = luminance(paper);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor readableOn(const QColor& ink, const QColor& paper, const QColor& strong) {
    if (contrastRatio(ink, paper) >= kReadableContrast)
        return ink;
    const QColor from = over(ink, paper), to = over(strong, paper);
    if (contrastRatio(to, paper) < kReadableContrast)
        return to;
    // The least step towards `strong` that reads, to within 1/4096 of the way.
    double low = 0, high = 1;
    for (int i = 0; i < 12; ++i) {
        const double t = (low + high) / 2;
        (contrastRatio(mix(from, to, t), paper) >= kReadableContrast ? high : low) = t;
    }
    return mix(from, to, high);
}

QColor dimmedText(const QPalette& palette, QPalette::ColorRole text, QPalette::ColorRole paper) {
    const QColor ink = palette.color(text), background = palette.color(paper);
    return readableOn(mix(over(ink, background), background, 1.0 / 3), background, ink);
}

QColor alertText(const QPalette& palette, QPalette::ColorRole text, QPalette::ColorRole paper) {
    return readableOn(QColor(0xc6, 0x28, 0x28), palette.color(paper), palette.color(text));
}

QPalette readablePalette(QPalette palette) {
    // The colours a text role is drawn on. A style shades a button's face a little around the
    // Button role (Fusion lightens a dark one by up to two fifths at its top).
    const auto papers = [&](QPalette::ColorGroup group, QPalette::ColorRole paper) {
        const QColor c = palette.color(group, paper);
        return paper == QPalette::Button ? QList<QColor>{c, c.lighter(150), c.darker(115)}
                                         : QList<QColor>{c};
    };
    const auto mended = [&](QColor ink, QPalette::ColorGroup group, QPalette::ColorRole paper,
                            QPalette::ColorRole strong) {
        for (const QColor& c : papers(group, paper))
            ink = readableOn(ink, c, palette.color(QPalette::Active, strong));
        return ink;
    };
    // The placeholder text is drawn in the fields (Base) and on a combo box (Button).
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QColor placeholder = palette.color(group, QPalette::PlaceholderText);
        placeholder = mended(placeholder, group, QPalette::Base, QPalette::Text);
        placeholder = mended(placeholder, group, QPalette::Button, QPalette::ButtonText);
        put(palette, group, QPalette::PlaceholderText, placeholder);
    }
    const struct {
        QPalette::ColorRole text, paper;
    } pairs[] = {{QPalette::WindowText, QPalette::Window},
                 {QPalette::Text, QPalette::Base},
                 {QPalette::ButtonText, QPalette::Button}};
    for (const auto group : {QPalette::Inactive, QPalette::Disabled})
        for (const auto& p : pairs)
            put(palette, group, p.text,
                mended(palette.color(group, p.text), group, p.paper, p.text));
    return palette;
}

void keepPaletteReadable() {
    static QPointer<PaletteMender> mender;
    if (!mender) {
        mender = new PaletteMender(qApp);
        qApp->installEventFilter(mender);
    }
    mender->mend();
}

void dimText(QLabel* label) {
    new TextDimmer(label);
}

QPalette darkDesktopPalette() {
    const struct {
        QPalette::ColorRole role;
        QRgb normal;
        QRgb disabled;
    } roles[] = {
        {QPalette::Window, 0x202326, 0x292c30},
        {QPalette::WindowText, 0xfcfcfc, 0x525860},
        {QPalette::Base, 0x1b1e20, 0x292c30},
        {QPalette::AlternateBase, 0x1d1f22, 0x1d1f22},
        {QPalette::Text, 0xfcfcfc, 0x525860},
        {QPalette::Button, 0x292c30, 0x292c30},
        {QPalette::ButtonText, 0xfcfcfc, 0x525860},
        {QPalette::BrightText, 0xffffff, 0xffffff},
        {QPalette::Light, 0x151618, 0x151618},
        {QPalette::Midlight, 0x1f2124, 0x1f2124},
        {QPalette::Mid, 0x373b40, 0x373b40},
        {QPalette::Dark, 0x525860, 0x525860},
        {QPalette::Shadow, 0x767676, 0xb1b1b1},
        {QPalette::Highlight, 0x3daee9, 0x373b40},
        {QPalette::HighlightedText, 0xfcfcfc, 0x1f2124},
        {QPalette::Link, 0x1d99f3, 0x1d99f3},
        {QPalette::LinkVisited, 0x9b59b6, 0x9b59b6},
        {QPalette::ToolTipBase, 0x292c30, 0x292c30},
        {QPalette::ToolTipText, 0xfcfcfc, 0xfcfcfc},
    };
    QPalette p;
    for (const auto& r : roles) {
        p.setColor(r.role, QColor(r.normal));
        p.setColor(QPalette::Disabled, r.role, QColor(r.disabled));
    }
    // As the desktop leaves it: Qt's default, black at half strength.
    p.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    return p;
}

} // namespace quaverly
