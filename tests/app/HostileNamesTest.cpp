// The window with file names that need quoting (quotes, line ends, letters beyond ASCII, a
// leading dash) for the songs it adds, the list it saves and the files it converts, and a
// conversion whose target is its own source under another name.
#include "app/Frmmain.h"
#include "engines/audio/VirtualBackend.h"
#include "engines/util/SameFile.h"
#include "support/ScriptedDialogs.h"
#include "support/SymbolicLinks.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include "support/AppFixture.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

using namespace quaverly;
using quaverly::test::samples16;
using quaverly::test::staircase;
using quaverly::test::writeWav16;

namespace {

const QString kCbrMp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
constexpr std::size_t kCbrFrames = 19584;

// The names of the tests, without their extensions. Windows forbids quotes, line ends and tabs
// in names: there the characters its command lines treat apart stand in for them.
struct Names {
    QString music, say, twoLines, all, back, again, mine, take, quoted;
};
#ifdef Q_OS_WIN
const Names kName = {QStringLiteral("music 'é' it's 日本 & co"),
                     QStringLiteral("-say 'hi' & 100%"),
                     QStringLiteral("two  lines; 😀 #1"),
                     QStringLiteral("-all 'of' it, ="),
                     QStringLiteral("-'back' !"),
                     QStringLiteral("-'again' é"),
                     QStringLiteral("-it's 'mine'"),
                     QStringLiteral("-take '1' & 日本"),
                     QStringLiteral("-'quoted' 日本 (1)")};
#else
const Names kName = {QStringLiteral("music \"é\" it's 日本"), QStringLiteral("-say \"hi\""),
                     QStringLiteral("two\nlines\t😀"),         QStringLiteral("-all \"of\" it\n"),
                     QStringLiteral("-\"back\"\n"),           QStringLiteral("-\"again\" é"),
                     QStringLiteral("-it's \"mine\""),        QStringLiteral("-take \"1\"\n日本"),
                     QStringLiteral("-\"quoted\" 日本")};
#endif

class HostileNames : public test::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        music = path(kName.music);
        ASSERT_TRUE(QDir().mkpath(music));
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
    }

    QString in(const QString& name) const { return music + QLatin1Char('/') + name; }
    QStringList messages() const { return dialogs.messageTexts(); }
    static QString saved(const QString& file) {
        return QStringLiteral("Finish Save: %1 is saved.").arg(QFileInfo(file).fileName());
    }
    QListWidget& list() const { return *w->songListPanel->List1; }

    // Answers the next file dialog with `answer` and clicks `button`.
    void choose(QAbstractButton* button, const QString& answer) {
        dialogs.queueFile(answer);
        button->click();
        ASSERT_TRUE(jobsSettled(*w));
    }

    bool waitForEncoding() {
        QSignalSpy done(&w->encodings(), &Encodings::finished);
        return w->encodings().pending() == 0 || done.wait(120000);
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    QString music;
};

TEST_F(HostileNames, SongsAreAddedSavedAndConvertedUnderAnyName) {
    const struct {
        QString name;
        std::size_t frames;
    } songs[] = {
        {kName.say + ".wav", 3000},
        {kName.twoLines + ".wav", 2000},
        {QStringLiteral("l'été 日本.mp3"), kCbrFrames},
    };
    QStringList files;
    std::size_t total = 0;
    for (const auto& s : songs) {
        if (s.name.endsWith(QLatin1String(".mp3")))
            ASSERT_TRUE(QFile::copy(kCbrMp3, in(s.name)));
        else
            ASSERT_TRUE(writeWav16(in(s.name), 2, 44100, staircase(s.frames, 2)));
        files << in(s.name);
        total += s.frames;
    }
    dialogs.queueFiles(files);
    w->songListPanel->CmdAdd->click();
    EXPECT_TRUE(jobsSettled(*w));
    ASSERT_EQ(list().count(), 3) << qPrintable(messages().join('|'));
    EXPECT_EQ(list().item(1)->text(), kName.twoLines);

    // The list joined into a WAV and into an MP3 file named as strangely.
    const QString wav = in(kName.all + ".wav");
    choose(w->songListPanel->CmdSaveWav, wav);
    EXPECT_EQ(messages().last(), saved(wav));
    EXPECT_EQ(samples16(readFile(wav)).size(), 2 * total);
    const QString mp3 = in(QStringLiteral("'all' 日本 😀.mp3"));
    dialogs.queueInput(QStringLiteral("'all' 日本 😀")); // the title
    choose(w->songListPanel->CmdSaveList, mp3);
    ASSERT_TRUE(waitForEncoding());
    EXPECT_EQ(messages().last(), saved(mp3));
    EXPECT_GT(QFileInfo(mp3).size(), 1000);

    // The converter, both ways.
    ConvertPanel& p = *w->convertPanel;
    choose(p.CmdopenMp3, files[2]);
    const QString decoded = in(kName.back + ".wav");
    choose(p.CmdSavewav2, decoded);
    p.CmdconvertWav->click();
    EXPECT_TRUE(jobsSettled(*w));
    EXPECT_EQ(messages().last(), "Convert Finish: " + QFileInfo(decoded).fileName() + " is saved.");
    EXPECT_EQ(samples16(readFile(decoded)).size(), 2 * kCbrFrames);
    choose(p.Cmdopenwav, files[0]);
    const QString encoded = in(kName.again + ".mp3");
    choose(p.CmdSaveMP3, encoded);
    p.CmdConvertMP3->click();
    EXPECT_TRUE(jobsSettled(*w));
    ASSERT_TRUE(waitForEncoding());
    EXPECT_EQ(messages().last(), saved(encoded));
    EXPECT_GT(QFileInfo(encoded).size(), 1000);
    EXPECT_EQ(dialogs.unexpected(), 0);
}

// A target that is the source under another name (a hard link, "..", a link) is refused before
// anything is read or written.
TEST_F(HostileNames, TheConverterRefusesToWriteItsSourceUnderAnyName) {
    const QString source = in(kName.mine + ".wav");
    ASSERT_TRUE(writeWav16(source, 1, 8000, staircase(800, 1)));
    const QString hard = in(QStringLiteral("hard.mp3"));
    ASSERT_TRUE(hardLink(source, hard));
    const QString soft = in(QStringLiteral("soft 日本.mp3"));
    const bool links = test::makesSymbolicLinks();
    if (links) {
        ASSERT_TRUE(test::symbolicLink(source, soft));
    }
    const QByteArray before = readFile(source);
    ConvertPanel& p = *w->convertPanel;
    QStringList targets = {hard};
    if (links)
        targets << soft;
    targets << music + QStringLiteral("/../") + QFileInfo(music).fileName() +
                   QStringLiteral("/hard.mp3");
    for (const QString& target : targets) {
        choose(p.Cmdopenwav, source);
        choose(p.CmdSaveMP3, target);
        p.CmdConvertMP3->click();
        EXPECT_TRUE(jobsSettled(*w));
        ASSERT_FALSE(messages().isEmpty()) << qPrintable(target);
        EXPECT_TRUE(messages().last().contains(QStringLiteral("cannot be converted into itself")))
            << qPrintable(messages().last());
        EXPECT_EQ(w->encodings().pending(), 0);
        EXPECT_TRUE(w->isEnabled());
    }
    EXPECT_EQ(readFile(source), before);
    if (links) {
        EXPECT_TRUE(QFileInfo(soft).isSymLink());
    }
    EXPECT_EQ(QDir(music).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
              links ? 3 : 2);
}

// The recorder's take saved as WAV and as MP3 under such names; the second save offers the
// first one's name with the other extension.
TEST_F(HostileNames, TheRecordersTakeIsSavedUnderAnyName) {
    using audio::VirtualBackend;
    w->toolbarAction(QStringLiteral("Rec"))->trigger();
    RecorderPanel& r = *w->recorderPanel;
    r.cmbInput->setCurrentIndex(VirtualBackend::kLineIn);
    r.btnRecord->click();
    const RecordTake& take = w->recorder->engine().take();
    ASSERT_TRUE(QTest::qWaitFor([&] { return take.dataBytes() >= RecordTake::kBytesPerSecond / 4; },
                                20000));
    r.btnRecord->click();
    ASSERT_EQ(r.btnRecord->text(), QStringLiteral("Record"));

    const QString wav = in(kName.take + ".wav");
    r.btnSave->click();
    choose(r.CmdWav, wav);
    EXPECT_EQ(readFile(wav),
              QByteArray(reinterpret_cast<const char*>(take.data()), qsizetype(take.length())));
    r.btnSave->click();
    choose(r.CmdMp3, in(kName.take + ".mp3"));
    EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::SaveFile).constLast().file.folder,
              in(kName.take + ".mp3"));
    ASSERT_TRUE(waitForEncoding());
    EXPECT_EQ(messages().last(), saved(in(kName.take + ".mp3")));
    EXPECT_GT(QFileInfo(in(kName.take + ".mp3")).size(), 1000);
    EXPECT_EQ(dialogs.unexpected(), 0);
}

// The list is never saved over one of its own working copies, and a working copy that cannot
// be read is named with its song.
TEST_F(HostileNames, TheListIsNotSavedOverItsOwnWorkingCopy) {
    const QString song = in(kName.quoted + ".wav");
    ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(800, 1)));
    dialogs.queueFiles({song});
    w->songListPanel->CmdAdd->click();
    EXPECT_TRUE(jobsSettled(*w));
    ASSERT_EQ(list().count(), 1);
    const QString copy = w->songListPanel->workingCopy(0);
    const QByteArray before = readFile(copy);
    const QString viaDots = QFileInfo(copy).absolutePath() + QStringLiteral("/../") +
                            QFileInfo(QFileInfo(copy).absolutePath()).fileName() +
                            QLatin1Char('/') + QFileInfo(copy).fileName();
    for (const QString& target : {copy, viaDots}) {
        choose(w->songListPanel->CmdSaveWav, target);
        EXPECT_TRUE(messages().last().contains("is the working copy of " + kName.quoted))
            << qPrintable(messages().last());
        EXPECT_EQ(readFile(copy), before);
    }

    ASSERT_TRUE(QFile::remove(copy));
    const QString target = in(QStringLiteral("all.wav"));
    choose(w->songListPanel->CmdSaveWav, target);
    EXPECT_TRUE(messages().last().startsWith(QStringLiteral("The list was not saved.\n\n")));
    EXPECT_TRUE(messages().last().contains(kName.quoted + " (its working copy " +
                                           QFileInfo(copy).fileName() + QLatin1Char(')')))
        << qPrintable(messages().last());
    EXPECT_FALSE(QFile::exists(target));
}

} // namespace
