// What a new user meets first: convert buttons offered only when they can act, a typed target
// replaced only on the user's word, a name for every control, texts that fit at the first size.
#include "app/Frmmain.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QScrollBar>
#include <QSignalSpy>

#include <algorithm>

using namespace quaverly;

namespace {

class AppFace : public test::AppFixture {
protected:
    std::unique_ptr<Frmmain> start(const char* panel) {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        w->toolbarAction(QLatin1String(panel))->trigger();
        return w;
    }
    ScriptedDialogs dialogs;
};

// Each conversion: source box, target box, button, target name, what a success says.
struct Conversion {
    QLineEdit *source, *target;
    QPushButton* button;
    QString targetName, saved;
};
QList<Conversion> conversions(ConvertPanel& p) {
    return {{p.txtWavSource, p.txtsavewav, p.CmdconvertWav, "out.wav",
             "Convert Finish: out.wav is saved."},
            {p.txtEncodeSource, p.txtEncodeTarget, p.CmdConvertMP3, "out.mp3",
             "Finish Save: out.mp3 is saved."}};
}

TEST_F(AppFace, EachConvertButtonIsOfferedOnlyWithBothItsNamesAndATypedTargetReplacedOnYes) {
    const QString source = path("stairs.wav");
    ASSERT_TRUE(test::writeWav16(source, 2, 8000, test::staircase(800, 2)));
    for (const bool yes : {false, true}) {
        auto w = start("Convert");
        for (const Conversion& c : conversions(*w->convertPanel)) {
            EXPECT_FALSE(c.button->isEnabled());
            c.source->setText(source);
            EXPECT_FALSE(c.button->isEnabled());
            const QString target = path(c.targetName);
            c.target->setText(target);
            EXPECT_TRUE(c.button->isEnabled());

            writeFile(target, "earlier");
            dialogs.clear();
            dialogs.queueQuestion(yes);
            QSignalSpy encoded(&w->encodings(), &Encodings::finished);
            c.button->click();
            ASSERT_TRUE(jobsSettled(*w));
            if (yes && c.target == w->convertPanel->txtEncodeTarget) {
                ASSERT_TRUE(!encoded.isEmpty() || encoded.wait(60000));
            }
            EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::Question).value(0).text,
                      QDir::toNativeSeparators(target) + " already exists. Replace it?");
            EXPECT_EQ(readFile(target) == "earlier", !yes) << qPrintable(target);
            EXPECT_EQ(dialogs.messageTexts(), yes ? QStringList{c.saved} : QStringList());
        }
    }
}

TEST_F(AppFace, EveryVisibleControlOfEveryPanelHasAnAccessibleName) {
    auto w = start("Wav");
    int checked = 0;
    for (const char* key : {"Wav", "Rec", "Convert", "Setting", "Help"}) {
        w->toolbarAction(QLatin1String(key))->trigger();
        for (QWidget* c : w->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                                 qobject_cast<QComboBox*>(c) || qobject_cast<QAbstractSlider*>(c) ||
                                 qobject_cast<QAbstractItemView*>(c) ||
                                 qobject_cast<QAbstractSpinBox*>(c);
            // A scroll bar is its view's own, named by the view.
            if (!control || qobject_cast<QScrollBar*>(c) || !c->isVisible())
                continue;
            ++checked;
            EXPECT_FALSE(c->accessibleName().isEmpty())
                << key << ": " << qPrintable(c->objectName());
        }
    }
    // The toolbar on each panel and the controls of the list, recorder, convert and settings
    // panels (the editor's are checked with the editor open, in its own test).
    EXPECT_GE(checked, 60);
}

TEST_F(AppFace, NoTextIsCutOffAtTheFirstSize) {
    auto w = start("Wav");
    ASSERT_EQ(w->size(), QSize(719, 476));
    // The longest texts the busy window shows.
    w->busyWindow().showJob(QStringLiteral("Saving the list to WAV"), [] {});
    w->busyWindow().setProgress(500, QStringLiteral("About 59 min left"));
    const std::pair<const char*, QWidget*> panels[] = {{"Convert", w->convertPanel},
                                                       {"Setting", w->settingsPanel},
                                                       {"Help", w->aboutPanel},
                                                       {"Help", &w->busyWindow().window()}};
    for (const auto& [key, panel] : panels) {
        w->toolbarAction(QLatin1String(key))->trigger();
        for (const QLabel* l : panel->findChildren<QLabel*>()) {
            if (!l->isVisible() || !l->pixmap().isNull())
                continue;
            // Each line as wide as the label, all lines (or the wrapped text) as high.
            const QStringList lines = l->text().split(QLatin1Char('\n'));
            int widest = 0;
            for (const QString& line : lines)
                widest = std::max(widest, l->fontMetrics().horizontalAdvance(line));
            const int high = l->wordWrap() ? l->heightForWidth(l->width())
                                           : int(lines.size()) * l->fontMetrics().lineSpacing();
            EXPECT_LE(l->wordWrap() ? 0 : widest, l->contentsRect().width())
                << qPrintable(l->text());
            EXPECT_LE(high, l->contentsRect().height() + 2) << qPrintable(l->text());
        }
    }
    w->busyWindow().hide();
}

} // namespace
