// The window on a screen smaller than its layout (this test runs at QT_SCALE_FACTOR=2, which
// halves the offscreen platform's 800 x 600 screen): it asks for no more than the screen has,
// and the panels scroll to what does not fit.
#include "app/Frmmain.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/Waits.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>

using namespace quaverly;

namespace {

class SmallScreen : public test::AppFixture {
protected:
    ScriptedDialogs dialogs;
};

TEST_F(SmallScreen, TheWindowFitsAndThePanelsScrollToTheOutputAndTheSaves) {
    const QSize room = QGuiApplication::primaryScreen()->availableSize();
    ASSERT_FALSE(room.width() >= Frmmain::kClientWidth && room.height() >= Frmmain::kClientHeight)
        << "the screen holds the whole layout";
    // Also a size kept from a larger screen.
    writeFile(configBase + "/velmarise/window.ini", "[window]\nsize=@Size(1200 900)\n");
    Frmmain w(dialogs);
    w.show();
    EXPECT_EQ(w.minimumSize().boundedTo(room), w.minimumSize());
    EXPECT_EQ(w.size().boundedTo(room), w.size());

    auto* area = w.findChild<QScrollArea*>(QStringLiteral("panelArea"));
    ASSERT_NE(area, nullptr);
    const AudioEditPanel& panel = *w.songListPanel;
    for (QWidget* c :
         {static_cast<QWidget*>(panel.outputFrame), static_cast<QWidget*>(panel.CmdSaveWav),
          static_cast<QWidget*>(panel.CmdSaveList)}) {
        area->ensureWidgetVisible(c, 0, 0);
        ASSERT_TRUE(test::roundTrip());
        const QRect shown(c->mapTo(area->viewport(), QPoint()), c->size());
        EXPECT_TRUE(area->viewport()->rect().contains(shown))
            << c->objectName().toStdString() << " at " << shown.x() << "," << shown.y();
    }
}

} // namespace
