// The song list's order and its other ways in: "Move UP", "Move Down" and "Insert" (checked by
// the bytes of the list saved as one WAV), several files in one ADD, files dropped from a file
// manager, the list's keys, and the files named on the command line.
#include "app/Frmmain.h"
#include "app/WindowFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

using namespace quaverly;
using quaverly::test::le32;
using quaverly::test::staircase;
using quaverly::test::writeWav16;

namespace {

const QString kMp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
// kMp3 in the list: its tags' artist and title.
const QString kMp3Name = QStringLiteral("Basshunter - I Can Walk On Water I Can Fly");

class SongListOrder : public test::WindowFixture {
protected:
    // Song `letter`: a mono 8 kHz staircase of its own start and length, so that every song's
    // bytes differ from every other's.
    QString song(char letter, int frames = 0) {
        const int n = letter - 'a';
        const QString p = path(QStringLiteral("%1.wav").arg(QLatin1Char(letter)));
        const auto length = std::size_t(frames ? frames : 100 + 25 * n);
        if (!QFile::exists(p)) {
            EXPECT_TRUE(writeWav16(p, 1, 8000, staircase(length, 1, 5000 * n)));
        }
        return p;
    }
    QStringList songs(const char* letters) {
        QStringList files;
        for (const char* c = letters; *c; ++c)
            files << song(*c);
        return files;
    }
    void add(const char* letters) {
        for (const QString& file : songs(letters)) {
            dialogs.queueFile(file);
            click(*w, "CmdAdd");
        }
    }

    QString names() const {
        QString t;
        for (int i = 0; i < list->count(); ++i)
            t += list->item(i)->text();
        return t;
    }
    // The list saved as one WAV must hold the songs' data in `letters` order, byte for byte.
    void expectJoin(const char* letters) {
        const QString out = path("joined.wav");
        dialogs.queueFile(out);
        click(*w, "CmdSaveWav");
        QByteArray data;
        for (const QString& file : songs(letters))
            data += test::readFile(file).mid(44);
        const QByteArray joined = test::readFile(out);
        ASSERT_EQ(joined.size(), 44 + data.size()) << letters;
        EXPECT_EQ(le32(joined, 40), std::uint32_t(data.size()));
        EXPECT_TRUE(joined.mid(44) == data) << letters;
    }
    bool enabled(const char* name) const { return child(*w, name)->isEnabled(); }
};

TEST_F(SongListOrder, MovesAndInsertsChangeTheJoinOrderAndTheArrowsStopAtTheEnds) {
    const struct {
        const char* list;
        int selected;       // -1: no selection
        const char* button; // clicked; else Ctrl and `key` on the list
        Qt::Key key;
        const char* inserted; // the files "Insert" is answered with
        const char* order;
        int selectedAfter;
        bool up, down; // the arrows after
    } cases[] = {
        {"abc", 1, "CmdUP", {}, "", "bac", 0, false, true},
        {"abc", 2, "CmdUP", {}, "", "acb", 1, true, true},
        {"abc", 1, "CmdDown", {}, "", "acb", 2, true, false},
        {"abc", 0, "CmdDown", {}, "", "bac", 1, true, true},
        {"abc", 2, nullptr, Qt::Key_Up, "", "acb", 1, true, true},
        {"abc", 0, nullptr, Qt::Key_Down, "", "bac", 1, true, true},
        {"a", 0, nullptr, Qt::Key_Down, "", "a", 0, false, false},
        {"abc", 1, "CmdIns", {}, "d", "adbc", 2, true, true},
        {"abc", 0, "CmdIns", {}, "de", "deabc", 2, true, true},
        {"abc", -1, "CmdIns", {}, "de", "abcde", -1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button ? c.button : "key") + " on " +
                     std::to_string(c.selected));
        list->clear();
        add(c.list);
        list->setCurrentRow(c.selected);
        if (c.selected < 0)
            list->clearSelection();
        if (*c.inserted)
            dialogs.queueFiles(songs(c.inserted));
        if (c.button)
            click(*w, c.button);
        else
            QTest::keyClick(list, c.key, Qt::ControlModifier);
        EXPECT_EQ(names(), QLatin1String(c.order));
        EXPECT_EQ(w->songListPanel->ListIndex(), c.selectedAfter);
        EXPECT_EQ(enabled("CmdUP"), c.up);
        EXPECT_EQ(enabled("CmdDown"), c.down);
        expectJoin(c.order);
    }
    EXPECT_TRUE(dialogs.allAnswered());
    EXPECT_EQ(dialogs.messageTexts().filter(QStringLiteral("Finish Save: ")).size(),
              dialogs.messageTexts().size());
}

TEST_F(SongListOrder, OneAddTakesSeveralFilesInOrderAndGoesOnPastABadOne) {
    writeFile(path("broken.mp3"), "no sound in here at all, just words");
    dialogs.queueFiles({song('a'), kMp3, path("broken.mp3"), song('b'), kMp3});
    click(*w, "CmdAdd");
    EXPECT_EQ(names(), "a" + kMp3Name + "b" + kMp3Name);
    EXPECT_EQ(test::readFile(w->songListPanel->workingCopy(0)), test::readFile(song('a')));
    EXPECT_EQ(test::readFile(w->songListPanel->workingCopy(2)), test::readFile(song('b')));
    EXPECT_EQ(probeWav(w->songListPanel->workingCopy(3))->dataSize, 19584u * 4);
    ASSERT_EQ(dialogs.messageTexts().size(), 1);
    EXPECT_TRUE(dialogs.messageTexts()[0].startsWith("Not added to the song list:\n\nbroken.mp3: "))
        << qPrintable(dialogs.messageTexts()[0]);
    // The busy window counted the files (which one it named last depends on how fast they went)
    // and let the window go at the end.
    const QString said = w->busyWindow().window().Label1->text();
    EXPECT_TRUE(QRegularExpression("^Adding .+ \\([1-5] of 5\\)$").match(said).hasMatch())
        << qPrintable(said);
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::OpenFiles).size(), 1);

    // Cancelled: nothing more.
    dialogs.queueFiles({});
    click(*w, "CmdAdd");
    EXPECT_EQ(list->count(), 4);
}

// A drag from a file manager onto the list's viewport, as Qt delivers it, with Shift held: the
// file manager proposes to move the files. What the list answers, IgnoreAction when it refuses.
struct Drag {
    QMimeData mime;
    Qt::DropActions actions;

    Qt::DropAction enter(QWidget* target) {
        QDragEnterEvent e(QPoint(10, 10), actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
        QCoreApplication::sendEvent(target, &e);
        return e.isAccepted() ? e.dropAction() : Qt::IgnoreAction;
    }
    Qt::DropAction drop(QWidget* target) {
        QDropEvent e(QPointF(10, 10), actions, &mime, Qt::LeftButton, Qt::ShiftModifier);
        QCoreApplication::sendEvent(target, &e);
        QCoreApplication::processEvents();
        return e.isAccepted() ? e.dropAction() : Qt::IgnoreAction;
    }
};

TEST_F(SongListOrder, DroppedFilesAreAddedInOrderAsCopiesAndOtherDropsIgnored) {
    writeFile(path("notes.txt"), "words");
    ASSERT_TRUE(QDir().mkpath(path("folder")));
    const auto local = [](const QStringList& files) {
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        return urls;
    };
    const struct {
        QList<QUrl> urls; // none: the drag carries the name of a song as text
        Qt::DropActions actions;
        bool taken;
        const char* names;
    } cases[] = {
        {local(songs("cab")), Qt::CopyAction | Qt::MoveAction, true, "cab"},
        {{}, Qt::CopyAction, false, ""},
        {{QUrl("https://example.org/a.wav")}, Qt::CopyAction, false, ""},
        // Any file goes to the song reader, which refuses words in its own; a folder is no file.
        {local({path("notes.txt")}), Qt::CopyAction, true, ""},
        {local({path("folder")}), Qt::CopyAction, false, ""},
        {local({song('a')}), Qt::MoveAction, false, ""},
        // What is no file here is named in a message, never left out without a word.
        {local({song('c')}) << QUrl("https://example.org/b.wav"), Qt::CopyAction, true, "c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.urls.isEmpty() ? "text" : c.urls[0].toString().toStdString());
        list->clear();
        Drag drag{{}, c.actions};
        drag.mime.setUrls(c.urls);
        if (c.urls.isEmpty())
            drag.mime.setText(song('a'));
        // Taken as a copy, whatever was proposed: the files stay where they are.
        const Qt::DropAction answer = c.taken ? Qt::CopyAction : Qt::IgnoreAction;
        EXPECT_EQ(drag.enter(list->viewport()), answer);
        EXPECT_EQ(drag.drop(list->viewport()), answer);
        ASSERT_TRUE(jobsSettled(*w));
        EXPECT_EQ(names(), QLatin1String(c.names));
        if (*c.names) {
            EXPECT_EQ(test::readFile(w->songListPanel->workingCopy(0)), test::readFile(song('c')));
        }
    }
    ASSERT_EQ(dialogs.messageTexts().size(), 2);
    EXPECT_TRUE(dialogs.messageTexts()[0].startsWith("Not added to the song list:\n\nnotes.txt: "))
        << dialogs.messageTexts()[0].toStdString();
    EXPECT_EQ(dialogs.messageTexts()[1], "Not added to the song list:\n\n"
                                         "https://example.org/b.wav: not a file on this computer");
}

TEST_F(SongListOrder, EnterOpensTheEditorAndDeleteRemovesAfterAsking) {
    add("abc");
    QTest::keyClick(list, Qt::Key_Return); // nothing selected: nothing opens
    EXPECT_TRUE(w->editorFrame->isHidden());

    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        list->setCurrentRow(1);
        w->ListMode.clear();
        w->editor->reset(true);
        QTest::keyClick(list, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_FALSE(w->editorFrame->isHidden()) << key;
        EXPECT_EQ(w->ListMode, "Edit");
        EXPECT_EQ(w->editorPlayer->FileName(), w->songListPanel->workingCopy(1));
    }

    const QString copy = w->songListPanel->workingCopy(1);
    for (const bool yes : {false, true}) {
        list->setCurrentRow(1);
        dialogs.queueQuestion(yes);
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::Question).last().text,
                  "Remove “b” from the song list? The file itself is not deleted.");
        EXPECT_EQ(names(), yes ? "ac" : "abc");
        EXPECT_EQ(QFile::exists(copy), !yes);
    }
    EXPECT_TRUE(dialogs.allAnswered());
}

TEST_F(SongListOrder, MovingThePlayingSongKeepsNextInTheNewOrder) {
    for (char c : {'a', 'b', 'c', 'd'})
        song(c, 80000); // 10 s of sound, 1 s at the test clock
    add("abcd");
    list->setCurrentRow(0);
    click(*w, "CmdPlay");
    ASSERT_TRUE(w->listPlayer->isPlaying());
    const QString playing = w->listPlayer->FileName();

    click(*w, "CmdDown"); // b a c d, a still playing
    EXPECT_EQ(w->PlayIndex, 2);
    list->setCurrentRow(0);
    dialogs.queueFiles({path("d.wav")});
    click(*w, "CmdIns"); // d b a c d
    EXPECT_EQ(w->PlayIndex, 3);
    EXPECT_EQ(w->listPlayer->FileName(), playing);

    click(*w, "CmdNext");
    EXPECT_EQ(w->listPlayer->FileName(), w->songListPanel->workingCopy(3));
    EXPECT_EQ(list->item(3)->text(), "c");
    click(*w, "CmdFoward");
    EXPECT_EQ(w->listPlayer->FileName(), playing);
    click(*w, "CmdStop");
}

TEST_F(SongListOrder, FilesOfTheCommandLineAreAddedInOrderAndBadNamesReported) {
    ASSERT_TRUE(QDir().mkpath(path("music")));
    writeWav16(path("music/rel.wav"), 1, 8000, staircase(50, 1, 300));
    writeFile(path("music/notes.txt"), "words");
    // An absolute name among the relative ones (on Windows with its drive, which the test data's
    // name lacks: the working folder is on another drive).
    const QString mp3 = QFileInfo(kMp3).absoluteFilePath();
    const QString wasCurrent = QDir::currentPath();
    QDir::setCurrent(path("music"));
    w->songList->addFiles({"rel.wav", "missing.mp3", mp3, "notes.txt", song('a'), "."});
    QDir::setCurrent(wasCurrent);
    ASSERT_TRUE(jobsSettled(*w));

    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(names(), "rel" + kMp3Name + "a");
    EXPECT_EQ(list->item(0)->toolTip(), "rel\n" + QDir::toNativeSeparators(path("music/rel.wav")) +
                                            "\nWAV PCM 16-bit, 8000 Hz, mono\n0:00.0");
    EXPECT_EQ(test::readFile(w->songListPanel->workingCopy(0)),
              test::readFile(path("music/rel.wav")));
    // Words reach the song reader, which refuses them as "ADD" would; they and what is no file
    // at all are told in one message at the end.
    const QStringList said = dialogs.messageTexts();
    ASSERT_EQ(said.size(), 1);
    EXPECT_EQ(said[0],
              "Not added to the song list:\n\nnotes.txt: holds no audio that Quaverly reads\n"
              "missing.mp3: there is no such file\n.: is a folder");
    EXPECT_TRUE(w->isEnabled());
}

} // namespace
