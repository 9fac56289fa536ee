// What a new user meets first on the convert, settings and About panels and the busy window:
// convert buttons that are offered only when they can act, a typed target replaced only on the
// user's word, a name for every control, and texts that fit at the window's first size.
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

using namespace quaverly;
using Kind = ScriptedDialogs::Kind;

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

// One conversion of the panel: its two boxes and its button.
struct Conversion {
    const char* name;
    QLineEdit* ConvertPanel::*source;
    QLineEdit* ConvertPanel::*target;
    QPushButton* ConvertPanel::*button;
    const char* targetName;
    const char* saved; // the message once the target is written
};
const Conversion kConversions[] = {
    {"to WAV", &ConvertPanel::txtopenmp3, &ConvertPanel::txtsavewav, &ConvertPanel::CmdconvertWav,
     "out.wav", "Convert Finish"},
    {"to MP3", &ConvertPanel::txtopenwav, &ConvertPanel::txtsavemp3, &ConvertPanel::CmdConvertMP3,
     "out.mp3", "Finish Save: out.mp3 is saved."},
};

TEST_F(AppFace, EachConvertButtonIsOfferedOnlyWithBothItsNames) {
    auto w = start("Convert");
    ConvertPanel& p = *w->FrameConvert;
    const struct {
        const char* source;
        const char* target;
        bool enabled;
    } steps[] = {{"", "", false},
                 {"a.mp3", "", false},
                 {"a.mp3", "b.wav", true},
                 {"", "b.wav", false},
                 {"a.mp3", "b.wav", true}};
    for (const Conversion& c : kConversions) {
        for (const auto& s : steps) {
            (p.*c.source)->setText(QLatin1String(s.source));
            (p.*c.target)->setText(QLatin1String(s.target));
            EXPECT_EQ((p.*c.button)->isEnabled(), s.enabled)
                << c.name << " " << s.source << "|" << s.target;
        }
        // A cancelled chooser empties its box: the button goes with it.
        dialogs.queueFile(QString());
        (c.target == &ConvertPanel::txtsavewav ? p.CmdSavewav2 : p.CmdSaveMP3)->click();
        EXPECT_FALSE((p.*c.button)->isEnabled()) << c.name;
    }
}

TEST_F(AppFace, ATypedTargetThatIsThereIsReplacedOnlyOnYes) {
    const QString source = path(QStringLiteral("in/stairs.wav"));
    QDir().mkpath(path(QStringLiteral("in")));
    ASSERT_TRUE(test::writeWav16(source, 2, 8000, test::staircase(800, 2)));
    for (const Conversion& c : kConversions) {
        for (const bool yes : {false, true}) {
            auto w = start("Convert");
            ConvertPanel& p = *w->FrameConvert;
            const QString target = path(QLatin1String(c.targetName));
            writeFile(target, "earlier");
            dialogs.clear();
            dialogs.queueQuestion(yes);
            (p.*c.source)->setText(source);
            (p.*c.target)->setText(target);
            QSignalSpy encoded(&w->encodings(), &Encodings::finished);
            (p.*c.button)->click();
            ASSERT_TRUE(jobsSettled(*w));
            if (yes && target.endsWith(QLatin1String(".mp3"))) {
                ASSERT_TRUE(!encoded.isEmpty() || encoded.wait(60000));
            }

            const auto asked = dialogs.asked(Kind::Question);
            ASSERT_EQ(asked.size(), 1) << c.name;
            EXPECT_EQ(asked[0].text, target + " already exists. Replace it?");
            EXPECT_EQ(readFile(target) == "earlier", !yes) << c.name << yes;
            EXPECT_EQ(dialogs.messageTexts(), yes ? QStringList{c.saved} : QStringList())
                << c.name << yes;
        }
    }
}

TEST_F(AppFace, EveryVisibleControlOfEveryPanelHasAnAccessibleName) {
    // Panels whose controls are named by the song list, clip editor and recorder work; empty
    // this list once they are. frameEditSong lies inside Framewav.
    const QStringList notYet{"Framewav", "FrameRec"};
    auto w = start("Wav");
    const auto isControl = [](QWidget* c) {
        if (qobject_cast<QScrollBar*>(c))
            return false; // a scroll area's own, named by its view
        return qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
               qobject_cast<QComboBox*>(c) || qobject_cast<QAbstractSlider*>(c) ||
               qobject_cast<QAbstractItemView*>(c) || qobject_cast<QAbstractSpinBox*>(c);
    };
    const auto excepted = [&](QWidget* c) {
        for (QWidget* up = c; up; up = up->parentWidget())
            if (notYet.contains(up->objectName()))
                return true;
        return false;
    };
    int checked = 0;
    for (const char* key : {"Wav", "Rec", "Convert", "Setting", "Help"}) {
        w->toolbarAction(QLatin1String(key))->trigger();
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (!c->isVisible() || !isControl(c) || excepted(c))
                continue;
            ++checked;
            EXPECT_FALSE(c->accessibleName().isEmpty())
                << key << ": " << qPrintable(c->objectName()) << " "
                << c->metaObject()->className();
        }
    }
    EXPECT_GE(checked, 6 * 5 + 10 + 4); // the toolbar on each panel, convert and settings
}

// Whether `label` shows its whole text: each line as wide as the label, a wrapped text as
// high as it.
bool fits(const QLabel& label) {
    const QRect room = label.contentsRect();
    if (label.wordWrap())
        return label.heightForWidth(label.width()) <= label.height();
    const QStringList lines = label.text().split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (label.fontMetrics().horizontalAdvance(line) > room.width())
            return false;
    return lines.size() * label.fontMetrics().lineSpacing() <= room.height() + 2;
}

TEST_F(AppFace, NoTextIsCutOffAtTheFirstSize) {
    auto w = start("Wav");
    ASSERT_EQ(w->size(), QSize(719, 476));
    // The longest texts the busy window and the convert button show.
    w->FrameConvert->txtsavemp3->setText(QStringLiteral("clip.opus"));
    w->busyWindow().showJob(QStringLiteral("Saving the list to WAV"), [] {});
    w->busyWindow().setProgress(500, QStringLiteral("About 59 min left"));
    const struct {
        const char* key;
        QWidget* panel;
    } panels[] = {{"Convert", w->FrameConvert},
                  {"Setting", w->FrameSetting},
                  {"Help", w->FrameAbout},
                  {"Help", &w->busyWindow().window()}};
    for (const auto& p : panels) {
        w->toolbarAction(QLatin1String(p.key))->trigger();
        for (const QLabel* label : p.panel->findChildren<QLabel*>()) {
            if (label->isVisible() && label->pixmap().isNull()) {
                EXPECT_TRUE(fits(*label)) << qPrintable(label->objectName() + ": " + label->text());
            }
        }
        for (const QAbstractButton* b : p.panel->findChildren<QAbstractButton*>()) {
            if (b->isVisible()) {
                EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 8, b->width())
                    << qPrintable(b->objectName() + ": " + b->text());
            }
        }
    }
    w->busyWindow().hide();
}

} // namespace
