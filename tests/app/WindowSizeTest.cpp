// The window's size: the least one at first, kept across runs in window.ini beside the
// settings, and what grows with it.
#include "app/Frmmain.h"
#include "support/AppFixture.h"
#include "support/DrawnTexts.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/Waits.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QScreen>

using namespace quaverly;

namespace {

class WindowSize : public test::AppFixture {
protected:
    std::unique_ptr<Frmmain> start() {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        return w;
    }
    QString windowIni() const { return configBase + "/velmarise/window.ini"; }
    ScriptedDialogs dialogs;
};

TEST_F(WindowSize, IsKeptAcrossRunsWithTheMaximisedState) {
    {
        auto w = start();
        EXPECT_EQ(w->minimumSize(), QSize(719, 476));
        w->resize(790, 560);
        w->close();
    }
    EXPECT_TRUE(QFileInfo::exists(windowIni()));
    EXPECT_FALSE(QFileInfo::exists(configFile)) << "the settings file is only for the settings";
    {
        auto w = start();
        EXPECT_EQ(w->size(), QSize(790, 560));
        w->setWindowState(Qt::WindowMaximized);
        w->close();
    }
    auto w = start();
    EXPECT_TRUE(w->isMaximized());
    w->showNormal();
    EXPECT_EQ(w->size(), QSize(790, 560));
}

TEST_F(WindowSize, AKeptSizeStaysBetweenTheLeastSizeAndTheScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    const struct {
        const char* ini;
        QSize size;
    } cases[] = {{"[window]\nsize=@Size(500 300)\n", QSize(719, 476)},
                 {"[window]\nsize=@Size(5000 4000)\n", screen.expandedTo(QSize(719, 476))},
                 {"\x01\x02garbage", QSize(719, 476)}};
    for (const auto& c : cases) {
        writeFile(windowIni(), c.ini);
        EXPECT_EQ(start()->size(), c.size) << c.ini;
    }
}

TEST_F(WindowSize, TheAudioEditPanelAndTheEditorsFrameGrowWithTheWindow) {
    auto w = start();
    w->editorFrame->setVisible(true);
    const auto fitsItsText = [](const QWidget* c) {
        QString text;
        int extra = 0;
        if (auto* b = qobject_cast<const QAbstractButton*>(c))
            text = b->text(), extra = qobject_cast<const QCheckBox*>(c) ? 16 : 4;
        else if (auto* l = qobject_cast<const QLabel*>(c); l && !l->wordWrap())
            text = l->text();
        return c->width() >= c->fontMetrics().horizontalAdvance(text) + extra;
    };
    // At the least size every control of the editor shows whole, inside the frame.
    for (QWidget* c : w->editorFrame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(w->editorFrame->rect().contains(c->geometry()))
            << c->objectName().toStdString();
        EXPECT_TRUE(fitsItsText(c)) << c->objectName().toStdString();
    }
    EXPECT_GE(w->editorFrame->waveHost->height(), EditSongFrame::kWaveMinHeight);

    QWidget* const grown[] = {w->songListPanel, w->editorFrame, w->editorFrame->waveHost,
                              w->songListPanel->List1};
    QList<QSize> before;
    for (QWidget* g : grown)
        before << g->size();
    const QRect rec = w->recorderPanel->geometry();
    w->resize(719 + 70, 476 + 80);
    EXPECT_EQ(w->songListPanel->size(), before[0] + QSize(70, 80));
    // The list and the editor's column share the width gained, the column the larger part.
    const QSize list = w->songListPanel->List1->size() - before[3];
    const QSize editor = w->editorFrame->size() - before[1];
    EXPECT_EQ(list.width() + editor.width(), 70);
    EXPECT_GT(list.width(), 0);
    EXPECT_GT(editor.width(), list.width());
    EXPECT_EQ(std::pair(list.height(), editor.height()), std::pair(80, 80));
    EXPECT_EQ(w->editorFrame->waveHost->size(), before[2] + editor);
    // The bit rate and the saves keep to the bottom, the saves to the right; the recorder
    // panel keeps its size, centred.
    const QWidget* saves = w->songListPanel->CmdSaveList;
    const QWidget* keep = w->songListPanel->chkKeepSound;
    EXPECT_EQ(keep->geometry().bottom(), w->songListPanel->height() - 11);
    EXPECT_EQ(w->songListPanel->outputFrame->geometry().bottom() + 1, keep->y());
    EXPECT_EQ(saves->geometry().right(), w->editorFrame->geometry().right());
    EXPECT_GT(w->songListPanel->outputFrame->y(), w->editorFrame->geometry().bottom());
    EXPECT_EQ(w->recorderPanel->geometry(), rec.translated(35, 0));
}

TEST_F(WindowSize, TheListWidensAndShortensALongNameInTheMiddle) {
    const QString name =
        QStringLiteral("The beginning of a song's name that goes on and on well past "
                       "what any list shows whole and then its very end");
    ASSERT_TRUE(test::writeWav16(path(name + ".wav"), 1, 8000, test::staircase(8000, 1)));
    auto w = start();
    w->songList->addFiles({path(name + ".wav")});
    ASSERT_TRUE(jobsSettled(*w));
    const AudioEditPanel& panel = *w->songListPanel;
    ASSERT_EQ(panel.List1->count(), 1);
    EXPECT_TRUE(panel.List1->item(0)->toolTip().startsWith(name + "\n"));
    const int least = panel.List1->width();

    w->resize(1200, 760);
    ASSERT_TRUE(test::eventsUntil([&] { return panel.List1->width() > least; }, 5000));
    EXPECT_GE(panel.List1->width(), least + 150);
    // Its arrows keep beside it, its buttons under it, the hint as wide as both.
    const QRect list = panel.List1->geometry();
    EXPECT_GT(panel.CmdUP->x(), list.right());
    EXPECT_LE(panel.CmdIns->geometry().right(), list.right());
    EXPECT_GT(panel.CmdIns->geometry().right(), list.right() - 12);
    EXPECT_GE(panel.lblListHint->width(), list.width());
    EXPECT_LT(list.right(), w->editorFrame->x());

    // The row shows the name's start and end around "…", the tool tip the whole name.
    QStringList shown;
    for (const test::DrawnText& t : test::drawnTexts(*panel.List1))
        shown << t.text;
    const auto elided =
        std::find_if(shown.begin(), shown.end(), [](const QString& t) { return t.contains(u'…'); });
    ASSERT_NE(elided, shown.end()) << shown.join(" | ").toStdString();
    EXPECT_TRUE(elided->startsWith(name.left(12))) << elided->toStdString();
    EXPECT_TRUE(elided->endsWith(name.right(12))) << elided->toStdString();
}

} // namespace
