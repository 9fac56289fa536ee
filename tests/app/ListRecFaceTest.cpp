// What the song list shows: each song's length and format, the marks of the song playing and the
// song edited, texts that fit, accessible names and tab order.
#include "app/WindowFixture.h"
#include "engines/decode/SongReader.h"
#include "engines/util/FrameTime.h"
#include "songlist/SongItemDelegate.h"
#include "songlist/WorkingCopy.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QLabel>
#include <QTest>

using namespace quaverly;
using namespace quaverly::test;

namespace {

class ListRecFace : public WindowFixture {
protected:
    QVariant role(int row, int r) const { return list->item(row)->data(r); }
    bool marked(int row, int r) const { return role(row, r).toBool(); }
};

TEST_F(ListRecFace, RowsShowLengthAndFormatAndMarkTheSongPlayingAndTheSongEdited) {
    const QString mp3 = QStringLiteral(QUAVERLY_TEST_DATA "/real/mp3/edge/cbr.mp3");
    const QString wav = path("long.wav");
    ASSERT_TRUE(writeWav16(wav, 1, 8000, staircase(8000 * 30, 1, 0))); // 30 s
    const auto mp3Song = SongReader::open(mp3);
    ASSERT_TRUE(mp3Song);
    const struct {
        QString file;
        quint64 ms;
        const char* format;
    } songs[] = {
        {mp3, frametime::framesToMs(mp3Song->frames(), mp3Song->format().rate), "MP3"},
        {wav, 30000, "WAV"},
    };
    for (const auto& s : songs) {
        dialogs.queueFile(s.file);
        click(*w, "CmdAdd");
    }
    ASSERT_EQ(list->count(), 2);
    for (int row = 0; row < 2; ++row) {
        const auto& s = songs[row];
        EXPECT_EQ(role(row, AudioEditPanel::kLengthRole).toULongLong(), s.ms) << row;
        EXPECT_EQ(role(row, AudioEditPanel::kFormatRole).toString(), s.format) << row;
        EXPECT_TRUE(list->item(row)->toolTip().startsWith(QDir::toNativeSeparators(s.file)));
        EXPECT_EQ(SongItemDelegate::detailText(list->model()->index(row, 0)),
                  listLengthText(s.ms) + "  " + s.format);
    }
    EXPECT_EQ(SongItemDelegate::detailText(list->model()->index(1, 0)), "0:30  WAV");

    // Playing the long song marks its row, and only its.
    list->setCurrentRow(1);
    w->listPlayer->Timer1_Timer();
    click(*w, "CmdPlay");
    QTRY_VERIFY_WITH_TIMEOUT(marked(1, AudioEditPanel::kPlayingRole), 5000);
    EXPECT_FALSE(marked(0, AudioEditPanel::kPlayingRole));
    EXPECT_TRUE(role(1, Qt::AccessibleTextRole).toString().endsWith(", playing"));

    // The editor takes the first song: the list player stops, the pen goes to that row.
    list->setCurrentRow(0);
    emit list->itemDoubleClicked(list->item(0));
    QTRY_VERIFY_WITH_TIMEOUT(marked(0, AudioEditPanel::kEditedRole), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!marked(1, AudioEditPanel::kPlayingRole), 5000);
    EXPECT_FALSE(marked(1, AudioEditPanel::kEditedRole));

    // "Done" cuts it: the row's length follows, and the pen stays while the editor shows it.
    w->MarkIn = 0;
    w->MarkOut = 200;
    click(*w, "CmdEditDone");
    QTRY_COMPARE_WITH_TIMEOUT(role(0, AudioEditPanel::kLengthRole).toULongLong(), quint64(200),
                              5000);
    EXPECT_TRUE(marked(0, AudioEditPanel::kEditedRole));
}

TEST_F(ListRecFace, LongTextsFitTheirLabelsAtTheFirstSize) {
    ASSERT_EQ(w->size(), QSize(719, 476));
    const struct {
        QLabel* label;
        QString text;
    } cases[] = {
        {w->Framewav->lblListHint, w->Framewav->lblListHint->text()},
    };
    for (const auto& c : cases) {
        const QRect room = c.label->contentsRect().adjusted(c.label->margin(), c.label->margin(),
                                                            -c.label->margin(), -c.label->margin());
        const QRect needed = c.label->fontMetrics().boundingRect(room, Qt::TextWordWrap, c.text);
        EXPECT_LE(needed.width(), room.width()) << qPrintable(c.text);
        EXPECT_LE(needed.height(), room.height()) << qPrintable(c.text);
    }
}

TEST_F(ListRecFace, EveryControlHasAnAccessibleNameAndTabGoesInReadingOrder) {
    const struct {
        QWidget* panel;
        QStringList order; // a part of the tab chain, in order
    } panels[] = {
        {w->Framewav,
         {"List1", "CmdUP", "CmdDown", "CmdAdd", "Cmdremove", "CmdIns", "Check1", "CmdFoward",
          "CmdPause", "CmdPlay", "CmdStop", "CmdNext", "CboPreset", "CboFormat", "CboSetting",
          "CmdSaveWav", "CmdSaveList"}},
    };
    QWidget* editor = w->findChild<QWidget*>(QStringLiteral("Frame3"));
    for (const auto& p : panels) {
        for (QWidget* c : p.panel->findChildren<QWidget*>()) {
            if (c->focusPolicy() == Qt::NoFocus || (editor && editor->isAncestorOf(c)))
                continue;
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QAbstractSlider*>(c) ||
                qobject_cast<QComboBox*>(c) || qobject_cast<QListWidget*>(c)) {
                EXPECT_FALSE(c->accessibleName().isEmpty()) << qPrintable(c->objectName());
            }
        }
        QStringList seen;
        QWidget* at = p.panel->findChild<QWidget*>(p.order.first());
        for (int i = 0; i < 200 && seen.size() < p.order.size(); ++i, at = at->nextInFocusChain()) {
            if (p.order.contains(at->objectName()) && !seen.contains(at->objectName()))
                seen << at->objectName();
        }
        EXPECT_EQ(seen, p.order);
    }
}

} // namespace
