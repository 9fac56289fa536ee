// Adding songs and the conversions as jobs: the busy window names the file being added and
// counts up to 100 % while the window thread stays free, and Cancel at any point leaves the list,
// the working folder and the target exactly as they were, after which the same job succeeds.
#include "app/JobProbe.h"
#include "app/WindowFixture.h"
#include "convert/ConvertPanel.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "engines/encoder/SongEncode.h"
#include "engines/tags/ClipTags.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"
#include "ui/Encodings.h"

#include <QTemporaryDir>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// A 30 s stereo MP3, made once for all cases: its decode tells its progress in many steps.
const QString& longMp3() {
    static QTemporaryDir dir;
    static const QString mp3 = [] {
        const QString wav = dir.filePath(QStringLiteral("tone.wav"));
        const QString file = dir.filePath(QStringLiteral("long.mp3"));
        writeCanonicalWav(wav, Sine{44100, 2, 30 * 44100});
        auto source = encode::openWavSource(wav);
        EXPECT_TRUE(source);
        if (source) {
            const auto failure = encode::encodeSong(
                **source, wav, file, encode::Settings{encode::Format::Mp3, 128}, ClipTags{});
            EXPECT_TRUE(failure.ok()) << failureText(failure);
        }
        return file;
    }();
    return mp3;
}

// longMp3() decoded by libmpg123, which the working copy must equal sample for sample.
const std::vector<std::int16_t>& longMp3Pcm() {
    static const std::vector<std::int16_t> pcm = [] {
        QString error;
        const auto decoded = decodeMp3(longMp3(), &error);
        EXPECT_TRUE(decoded) << qPrintable(error);
        return decoded ? decoded->pcm : std::vector<std::int16_t>{};
    }();
    return pcm;
}

class AddJobs;

// One job of the table: what is set up before the snapshot, the click that starts it, what the
// busy window says while it is held at a point ("" when not checked), and what a run to its end
// must have done.
struct Case {
    const char* name;
    std::function<void(AddJobs&)> prepare;
    std::function<void(AddJobs&)> start;
    std::function<QString(int permille)> words;
    std::function<void(AddJobs&)> check;
};

class AddJobs : public WindowFixture,
                public ::testing::WithParamInterface<std::tuple<std::size_t, int>> {
public:
    // The table's cases reach the window and the dialogs.
    using AppFixture::click;
    using AppFixture::filesIn;
    using AppFixture::writeFile;
    using WindowFixture::dialogs;
    using WindowFixture::list;
    using WindowFixture::w;

    // A 20 s stereo staircase of its own start in a file named `name`, so every song differs.
    QString song(const char* name, int start) {
        const QString file = path(QString::fromLatin1(name));
        if (!QFile::exists(file)) {
            EXPECT_TRUE(writeWav16(file, 2, 44100, staircase(20 * 44100, 2, start, 7)));
        }
        return file;
    }
    QString out(const char* name) const { return path(QStringLiteral("out/")) + name; }
    QStringList texts() const {
        QStringList t;
        for (int i = 0; i < list->count(); ++i)
            t << list->item(i)->text();
        return t;
    }
    // Everything a job may change: the files of the working folder and beside the targets, with
    // their bytes, and the list with its working copies and selection.
    QMap<QString, QByteArray> state() const {
        QMap<QString, QByteArray> all;
        for (const QString& folder : {path(QStringLiteral("out")), w->workPath()})
            for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                all.insert(f.absoluteFilePath(), readFile(f.absoluteFilePath()));
        for (int i = 0; i < list->count(); ++i)
            all.insert(QStringLiteral("song %1").arg(i),
                       (texts()[i] + '|' + w->songListPanel->workingCopy(i)).toUtf8());
        all.insert(QStringLiteral("selected"), QByteArray::number(w->songListPanel->ListIndex()));
        return all;
    }
    // The working copy of the song at `row` counted from the end (1: the last).
    QByteArray copyFromEnd(int row) const {
        return readFile(w->songListPanel->workingCopy(list->count() - row));
    }
    static void expectPcm(const QByteArray& wav, const std::vector<std::int16_t>& pcm) {
        ASSERT_EQ(wav.size(), 44 + qsizetype(pcm.size() * 2));
        EXPECT_TRUE(samples16(wav) == pcm);
    }
    QString lastMessage() const {
        const QStringList said = dialogs.messageTexts();
        return said.isEmpty() ? QString() : said.constLast();
    }
};

// The words of adding the three songs of "several songs", as the bar passes each one.
QString threeSongsWords(int permille) {
    const char* const names[] = {"a", "b", "c"};
    const int index = permille * 3 / 1000;
    return QStringLiteral("Adding %1.wav (%2 of 3)").arg(names[index]).arg(index + 1);
}

const Case kCases[] = {
    {"OneLongMp3", [](AddJobs&) {},
     [](AddJobs& t) {
         t.dialogs.queueFile(longMp3());
         t.w->songListPanel->CmdAdd->click();
     },
     [](int) { return QStringLiteral("Adding long.mp3"); },
     [](AddJobs& t) {
         EXPECT_EQ(t.texts().constLast(), "long");
         AddJobs::expectPcm(t.copyFromEnd(1), longMp3Pcm());
         EXPECT_TRUE(t.dialogs.messageTexts().isEmpty());
     }},
    {"SeveralSongs", [](AddJobs&) {},
     [](AddJobs& t) {
         t.dialogs.queueFiles(
             {t.song("a.wav", -30000), t.song("b.wav", -10000), t.song("c.wav", 10000)});
         t.w->songListPanel->CmdAdd->click();
     },
     threeSongsWords,
     [](AddJobs& t) {
         EXPECT_EQ(t.texts().mid(t.list->count() - 3), (QStringList{"a", "b", "c"}));
         for (int i = 0; i < 3; ++i)
             EXPECT_EQ(t.copyFromEnd(3 - i), readFile(t.song(i == 0   ? "a.wav"
                                                             : i == 1 ? "b.wav"
                                                                      : "c.wav",
                                                             0)));
     }},
    {"Insert",
     [](AddJobs& t) {
         for (const char* name : {"x.wav", "y.wav"}) {
             t.dialogs.queueFile(t.song(name, name[0] == 'x' ? 1000 : 2000));
             AddJobs::click(*t.w, "CmdAdd");
         }
         t.list->setCurrentRow(1);
     },
     [](AddJobs& t) {
         t.dialogs.queueFiles({t.song("a.wav", -30000), t.song("b.wav", -10000)});
         t.w->songListPanel->CmdIns->click();
     },
     [](int permille) {
         return permille < 500   ? QStringLiteral("Adding a.wav (1 of 2)")
                : permille > 500 ? QStringLiteral("Adding b.wav (2 of 2)")
                                 : QString();
     },
     [](AddJobs& t) {
         // Above the selected song, in order; it stays selected.
         const QStringList names = t.texts();
         EXPECT_EQ(names.mid(names.size() - 3), (QStringList{"a", "b", "y"}));
         EXPECT_EQ(names.constFirst(), "x");
         EXPECT_EQ(t.w->songListPanel->ListIndex(), t.list->count() - 1);
         EXPECT_EQ(t.copyFromEnd(3), readFile(t.song("a.wav", 0)));
         EXPECT_EQ(t.copyFromEnd(2), readFile(t.song("b.wav", 0)));
     }},
    {"ConvertToWav",
     [](AddJobs& t) {
         t.writeFile(t.out("long.wav"), "earlier");
         t.w->convertPanel->txtWavSource->setText(longMp3());
         t.w->convertPanel->txtsavewav->setText(t.out("long.wav"));
     },
     [](AddJobs& t) {
         t.dialogs.queueQuestion(true); // the typed target is there already: replace it
         t.w->convertPanel->CmdconvertWav->click();
     },
     [](int) { return QStringLiteral("Converting......."); },
     [](AddJobs& t) {
         AddJobs::expectPcm(readFile(t.out("long.wav")), longMp3Pcm());
         EXPECT_EQ(t.copyFromEnd(1), readFile(t.out("long.wav"))); // listed on the way
         EXPECT_EQ(t.lastMessage(), "Convert Finish: long.wav is saved.");
     }},
    {"ConvertToMp3",
     [](AddJobs& t) {
         t.writeFile(t.out("clip.mp3"), "earlier");
         t.w->convertPanel->txtEncodeSource->setText(longMp3());
         t.w->convertPanel->txtEncodeTarget->setText(t.out("clip.mp3"));
     },
     [](AddJobs& t) {
         t.dialogs.queueQuestion(true);
         t.w->convertPanel->CmdConvertMP3->click();
     },
     [](int) { return QStringLiteral("Converting......."); },
     [](AddJobs& t) {
         // The decode's end started the encoding, which removes the decoded copy.
         ASSERT_TRUE(QTest::qWaitFor([&] { return t.w->encodings().pending() == 0; }, 120000));
         EXPECT_EQ(t.lastMessage(), "Finish Save: clip.mp3 is saved.");
         QString error;
         const auto frames = readFrames(t.out("clip.mp3"), &error);
         ASSERT_TRUE(frames) << qPrintable(error);
         EXPECT_GT(frames->size(), 1000u);
         EXPECT_EQ(t.list->count(), 0);
         EXPECT_TRUE(AddJobs::filesIn(t.w->workPath()).isEmpty());
     }},
};

TEST_P(AddJobs, CancelLeavesAllAsItWasAndTheJobThenSucceeds) {
    const Case& c = kCases[std::get<0>(GetParam())];
    const int cancelAt = std::get<1>(GetParam());
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("out"))));
    ASSERT_FALSE(longMp3Pcm().empty());
    c.prepare(*this);
    const auto before = state();

    auto hold = std::make_unique<HoldAt>(cancelAt);
    c.start(*this);
    cancelHeld(*hold, *w, w->busyWindow().window(), w->jobs(), c.words(cancelAt));
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
    EXPECT_EQ(w->encodings().pending(), 0);
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());

    // Once more, to its end: the progress counts up to 100 % and the window never stalls.
    hold.reset();
    const WatchedRuns runs = watchRuns(w->jobs(), [&] {
        c.start(*this);
        ASSERT_TRUE(jobsSettled(*w));
        c.check(*this);
    });
    EXPECT_TRUE(runs.progressComplete);
    EXPECT_LE(runs.worstBusyMs, kWorstBusyMs);
}

INSTANTIATE_TEST_SUITE_P(CancelAt, AddJobs,
                         ::testing::Combine(::testing::Range<std::size_t>(0, std::size(kCases)),
                                            ::testing::Values(100, 500, 900)),
                         [](const auto& row) {
                             return std::string(kCases[std::get<0>(row.param)].name) + "_" +
                                    std::to_string(std::get<1>(row.param) / 10) + "pct";
                         });

} // namespace
