#pragma once
// Draws a song list row: the song's text (the item's own, which the rest of the program reads;
// a long one shortened in its middle), its length and format right-aligned beside it, dimmed, and a
// mark for the song the list player plays (bold, a play sign) and the song the clip editor shows (a
// pen). What it draws comes from the item's roles (AudioEditPanel::kLengthRole and the next ones);
// colours from the palette.
//
// Threads: UI thread only.

#include <QIcon>
#include <QStyledItemDelegate>

namespace quaverly {

class SongItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit SongItemDelegate(QObject* parent = nullptr);

    // "3:25  MP3": what the row shows right-aligned; empty for a row without a length.
    static QString detailText(const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QIcon playing_;
    QIcon edited_;
};

} // namespace quaverly
