#include "app/Frmmain.h"
#include "support/ScriptedDialogs.h"
#include "support/TestPaths.h"

#include "support/AppFixture.h"
#include "support/TestAudio.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>

using namespace quaverly;

namespace {

class FrmmainTest : public test::AppFixture {
protected:
    std::unique_ptr<Frmmain> start() {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        return w;
    }

    // The top-level panels that are visible, by name.
    static QStringList visiblePanels(const Frmmain& w) {
        QStringList names;
        for (const char* name :
             {"Framewav", "FrameRec", "FrameConvert", "FrameSetting", "FrameAbout"}) {
            if (child(w, name)->isVisible()) {
                names << QString::fromLatin1(name);
            }
        }
        return names;
    }

    ScriptedDialogs dialogs;
};

TEST_F(FrmmainTest, StartsOnTheAudioEditPanelReadyForSongs) {
    auto w = start();
    EXPECT_EQ(w->size(), QSize(719, 476));
    EXPECT_EQ(visiblePanels(*w), QStringList{"Framewav"});
    EXPECT_TRUE(child(*w, "Frame2")->isHidden());
    EXPECT_TRUE(child(*w, "Frame3")->isHidden());
    EXPECT_EQ(child(*w, "Frame3")->parentWidget(), child(*w, "Framewav"));
    for (const char* panel : {"Framewav", "FrameRec", "FrameConvert", "FrameSetting"}) {
        EXPECT_EQ(child(*w, panel)->mapTo(w.get(), QPoint()).y(), 48) << panel;
    }

    // Captions and tool tips.
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
    } buttons[] = {
        {"CmdAdd", "ADD", "Add New"},
        {"Cmdremove", "Remove", "Remove from list"},
        {"CmdIns", "Insert", ""},
        {"CmdUP", "", "Move UP"},
        {"CmdDown", "", "Move Down"},
        {"CmdSaveWav", "Save The List to Wav", ""},
        {"CmdSaveList", "Save The List to MP3", ""},
        {"CmdFoward", "Previous", "Previous song"},
        {"CmdPause", "Pause", "Pause"},
        {"CmdPlay", "Play", "Play"},
        {"CmdStop", "Stop", "Stop"},
        {"CmdNext", "Next", "Next song"},
        {"CmdEditPlay", "Play", "Play"},
        {"CmdEditStop", "Stop", "Stop"},
        {"CmdMarkin", "Mark In", ""},
        {"CmdMarkOut", "Mark Out", ""},
        {"CmdEditDone", "Done", ""},
        {"Check1", "Play List", ""},
    };
    for (const auto& b : buttons) {
        auto* button = child<QAbstractButton>(*w, b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(b.caption)) << b.name;
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(b.tip)) << b.name;
    }
    EXPECT_FALSE(child<QAbstractButton>(*w, "CmdUP")->icon().isNull());

    // Nothing to play or edit yet; the list's own buttons work.
    for (const char* name :
         {"CmdFoward", "CmdPause", "CmdPlay", "CmdStop", "CmdNext", "SliderEdit", "CmdEditPlay",
          "CmdEditStop", "CmdMarkin", "CmdMarkOut", "CmdEditDone"}) {
        EXPECT_FALSE(child(*w, name)->isEnabled()) << name;
    }
    for (const char* name : {"CmdAdd", "Cmdremove", "CmdIns", "CmdSaveWav", "CmdSaveList"}) {
        EXPECT_TRUE(child(*w, name)->isEnabled()) << name;
    }

    EXPECT_EQ(child<QLabel>(*w, "Label6")->text(), "Click to select, double click to edit");
    EXPECT_FALSE(child<QLabel>(*w, "Label8")->text().isEmpty());
    EXPECT_EQ(child<QLabel>(*w, "Lbltotal")->text(), "0:00.000");
    EXPECT_EQ(child<QLabel>(*w, "Lblin")->text(), "In");
    EXPECT_EQ(child<QLabel>(*w, "Lblout")->text(), "Out");

    // Bit rate and output folder at their defaults.
    EXPECT_EQ(w->OutBitRate, 256);
    EXPECT_TRUE(child<QAbstractButton>(*w, "Option4")->isChecked());
    EXPECT_EQ(w->BaseFolder, home);
    EXPECT_TRUE(w->ListMode.isEmpty());

    // The recorder panel waits, built.
    EXPECT_FALSE(child(*w, "btnPlay")->isEnabled());
    EXPECT_FALSE(child(*w, "btnSave")->isEnabled());
    EXPECT_TRUE(child(*w, "CmdWav")->isHidden());
    EXPECT_TRUE(child(*w, "CmdMp3")->isHidden());
    auto* timer = child<QTimer>(*w, "tmrRecTest");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 200);

    // Start-up asked nothing.
    EXPECT_TRUE(dialogs.asked().isEmpty());
}

TEST_F(FrmmainTest, ToolbarHasSixKeyedButtonsInOrder) {
    auto w = start();
    const QList<QAction*> actions = child<QToolBar>(*w, "Toolbar1")->actions();
    const QStringList keys{"Wav", "Rec", "Convert", "Setting", "Help", "Exit"};
    const QStringList tips{"Open Song", "Voice Recorder", "Convert", "Settings", "About", "Exit"};
    ASSERT_EQ(actions.size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(actions[i]->objectName(), keys[i]);
        EXPECT_EQ(actions[i]->toolTip(), tips[i]);
        EXPECT_FALSE(actions[i]->icon().pixmap(32).isNull()) << qPrintable(keys[i]);
        EXPECT_FALSE(actions[i]->shortcut().isEmpty()) << qPrintable(keys[i]);
    }
    EXPECT_EQ(w->ImageList1.size(), 8);
}

TEST_F(FrmmainTest, ToolbarShowsOnePanelAndKeepsTheInnerFrames) {
    auto w = start();
    child(*w, "Frame2")->setVisible(true); // as a click on a song leaves it
    const struct {
        const char* key;
        const char* panel;
    } steps[] = {{"Rec", "FrameRec"},    {"Convert", "FrameConvert"}, {"Setting", "FrameSetting"},
                 {"Help", "FrameAbout"}, {"Wav", "Framewav"},         {"Wav", "Framewav"},
                 {"Help", "FrameAbout"}, {"Setting", "FrameSetting"}};
    for (const auto& s : steps) {
        w->toolbarAction(QString::fromLatin1(s.key))->trigger();
        EXPECT_EQ(visiblePanels(*w), QStringList{QString::fromLatin1(s.panel)}) << s.key;
        EXPECT_FALSE(child(*w, "Frame2")->isHidden());
        EXPECT_TRUE(child(*w, "Frame3")->isHidden());
    }
    w->Toolbar1_ButtonClick(QStringLiteral("wav")); // keys are compared exactly
    EXPECT_EQ(visiblePanels(*w), QStringList{"FrameSetting"});
    EXPECT_TRUE(w->isVisible());
}

TEST_F(FrmmainTest, HelpFillsTheAboutPanelEveryTime) {
    auto w = start();
    QStringList first;
    for (int click = 0; click < 2; ++click) {
        w->toolbarAction(QStringLiteral("Help"))->trigger();
        QStringList texts;
        for (const char* name : {"lblVersion", "lblTitle", "lblDescription", "Label7"}) {
            texts << child<QLabel>(*w, name)->text();
        }
        EXPECT_EQ(texts[0], "Version 2.0.0");
        EXPECT_EQ(texts[1], "Quaverly");
        EXPECT_EQ(texts[2],
                  "velmarise MP3 Quaverly Editor crops and converts your favourite MP3 and WAV "
                  "files, and records your own sound from your computer's sound card. You can "
                  "cut or trim parts of songs of different formats, join them into one song, and "
                  "make your phone's sounds in your own style.");
        EXPECT_TRUE(texts[3].startsWith("Support:\n"));
        EXPECT_TRUE(texts[3].contains(u'@'));
        if (click == 0) {
            first = texts;
        } else {
            EXPECT_EQ(texts, first);
        }
    }
}

TEST_F(FrmmainTest, ExitAndClosingBothEmptyTheWorkingFolderAndAskToQuit) {
    for (const bool viaToolbar : {true, false}) {
        auto w = start();
        const QString work = w->workPath();
        ASSERT_FALSE(work.isEmpty());
        EXPECT_TRUE(work.startsWith(workRoot));
        writeFile(work + "Song.wav", "RIFF");
        writeFile(work + "concat.wav", "RIFF");
        writeFile(work + "sub/kept.wav", "RIFF");
        QSignalSpy quit(w.get(), &Frmmain::quitRequested);

        if (viaToolbar) {
            w->toolbarAction(QStringLiteral("Exit"))->trigger();
        } else {
            w->close();
        }
        EXPECT_EQ(quit.count(), 1) << viaToolbar;
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(filesIn(work), QStringList()) << viaToolbar;
        EXPECT_TRUE(QFileInfo::exists(work + "sub/kept.wav"));
        // A second close does not run the shutdown again.
        w->close();
        EXPECT_EQ(quit.count(), 1);
    }
}

TEST_F(FrmmainTest, LeftoversAreGoneAtStartAndASecondWindowLeavesTheFirstAlone) {
    { auto crashed = start(); }
    writeFile(workRoot + "/instance-0/old.wav", "RIFF");
    writeFile(workRoot + "/instance-0/sub/kept.txt", "x");

    auto first = start();
    EXPECT_EQ(first->workPath(), workRoot + "/instance-0/");
    EXPECT_EQ(filesIn(first->workPath()), QStringList());
    EXPECT_TRUE(QFileInfo::exists(first->workPath() + "sub/kept.txt"));
    writeFile(first->workPath() + "Song.wav", "RIFF");

    auto second = start();
    EXPECT_NE(second->workPath(), first->workPath());
    second->toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_EQ(filesIn(first->workPath()), QStringList{"Song.wav"});
}

TEST_F(FrmmainTest, AWorkingFolderThatCannotBeMadeIsReportedAndTheWindowRuns) {
    writeFile(path(QStringLiteral("file-base")), "x");
    setEnv("QUAVERLY_WORK_BASE", path(QStringLiteral("file-base")));
    auto w = start();
    const auto messages = dialogs.asked(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].icon, Dialogs::Icon::Warning);
    EXPECT_TRUE(messages[0].text.contains(QLatin1String("working folder")));
    EXPECT_TRUE(w->workPath().isEmpty());

    // What needs a working copy is refused with a message and writes nothing anywhere else:
    // adding a plain WAV (only copied), adding an MP3, converting one to WAV.
    const QString mp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
    ASSERT_TRUE(test::writeWav16(path("a.wav"), 1, 8000, test::staircase(100, 1)));
    ASSERT_TRUE(QDir().mkpath(path("cwd")));
    const QString wasCurrent = QDir::currentPath();
    QDir::setCurrent(path("cwd"));
    for (const QString& song : {path("a.wav"), mp3}) {
        dialogs.queueFile(song);
        child<QAbstractButton>(*w, "CmdAdd")->click();
        EXPECT_TRUE(jobsSettled(*w));
    }
    child<QLineEdit>(*w, "txtopenmp3")->setText(mp3);
    child<QLineEdit>(*w, "txtsavewav")->setText(path("out.wav"));
    child<QAbstractButton>(*w, "CmdconvertWav")->click();
    EXPECT_TRUE(jobsSettled(*w));
    QDir::setCurrent(wasCurrent);
    const auto refusals = dialogs.asked(ScriptedDialogs::Kind::Message).mid(1);
    ASSERT_EQ(refusals.size(), 3);
    for (const auto& m : refusals)
        EXPECT_TRUE(m.text.contains(QLatin1String("no working folder"))) << m.text.toStdString();
    EXPECT_EQ(child<QListWidget>(*w, "List1")->count(), 0);
    EXPECT_TRUE(QDir(path("cwd")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("out.wav")));
    EXPECT_TRUE(w->isEnabled());

    w->toolbarAction(QStringLiteral("Setting"))->trigger();
    EXPECT_EQ(visiblePanels(*w), QStringList{"FrameSetting"});
    QSignalSpy quit(w.get(), &Frmmain::quitRequested);
    w->close();
    EXPECT_EQ(quit.count(), 1);
}

// Each kind of file dialog opens where it was last picked in, after a restart too; a cancelled
// dialog and the other kinds keep their folders.
TEST_F(FrmmainTest, EachKindOfFileDialogOpensInTheFolderLastPickedForItAcrossRuns) {
    const QString songs = path("songs");
    ASSERT_TRUE(QDir().mkpath(songs));
    const auto choose = [&](const Frmmain& w, const char* button, const QString& answer) {
        dialogs.queueFile(answer);
        child<QAbstractButton>(w, button)->click();
        return dialogs.asked().last().file.folder;
    };
    {
        auto w = start();
        ASSERT_TRUE(test::writeWav16(songs + "/a.wav", 1, 8000, test::staircase(100, 1)));
        choose(*w, "CmdAdd", songs + "/a.wav");
        ASSERT_TRUE(jobsSettled(*w));
        EXPECT_EQ(choose(*w, "CmdSavewav2", QString()), w->BaseFolder);
    }
    auto w = start(); // the same settings folder
    EXPECT_EQ(choose(*w, "CmdAdd", QString()), songs);
    EXPECT_EQ(choose(*w, "Cmdopenwav", QString()), songs);
    EXPECT_EQ(choose(*w, "CmdSavewav2", QString()), w->BaseFolder);
    EXPECT_TRUE(dialogs.allAnswered());
}

} // namespace
