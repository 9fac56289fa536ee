// The window's size: the least one at first, kept across runs in window.ini beside the
// settings, and what grows with it.
#include "app/Frmmain.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"

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
    w->frameEditSong->setVisible(true);
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
    for (QWidget* c : w->frameEditSong->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(w->frameEditSong->rect().contains(c->geometry()))
            << c->objectName().toStdString();
        EXPECT_TRUE(fitsItsText(c)) << c->objectName().toStdString();
    }
    EXPECT_GE(w->frameEditSong->waveHost->height(), EditSongFrame::kWaveMinHeight);

    QWidget* const grown[] = {w->Framewav, w->frameEditSong, w->frameEditSong->waveHost,
                              w->Framewav->List1};
    QList<QSize> before;
    for (QWidget* g : grown)
        before << g->size();
    const QRect rec = w->FrameRec->geometry();
    w->resize(719 + 70, 476 + 80);
    EXPECT_EQ(w->Framewav->size(), before[0] + QSize(70, 80));
    EXPECT_EQ(w->frameEditSong->size(), before[1] + QSize(70, 80));
    EXPECT_EQ(w->frameEditSong->waveHost->size(), before[2] + QSize(70, 80));
    EXPECT_EQ(w->Framewav->List1->size(), before[3] + QSize(0, 80));
    // The bit rate and the saves keep to the bottom, the saves to the right; the recorder
    // panel keeps its size, centred.
    const QWidget* saves = w->Framewav->CmdSaveList;
    EXPECT_EQ(w->Framewav->frameBitRate->geometry().bottom(), w->Framewav->height() - 11);
    EXPECT_EQ(saves->geometry().right(), w->frameEditSong->geometry().right());
    EXPECT_GT(w->Framewav->frameBitRate->y(), w->frameEditSong->geometry().bottom());
    EXPECT_EQ(w->FrameRec->geometry(), rec.translated(35, 0));
}

} // namespace
