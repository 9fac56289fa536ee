// The song list as a user drives it: adding, removing, clicking, and saving the list as one
// WAV or MP3 file, with the audio built in the test so that every join boundary is checked.
#include "app/Frmmain.h"
#include "engines/decode/SongReader.h"
#include "support/Peers.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include "support/AppFixture.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

using namespace quaverly;
using quaverly::test::le32;
using quaverly::test::samples16;
using quaverly::test::staircase;
using quaverly::test::writeWav16;

namespace {

QString realMp3(const char* name) {
    return quaverly::test::dataPath("/real/mp3/edge/") + QString::fromUtf8(name);
}

// Frames and channels of a sound file as the song reader decodes it.
std::pair<qint64, int> decodedFrames(const QString& file) {
    const auto song = quaverly::SongReader::open(file);
    if (!song)
        return {-1, 0};
    return {qint64(song->frames()), song->format().channels};
}

class SongList : public test::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        list = w->findChild<QListWidget*>(QStringLiteral("List1"));
        ASSERT_NE(list, nullptr);
    }

    // Adds a file through "ADD" and its open dialog.
    void add(const QString& file) {
        dialogs.queueFile(file);
        click(*w, "CmdAdd");
    }

    QString wav(const char* name, int channels, std::uint32_t rate, std::size_t frames, int start) {
        const QString p = path(QString::fromUtf8(name));
        QDir().mkpath(QFileInfo(p).absolutePath());
        EXPECT_TRUE(writeWav16(p, channels, rate, staircase(frames, channels, start)));
        return p;
    }

    QString copyOf(int row) const { return w->songListPanel->workingCopy(row); }
    QStringList texts() const {
        QStringList t;
        for (int i = 0; i < list->count(); ++i)
            t << list->item(i)->text();
        return t;
    }
    QStringList messages() const { return dialogs.messageTexts(); }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    QListWidget* list = nullptr;
};

TEST_F(SongList, AddsWavAndMp3SongsEachWithItsOwnWorkingCopy) {
    const QString a = wav("one/Song.wav", 2, 44100, 1000, 0);
    const QString b = wav("two/Song.WAV", 1, 22050, 500, 7000); // same name, other folder
    add(a);
    add(b);
    add(realMp3("cbr.mp3"));
    // The MP3 is named by its tags, the WAV files by their names.
    ASSERT_EQ(texts(), (QStringList{"Song", "Song", "Basshunter - I Can Walk On Water I Can Fly"}));
    EXPECT_TRUE(w->isEnabled());

    // A plain WAV is copied byte for byte; equal names keep their own audio.
    EXPECT_EQ(readFile(copyOf(0)), readFile(a));
    EXPECT_EQ(readFile(copyOf(1)), readFile(b));
    EXPECT_NE(copyOf(0), copyOf(1));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(copyOf(i).startsWith(w->workPath())) << i;

    // The MP3 was decoded into a 44-byte-header WAV, behind the busy window.
    const auto layout = probeWav(copyOf(2));
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->canonical);
    EXPECT_EQ(layout->dataSize, 19584u * 4);
    EXPECT_EQ(w->busyWindow().window().Label1->text(), "Adding cbr.mp3");
    EXPECT_FALSE(busyShown());

    // Cancel adds nothing; words add nothing and are refused in the song reader's words.
    dialogs.queueFile(QString());
    click(*w, "CmdAdd");
    writeFile(path("notes.txt"), "no sound in here at all, just words");
    add(path("notes.txt"));
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(filesIn(w->workPath()).size(), 3);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].startsWith("Not added to the song list:\n\nnotes.txt: "))
        << messages()[0].toStdString();
}

TEST_F(SongList, AddAndInsertOfferEveryFormatReadAndAllFiles) {
    for (const char* button : {"CmdAdd", "CmdIns"}) {
        dialogs.queueFile(QString());
        click(*w, button);
    }
    const auto asked = dialogs.asked(ScriptedDialogs::Kind::OpenFiles);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].title, "Add songs");
    EXPECT_EQ(asked[1].title, "Insert songs");
    const QStringList filters = asked[0].file.filter.split(";;");
    EXPECT_EQ(filters.constFirst(),
              "All supported files (*.wav *.mp3 *.mp2 *.mp1 *.flac *.ogg *.oga *.opus *.spx *.m4a "
              "*.m4b *.m4r *.mp4 *.aac *.aif *.aiff *.aifc *.caf *.w64 *.rf64 *.wma *.asf *.wv "
              "*.ape *.mpc *.ac3 *.eac3 *.au *.snd *.mka *.webm *.m4v *.mov *.mkv *.avi)");
    EXPECT_TRUE(filters.contains("FLAC (*.flac)"));
    EXPECT_TRUE(filters.contains("Speex (*.spx)"));
    EXPECT_TRUE(filters.contains("MPEG-4 audio (*.m4a *.m4b *.m4r *.mp4)"));
    EXPECT_EQ(filters.constLast(), "All files (*)");
}

TEST_F(SongList, AnUnreadableSongIsReportedAndListsNothing) {
    writeFile(path("broken.mp3"), "no sound in here at all, just words");
    writeFile(path("broken.wav"), "RIFF\x10\0\0\0WAVEjunkjunk");
    add(path("broken.mp3"));
    add(path("broken.wav"));
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(filesIn(w->workPath()).isEmpty());
    const auto asked = dialogs.asked(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 2);
    const char* const files[] = {"broken.mp3", "broken.wav"};
    for (int i = 0; i < 2; ++i) {
        const auto& a = asked[i];
        EXPECT_EQ(a.title, "Quaverly");
        // The file by its name, once, then the song reader's words for the cause.
        EXPECT_TRUE(
            a.text.startsWith(QStringLiteral("Not added to the song list:\n\n%1: ").arg(files[i])))
            << a.text.toStdString();
        EXPECT_FALSE(a.text.contains(path(files[i]))) << a.text.toStdString();
    }
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(busyShown());
}

TEST_F(SongList, HasNoLimitOfTwentySongs) {
    const QString a = wav("a.wav", 1, 8000, 10, 0);
    for (int i = 0; i < 25; ++i)
        add(a);
    EXPECT_EQ(list->count(), 25);
    EXPECT_EQ(filesIn(w->workPath()).size(), 25);
}

TEST_F(SongList, RemovesOnlyTheChosenSongAndItsOwnCopy) {
    const QString a = wav("a/Tune.wav", 1, 8000, 100, 0);
    add(a);
    add(a);
    const QString first = copyOf(0), second = copyOf(1);

    // Without a selection nothing is asked; the editor's buttons are reset.
    click(*w, "Cmdremove");
    EXPECT_TRUE(dialogs.asked(ScriptedDialogs::Kind::Question).isEmpty());
    EXPECT_FALSE(w->findChild<QWidget*>("CmdMarkin")->isEnabled());

    list->setCurrentRow(0);
    dialogs.queueQuestion(false);
    click(*w, "Cmdremove");
    EXPECT_EQ(list->count(), 2);
    const auto question = dialogs.asked(ScriptedDialogs::Kind::Question).last();
    EXPECT_EQ(question.title, "Remove song");
    EXPECT_EQ(question.text, "Remove “Tune” from the song list? The file itself is not deleted.");

    list->setCurrentRow(0);
    dialogs.queueQuestion(true);
    click(*w, "Cmdremove");
    ASSERT_EQ(list->count(), 1);
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_EQ(copyOf(0), second);
    EXPECT_EQ(readFile(second), readFile(a)); // the equal song keeps its audio
}

TEST_F(SongList, AClickOnASongWakesTheListPlayer) {
    add(wav("a.wav", 1, 8000, 10, 0));
    list->setCurrentRow(0);
    emit list->itemClicked(list->item(0));
    EXPECT_FALSE(w->findChild<QWidget*>("Frame2")->isHidden());
    EXPECT_TRUE(w->findChild<QWidget*>("Frame3")->isHidden());
    for (const char* name : {"CmdFoward", "CmdPause", "CmdPlay", "CmdStop", "CmdNext"})
        EXPECT_TRUE(w->findChild<QWidget*>(name)->isEnabled()) << name;
    // The editor's player has let go of its song: none of its controls could act.
    for (const char* name :
         {"SliderEdit", "CmdEditPlay", "CmdEditStop", "CmdMarkin", "CmdMarkOut", "CmdEditDone"})
        EXPECT_FALSE(w->findChild<QWidget*>(name)->isEnabled()) << name;
}

TEST_F(SongList, SavesTheListAsOneWavWithExactJoins) {
    const QString a = wav("a.wav", 2, 44100, 1000, 0);
    const QString b = wav("b.wav", 2, 44100, 333, 20000);
    const QString out = path("out/list.wav");
    QDir().mkpath(path("out"));

    // One song: a byte-identical copy.
    add(a);
    dialogs.queueFile(out);
    click(*w, "CmdSaveWav");
    EXPECT_EQ(readFile(out), readFile(a));
    EXPECT_EQ(messages().last(), "Finish Save: list.wav is saved.");
    EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::SaveFile).last().file.folder, w->BaseFolder);

    // a, b, a: the first header with summed sizes, then each song's data in list order.
    add(b);
    add(a);
    dialogs.queueFile(out);
    click(*w, "CmdSaveWav");
    const QByteArray joined = readFile(out);
    const QByteArray da = readFile(a).mid(44), db = readFile(b).mid(44);
    ASSERT_EQ(joined.size(), 44 + 2 * da.size() + db.size());
    EXPECT_EQ(le32(joined, 40), std::uint32_t(2 * da.size() + db.size()));
    EXPECT_EQ(le32(joined, 4), std::uint32_t(2 * da.size() + db.size() + 36));
    EXPECT_EQ(joined.mid(44, da.size()), da);
    EXPECT_EQ(joined.mid(44 + da.size(), db.size()), db);
    EXPECT_EQ(joined.mid(44 + da.size() + db.size()), da);
    const auto s = samples16(joined);
    EXPECT_EQ(s[2 * 999], 999);
    EXPECT_EQ(s[2 * 1000], 20000);
    EXPECT_EQ(s[2 * 1332], 20332);
    EXPECT_EQ(s[2 * 1333], 0);
}

TEST_F(SongList, JoinsOtherFormatsInTheFirstSongsFormat) {
    add(wav("a.wav", 2, 44100, 44100, 0));
    add(wav("b.wav", 1, 22050, 11025, 0)); // half a second of mono at half the rate
    dialogs.queueFile(path("mix.wav"));
    click(*w, "CmdSaveWav");
    const auto layout = probeWav(path("mix.wav"));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->channels, 2);
    EXPECT_EQ(layout->sampleRate, 44100u);
    EXPECT_NEAR(double(layout->dataSize / 4), 44100 + 22050, 2);
}

TEST_F(SongList, AFailedOrCancelledSaveWritesNothing) {
    writeFile(path("keep.wav"), "earlier");
    dialogs.queueFile(path("keep.wav"));
    click(*w, "CmdSaveWav"); // empty list: refused before any dialog
    EXPECT_TRUE(messages().last().contains("empty"));
    EXPECT_FALSE(dialogs.allAnswered());
    dialogs.clear();

    add(wav("a.wav", 1, 8000, 10, 0));
    dialogs.queueFile(QString());
    click(*w, "CmdSaveWav");
    dialogs.queueFile(QString());
    click(*w, "CmdSaveList");
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(busyShown());

    dialogs.queueFile(path("no/such/folder/list.wav"));
    click(*w, "CmdSaveWav");
    EXPECT_FALSE(messages().last().startsWith("Finish Save"));
    EXPECT_TRUE(messages().last().contains("list.wav")) << messages().last().toStdString();

    // A working copy gone missing is named, and the earlier file stays as it was.
    QFile::remove(copyOf(0));
    dialogs.queueFile(path("keep.wav"));
    click(*w, "CmdSaveWav");
    EXPECT_FALSE(messages().last().startsWith("Finish Save"));
    EXPECT_EQ(readFile(path("keep.wav")), "earlier");
    EXPECT_FALSE(QFile::exists(path("no/such/folder/list.wav")));
}

TEST_F(SongList, SavesTheListAsAnMp3AtTheChosenBitRate) {
    add(wav("a.wav", 2, 44100, 30000, 0));
    add(realMp3("cbr.mp3"));
    click(*w, "Option2"); // 96 kbit/s
    QSignalSpy done(&w->encodings(), &Encodings::finished);
    const QStringList copies = filesIn(w->workPath());
    dialogs.queueFile(path("list.mp3"));
    dialogs.queueInput(QStringLiteral("Song list")); // the title
    w->songListPanel->CmdSaveList->click();          // returns while its job runs

    // While the encoder works, the window takes no input and the busy window says so.
    EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(busyShown());
    EXPECT_EQ(w->busyWindow().window().Label1->text(), "Saving.......");
    // The songs go straight into the encoder: from the click to the job's end the working
    // folder holds nothing but the working copies.
    QStringList extra;
    const auto look = [&] {
        for (const QString& file : filesIn(w->workPath()))
            if (!copies.contains(file) && !extra.contains(file))
                extra << file;
        return !done.isEmpty();
    };
    ASSERT_TRUE(QTest::qWaitFor(look, 60000));
    EXPECT_TRUE(extra.isEmpty()) << extra.join(' ').toStdString();
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(busyShown());
    EXPECT_EQ(messages().last(), "Finish Save: list.mp3 is saved.");

    const auto [frames, channels] = decodedFrames(path("list.mp3"));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(frames, 30000 + 19584);
    const auto probe = test::runPeer("ffprobe", {"-v", "error", "-show_entries", "stream=bit_rate",
                                                 "-of", "default=nw=1:nk=1", path("list.mp3")});
    ASSERT_TRUE(probe.finished);
    EXPECT_EQ(probe.out.trimmed(), "96000");
    // The songs' working copies stay.
    EXPECT_EQ(filesIn(w->workPath()), copies);
}

TEST_F(SongList, AFailedMp3SaveSaysSoAndReleasesTheWindow) {
    add(wav("a.wav", 1, 8000, 800, 0));
    QSignalSpy done(&w->encodings(), &Encodings::finished);
    dialogs.queueFile(path("no/such/folder/list.mp3"));
    dialogs.queueInput(QStringLiteral("a")); // the title
    click(*w, "CmdSaveList");
    ASSERT_TRUE(!done.isEmpty() || done.wait(60000));
    EXPECT_FALSE(done.first().first().value<EncodeResult>().ok());
    EXPECT_FALSE(messages().last().startsWith("Finish Save"));
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(busyShown());
    EXPECT_EQ(filesIn(w->workPath()).size(), 1);
}

} // namespace
