#pragma once
// Small helpers for building panels. Every control carries its name as its objectName, so that
// tests and tools find it with findChild; layouts given in twips (15 twips = 1 pixel) keep the
// numbers of the original layout readable.
//
// Threads: UI thread only.

#include <QCoreApplication>
#include <QList>
#include <QPushButton>
#include <QRect>
#include <QString>

#include <initializer_list>
#include <type_traits>
#include <utility>

namespace quaverly {

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

constexpr int px(int twips) {
    return twips / 15;
}

inline QRect twips(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// A named push button with its caption at r.
inline QPushButton* button(QWidget* parent, const char* name, const QString& caption,
                           const QRect& r) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setGeometry(r);
    return b;
}

// Tab moves through `controls` in the order given.
inline void chainTabOrder(const QList<QWidget*>& controls) {
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

// Each button's click calls its handler on `receiver`.
template <typename Receiver>
void connectClicks(
    Receiver* receiver,
    std::initializer_list<std::pair<QAbstractButton*, void (std::type_identity_t<Receiver>::*)()>>
        clicks) {
    for (const auto& [clicked, handler] : clicks)
        QObject::connect(clicked, &QAbstractButton::clicked, receiver, handler);
}

// A control and the name a screen reader gives it, untranslated.
struct AccessibleName {
    QWidget* control;
    const char* name;
};

// Gives each control its name, translated as the panel's own texts are (`context`: its class).
inline void setAccessibleNames(const char* context, std::initializer_list<AccessibleName> names) {
    for (const AccessibleName& n : names)
        n.control->setAccessibleName(QCoreApplication::translate(context, n.name));
}

} // namespace quaverly
