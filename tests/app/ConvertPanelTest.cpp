// The convert panel driven through the real window: its buttons clicked, its dialogs answered
// by script, the encoder's completion awaited.
#include "app/Frmmain.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "support/PeerEncodes.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"
#include "ui/OutputChoice.h"
#include "ui/SongFilter.h"

#include "support/AppFixture.h"

#include <QSignalSpy>
#include <QTimer>

#include <functional>

using namespace quaverly;

namespace {

const QString kCbrMp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
constexpr std::uint32_t kCbrFrames = 19584; // stereo, 44.1 kHz, 16-bit once decoded

// The scripted dialogs, with a look at the world at the moment each message appears.
class ProbeDialogs final : public ForwardingDialogs {
public:
    ProbeDialogs() : ForwardingDialogs(script) {} // keeps a reference; `script` is built next
    ScriptedDialogs script;
    std::function<void(const QString& text)> onMessage;

    void message(const QString& title, const QString& text, Icon icon) override {
        if (onMessage)
            onMessage(text);
        ForwardingDialogs::message(title, text, icon);
    }
};

class ConvertPanelTest : public test::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        music = path(QStringLiteral("music"));
        out = path(QStringLiteral("out"));
        ASSERT_TRUE(QDir().mkpath(music));
        ASSERT_TRUE(QDir().mkpath(out));
    }

    std::unique_ptr<Frmmain> start() {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        w->toolbarAction(QStringLiteral("Convert"))->trigger();
        return w;
    }

    // Answers the next file dialog with `answer` ("" cancels) and clicks `chooser`.
    void choose(QPushButton* chooser, const QString& answer) {
        dialogs.script.queueFile(answer);
        chooser->click();
    }

    QStringList messages() const { return dialogs.script.messageTexts(); }

    static QStringList songs(const Frmmain& w) {
        QStringList names;
        for (int i = 0; i < w.songListPanel->List1->count(); ++i)
            names << w.songListPanel->List1->item(i)->text();
        return names;
    }

    // Waits for the completion handling of the next encoding; it is delivered through the
    // event loop, so waiting may begin after the click that started it.
    static bool waitForEncoding(Frmmain& w) {
        QSignalSpy done(&w.encodings(), &Encodings::finished);
        return done.wait(180000);
    }

    ProbeDialogs dialogs;
    QString music, out;
};

TEST_F(ConvertPanelTest, ChoosersFillTheirBoxesACancelEmptiesThemAndAnEmptyBoxDoesNothing) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    w->BaseFolder = out;
    const struct {
        QPushButton* chooser;
        QLineEdit* box;
        QPushButton* convert;
        ScriptedDialogs::Kind kind;
        QString filter;
        QString folder; // a save first opens in the output folder, then where the last was picked
        const char* suffix;
    } choosers[] = {
        // Either source may be a song of any format the song reader reads.
        {p.CmdopenMp3, p.txtWavSource, p.CmdconvertWav, ScriptedDialogs::Kind::OpenFile,
         songFileFilter(), QString(), ""},
        {p.CmdSavewav2, p.txtsavewav, p.CmdconvertWav, ScriptedDialogs::Kind::SaveFile,
         "Wav File (*.wav)", out, "wav"},
        {p.Cmdopenwav, p.txtEncodeSource, p.CmdConvertMP3, ScriptedDialogs::Kind::OpenFile,
         songFileFilter(), music, ""},
        {p.CmdSaveMP3, p.txtEncodeTarget, p.CmdConvertMP3, ScriptedDialogs::Kind::SaveFile,
         // Every written format, the output frame's first.
         encodedSaveFilter(encode::Format::Mp3), music, "mp3"},
    };
    for (const auto& c : choosers) {
        const QString picked = music + "/" + c.chooser->objectName() + "." + c.suffix;
        choose(c.chooser, picked);
        EXPECT_EQ(c.box->text(), picked);
        const auto& asked = dialogs.script.asked().constLast();
        EXPECT_EQ(asked.kind, c.kind) << qPrintable(c.chooser->objectName());
        EXPECT_EQ(asked.file.filter, c.filter);
        EXPECT_EQ(asked.file.folder, c.folder);
        EXPECT_EQ(asked.file.defaultSuffix, QLatin1String(c.suffix));
    }

    // The boxes keep their text while other panels are shown.
    for (const char* key : {"Wav", "Setting", "Help", "Rec", "Convert"})
        w->toolbarAction(QLatin1String(key))->trigger();
    for (const auto& c : choosers)
        EXPECT_TRUE(c.box->text().startsWith(music)) << qPrintable(c.box->objectName());

    // A cancel in any chooser empties its box, and its convert button is then disabled.
    for (const auto& c : choosers) {
        const QString before = c.box->text();
        choose(c.chooser, QString());
        EXPECT_TRUE(c.box->text().isEmpty()) << qPrintable(c.chooser->objectName());
        EXPECT_FALSE(c.convert->isEnabled()) << qPrintable(c.chooser->objectName());
        const int asked = int(dialogs.script.asked().size());
        c.convert->click();
        EXPECT_EQ(int(dialogs.script.asked().size()), asked);
        EXPECT_EQ(w->encodings().pending(), 0);
        EXPECT_FALSE(busyShown());
        EXPECT_TRUE(w->isEnabled());
        c.box->setText(before);
    }
    EXPECT_TRUE(songs(*w).isEmpty());
    EXPECT_EQ(filesIn(w->workPath()), QStringList());
    EXPECT_EQ(filesIn(out), QStringList());
    EXPECT_EQ(dialogs.script.unexpected(), 0);
}

TEST_F(ConvertPanelTest, Mp3ToWavWritesTheTargetListsTheSongAndThenSaysConvertFinish) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    const QByteArray source = readFile(kCbrMp3);
    QString error;
    const auto reference = test::decodeMp3(kCbrMp3, &error);
    ASSERT_TRUE(reference) << qPrintable(error);
    ASSERT_EQ(reference->frames(), kCbrFrames);

    const QString first = out + "/cbr.wav";
    const QString second = out + "/again.wav";
    // An older, longer file at the second target must not keep its tail.
    writeFile(second, QByteArray(500000, '\x7f'));

    QStringList targetsAtFinish;
    dialogs.onMessage = [&](const QString& text) {
        if (text.startsWith(QLatin1String("Convert Finish: ")))
            targetsAtFinish << QString::number(QFileInfo(p.txtsavewav->text()).size());
    };
    for (const QString& target : {first, second}) {
        choose(p.CmdopenMp3, kCbrMp3);
        choose(p.CmdSavewav2, target);
        // While the song decodes the window is disabled and the busy window says so.
        bool probed = false, enabledWhileDecoding = true, busyWhileDecoding = false;
        QTimer::singleShot(0, w.get(), [&] {
            probed = true;
            enabledWhileDecoding = w->isEnabled();
            busyWhileDecoding = busyShown();
        });
        p.CmdconvertWav->click();
        EXPECT_TRUE(jobsSettled(*w));
        EXPECT_TRUE(probed);
        EXPECT_FALSE(enabledWhileDecoding);
        EXPECT_TRUE(busyWhileDecoding);
        EXPECT_EQ(w->busyWindow().window().Label1->text(), "Converting.......");
        EXPECT_FALSE(busyShown());
        EXPECT_TRUE(w->isEnabled());

        const QByteArray wav = readFile(target);
        ASSERT_EQ(wav.size(), 44 + kCbrFrames * 4) << qPrintable(target);
        WavHeader expected = WavHeader::pcm(2, 44100, 16, kCbrFrames * 4);
        const auto head = expected.toBytes();
        EXPECT_EQ(wav.left(44), QByteArray(reinterpret_cast<const char*>(head.data()), 44));
        EXPECT_EQ(test::le32(wav, 4), kCbrFrames * 4 + 36);
        EXPECT_EQ(test::le32(wav, 40), kCbrFrames * 4);
        EXPECT_TRUE(test::samples16(wav) == reference->pcm);
    }

    // Each conversion listed the song with a working copy of its own, equal to its target.
    const QString name = QStringLiteral("Basshunter - I Can Walk On Water I Can Fly"); // its tags
    EXPECT_EQ(songs(*w), (QStringList{name, name}));
    const QStringList copies = w->songList->workingCopies();
    ASSERT_EQ(copies.size(), 2);
    EXPECT_NE(copies[0], copies[1]);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(QFileInfo(copies[i]).absolutePath() + "/", w->workPath());
        EXPECT_EQ(readFile(copies[i]), readFile(i == 0 ? first : second));
    }
    EXPECT_EQ(filesIn(w->workPath()).size(), 2);
    EXPECT_EQ(filesIn(out), (QStringList{"again.wav", "cbr.wav"})); // no temporary files

    // "Convert Finish" came once per conversion, each time with its target complete.
    EXPECT_EQ(messages(), (QStringList{"Convert Finish: cbr.wav is saved.",
                                       "Convert Finish: again.wav is saved."}));
    const QString full = QString::number(44 + kCbrFrames * 4);
    EXPECT_EQ(targetsAtFinish, (QStringList{full, full}));
    EXPECT_EQ(readFile(kCbrMp3), source);
    EXPECT_EQ(dialogs.script.unexpected(), 0);
}

TEST_F(ConvertPanelTest, Mp3ToWavFailuresSayNoConvertFinishAndReleaseTheWindow) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    const auto expectReleased = [&](const char* what) {
        EXPECT_TRUE(w->isEnabled()) << what;
        EXPECT_FALSE(busyShown()) << what;
        EXPECT_TRUE(messages().filter("Convert Finish").isEmpty()) << what;
    };

    // A source that no decoder reads: named once with why, nothing listed or written.
    const QString junk = music + "/notes.mp3";
    writeFile(junk, QByteArray("these are not the frames you are looking for\n").repeated(200));
    choose(p.CmdopenMp3, junk);
    choose(p.CmdSavewav2, out + "/notes.wav");
    p.CmdconvertWav->click();
    EXPECT_TRUE(jobsSettled(*w));
    expectReleased("undecodable");
    auto asked = dialogs.script.asked(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].title, "Quaverly");
    EXPECT_EQ(asked[0].text, "Not converted:\n\nnotes.mp3: holds no audio that Quaverly reads");
    EXPECT_TRUE(songs(*w).isEmpty());
    EXPECT_EQ(filesIn(w->workPath()), QStringList());
    EXPECT_EQ(filesIn(out), QStringList());

    // A target in a folder that does not exist: a message naming it, and no file anywhere.
    // The source is a WAV typed into the MP3 box: listing it needs no decoding, so the window
    // and the busy window are this handler's alone to release.
    dialogs.script.clear();
    const QString wav = music + "/tone.wav";
    test::writeCanonicalWav(wav, test::Sine{44100, 2, 4410});
    const QString missing = out + "/gone/tone.wav";
    choose(p.CmdopenMp3, wav);
    choose(p.CmdSavewav2, missing);
    p.CmdconvertWav->click();
    EXPECT_TRUE(jobsSettled(*w));
    expectReleased("missing folder");
    asked = dialogs.script.asked(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].icon, Dialogs::Icon::Critical);
    EXPECT_TRUE(asked[0].text.contains(missing)) << qPrintable(asked[0].text);
    EXPECT_FALSE(QFileInfo::exists(out + "/gone"));
    EXPECT_EQ(filesIn(out), QStringList());
    // Reading the source worked, so the song is in the list like any converted one.
    EXPECT_EQ(songs(*w), QStringList{"tone"});
}

TEST_F(ConvertPanelTest, WavToMp3EncodesAtTheSelectedBitRateAndSaysFinishSave) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    // The bit rate chosen on the Audio Edit panel, not the encoder's default nor the start's.
    w->toolbarAction(QStringLiteral("Wav"))->trigger();
    w->songListPanel->outputFrame->optBitRate96->click();
    w->toolbarAction(QStringLiteral("Convert"))->trigger();
    ASSERT_EQ(w->OutBitRate, 96);

    const QString wav = music + "/tone.wav";
    test::writeCanonicalWav(wav, test::Sine{44100, 2, 20 * 44100});
    const QByteArray source = readFile(wav);
    const QString mp3 = out + "/tone.mp3";
    choose(p.Cmdopenwav, wav);
    choose(p.CmdSaveMP3, mp3);

    qint64 sizeAtFinish = -1;
    dialogs.onMessage = [&](const QString& text) {
        if (text == QLatin1String("Finish Save: tone.mp3 is saved."))
            sizeAtFinish = QFileInfo(mp3).size();
    };
    p.CmdConvertMP3->click();
    // The encoding runs as a job: the busy window says so, and the window takes no input.
    EXPECT_TRUE(busyShown());
    EXPECT_EQ(w->busyWindow().window().Label1->text(), "Converting.......");
    EXPECT_FALSE(w->isEnabled());
    ASSERT_TRUE(waitForEncoding(*w));
    // An MP3 to WAV conversion afterwards.
    choose(p.CmdopenMp3, kCbrMp3);
    choose(p.CmdSavewav2, out + "/cbr.wav");
    p.CmdconvertWav->click();
    EXPECT_TRUE(jobsSettled(*w));

    EXPECT_EQ(messages().count("Finish Save: tone.mp3 is saved."), 1);
    EXPECT_EQ(messages().count("Convert Finish: cbr.wav is saved."), 1);
    EXPECT_GT(sizeAtFinish, 0);
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());
    QString error;
    const auto frames = test::readFrames(mp3, &error);
    ASSERT_TRUE(frames) << qPrintable(error);
    ASSERT_FALSE(frames->empty());
    for (const auto& f : *frames)
        ASSERT_EQ(f.kbps, 96);
    const auto decoded = test::decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << qPrintable(error);
    EXPECT_EQ(decoded->sampleRate, 44100);
    EXPECT_EQ(decoded->channels, 2);
    EXPECT_EQ(decoded->frames(), 20u * 44100u);
    EXPECT_NEAR(test::toneHz(*decoded, 0), 440, 2);
    // The source is the user's: it stays, untouched.
    EXPECT_EQ(readFile(wav), source);
    EXPECT_EQ(filesIn(out), (QStringList{"cbr.wav", "tone.mp3"}));
}

TEST_F(ConvertPanelTest, ASongOfAnotherFormatIsDecodedFirstAndTheDecodedCopyGoes) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    const QString wav = music + "/tone.wav";
    test::writeCanonicalWav(wav, test::Sine{44100, 2, 44100});
    const QString flac = music + "/tone.flac";
    if (const QString why = test::encodeWithPeer(test::kFlac, wav, flac); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString mp3 = out + "/tone.mp3";
    choose(p.Cmdopenwav, flac);
    choose(p.CmdSaveMP3, mp3);
    // The decode is a job of its own; as it ends, the encoding's job takes the window.
    qsizetype workFilesBetween = -1;
    QObject::connect(
        &w->jobs(), &Jobs::finished, w.get(),
        [&] { workFilesBetween = filesIn(w->workPath()).size(); }, Qt::SingleShotConnection);
    p.CmdConvertMP3->click();
    EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(busyShown());
    ASSERT_TRUE(waitForEncoding(*w));
    EXPECT_EQ(workFilesBetween, 1); // the decoded song, until the encoding ends
    EXPECT_EQ(messages(), QStringList{"Finish Save: tone.mp3 is saved."});
    QString error;
    const auto decoded = test::decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << qPrintable(error);
    EXPECT_EQ(decoded->frames(), 44100u);
    EXPECT_NEAR(test::toneHz(*decoded, 0), 440, 2);
    EXPECT_EQ(filesIn(w->workPath()), QStringList());
    EXPECT_TRUE(songs(*w).isEmpty()); // only "Convert to Wav" lists the song
    EXPECT_FALSE(busyShown());
}

TEST_F(ConvertPanelTest, WavToMp3FailuresSayNoFinishSave) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    // Words, whatever the name: the song reader refuses them before any encoding starts.
    const QString notWav = music + "/notes.wav";
    writeFile(notWav, QByteArray("plain text, no RIFF here\n").repeated(100));
    const QString mp3 = out + "/notes.mp3";
    writeFile(mp3, "an older file");
    choose(p.Cmdopenwav, notWav);
    choose(p.CmdSaveMP3, mp3);
    p.CmdConvertMP3->click();
    EXPECT_TRUE(jobsSettled(*w));
    EXPECT_EQ(w->encodings().pending(), 0);
    const auto asked = dialogs.script.asked(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].title, "Quaverly");
    EXPECT_TRUE(asked[0].text.startsWith("Not converted:\n\nnotes.wav: "))
        << qPrintable(asked[0].text);
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(filesIn(w->workPath()), QStringList());
    // Neither file of the user's is removed or changed.
    EXPECT_EQ(readFile(notWav), QByteArray("plain text, no RIFF here\n").repeated(100));
    EXPECT_EQ(readFile(mp3), "an older file");

    // A target that is the source itself never reaches the encoder.
    dialogs.script.clear();
    const QString wav = music + "/tone.wav";
    test::writeCanonicalWav(wav, test::Sine{44100, 1, 4410});
    const QByteArray source = readFile(wav);
    choose(p.Cmdopenwav, wav);
    choose(p.CmdSaveMP3, wav);
    p.CmdConvertMP3->click();
    EXPECT_TRUE(jobsSettled(*w));
    EXPECT_EQ(w->encodings().pending(), 0);
    EXPECT_FALSE(busyShown());
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].contains(QDir::toNativeSeparators(wav))) << qPrintable(messages()[0]);
    EXPECT_EQ(readFile(wav), source);
}

TEST_F(ConvertPanelTest, QuittingWhileAnMp3IsSavedStopsItOnlyOnTheUsersWord) {
    auto w = start();
    ConvertPanel& p = *w->convertPanel;
    // Two minutes of sound: far longer to encode than the test takes to quit.
    const QString wav = music + "/long.wav";
    test::writeCanonicalWav(wav, test::Sine{44100, 2, 120 * 44100});
    const QString mp3 = out + "/long.mp3";
    writeFile(mp3, "an older file");
    choose(p.Cmdopenwav, wav);
    choose(p.CmdSaveMP3, mp3);
    p.CmdConvertMP3->click();
    QSignalSpy quit(w.get(), &Frmmain::quitRequested);

    // "Wait": the window stays and the encoding goes on.
    dialogs.script.queueChoice(0);
    w->close();
    EXPECT_EQ(quit.count(), 0);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->encodings().pending(), 1);

    // "Stop and Quit" from the toolbar: stopped, nothing half-written, the older file kept,
    // and no word of the stopped encoding afterwards.
    dialogs.script.queueChoice(1);
    w->toolbarAction(QStringLiteral("Exit"))->trigger();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(dialogs.script.asked(ScriptedDialogs::Kind::Choice).size(), 2);
    EXPECT_EQ(w->encodings().pending(), 0);
    EXPECT_FALSE(busyShown());
    EXPECT_EQ(readFile(mp3), "an older file");
    EXPECT_EQ(filesIn(out), QStringList{"long.mp3"});
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages().isEmpty());
}

} // namespace
