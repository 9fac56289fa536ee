#include "songlist/SongItemDelegate.h"

#include "songlist/AudioEditPanel.h"
#include "songlist/WorkingCopy.h"
#include "ui/Icons.h"
#include "ui/ThemeColours.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace quaverly {

namespace {
constexpr int kGap = 6; // between the song's text and its length
} // namespace

SongItemDelegate::SongItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent), playing_(appIcon(u":/songlist/play")),
      edited_(appIcon(u":/songlist/pen")) {}

QString SongItemDelegate::detailText(const QModelIndex& index) {
    const QVariant length = index.data(AudioEditPanel::kLengthRole);
    if (!length.isValid())
        return QString();
    const QString format = index.data(AudioEditPanel::kFormatRole).toString();
    const QString time = listLengthText(length.toULongLong());
    return format.isEmpty() ? time : time + QStringLiteral("  ") + format;
}

void SongItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const bool playing = index.data(AudioEditPanel::kPlayingRole).toBool();
    const bool edited = index.data(AudioEditPanel::kEditedRole).toBool();
    if (playing)
        option->font.setBold(true);
    // Every row keeps the mark's room, so that the songs' names stay in line.
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
    option->icon = playing ? playing_ : edited ? edited_ : QIcon();
}

QSize SongItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    // As wide as the list shows it: a long text is cut short in the row, never scrolled to.
    const QSize hint = QStyledItemDelegate::sizeHint(option, index);
    return {0, std::max(hint.height(), 20)};
}

void SongItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QString detail = detailText(index);
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QFontMetrics detailMetrics(option.font);
    const int detailWidth = detail.isEmpty() ? 0 : detailMetrics.horizontalAdvance(detail) + kGap;
    // The song's text gives way to the detail: its middle gives way to "…", so that the start
    // and the end of a long name stay (the tool tip holds it whole).
    const QFontMetrics textMetrics(opt.font);
    opt.text = textMetrics.elidedText(opt.text, Qt::ElideMiddle,
                                      std::max(0, textRect.width() - detailWidth - 4));
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (detail.isEmpty())
        return;
    painter->save();
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    QPalette palette = opt.palette;
    if (!opt.state.testFlag(QStyle::State_Enabled))
        palette.setCurrentColorGroup(QPalette::Disabled);
    else if (!opt.state.testFlag(QStyle::State_Active))
        palette.setCurrentColorGroup(QPalette::Inactive);
    // Dimmer than the song's text, yet readable on the row.
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : dimmedText(palette, QPalette::Text, QPalette::Base));
    painter->setFont(option.font);
    painter->drawText(textRect.adjusted(0, 0, -2, 0), Qt::AlignRight | Qt::AlignVCenter, detail);
    painter->restore();
}

} // namespace quaverly
