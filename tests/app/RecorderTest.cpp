// The recorder panel in the window on the virtual device (its clock ten times faster than real
// time): the inputs of each visit, a take of the line-in's staircase saved as WAV to the sample
// and as MP3, cancelled and failed saves, the question of Record over a take not saved, no
// device, and leaving the panel while recording.
#include "app/Frmmain.h"
#include "engines/audio/VirtualBackend.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <fileref.h>
#include <tag.h>

using namespace quaverly;
using namespace quaverly::test;
using audio::VirtualBackend;

namespace {

class Recorder : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device);
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        p = w->recorderPanel;
    }
    void TearDown() override {
        w.reset();
        device->setFailure(QString());
        device->setDefaultSource(VirtualBackend::kMicrophone);
        AppFixture::TearDown();
    }

    void visit() { w->toolbarAction(QStringLiteral("Rec"))->trigger(); }
    // A take of at least `seconds` of the line-in, ended with "Stop".
    void record(double seconds) {
        p->cmbInput->setCurrentIndex(VirtualBackend::kLineIn);
        p->btnRecord->click();
        ASSERT_EQ(p->btnRecord->text(), "Stop");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return take().dataBytes() >= seconds * RecordTake::kBytesPerSecond; }, 20000));
        p->btnRecord->click();
        ASSERT_EQ(p->btnRecord->text(), "Record");
    }
    const RecordTake& take() const { return w->recorder->engine().take(); }
    QByteArray takeBytes() const {
        return QByteArray(reinterpret_cast<const char*>(take().data()), qsizetype(take().length()));
    }
    void save(const char* choice, const QString& file) {
        p->btnSave->click();
        EXPECT_TRUE(p->CmdWav->isVisible() && p->CmdMp3->isVisible());
        dialogs.queueFile(file);
        click(*w, choice);
        EXPECT_FALSE(p->CmdWav->isVisible() || p->CmdMp3->isVisible());
    }

    std::shared_ptr<VirtualBackend> device;
    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    RecorderPanel* p = nullptr;
};

TEST_F(Recorder, EachVisitListsTheInputsOnceWithTheOneRecordedFromChosen) {
    device->setDefaultSource(VirtualBackend::kMonitor);
    visit();
    visit();
    ASSERT_EQ(p->cmbInput->count(), 3);
    EXPECT_EQ(p->cmbInput->currentIndex(), VirtualBackend::kMonitor);
    EXPECT_EQ(p->lblInputType->text(), "Wave/PCM");
    EXPECT_EQ(p->sldInputLevel->value(), 100);
    EXPECT_TRUE(p->btnRecord->isEnabled());
    EXPECT_FALSE(p->btnPlay->isEnabled() || p->btnSave->isEnabled());

    // Another input: it is the one recorded from, its level follows the slider, and the
    // system's default input stays as it was.
    p->cmbInput->setCurrentIndex(VirtualBackend::kMicrophone);
    EXPECT_EQ(p->lblInputType->text(), "Microphone");
    p->sldInputLevel->setValue(40);
    const auto sources = device->sources();
    ASSERT_TRUE(sources);
    EXPECT_EQ((*sources)[VirtualBackend::kMicrophone].volumePercent, 40);
    EXPECT_EQ((*sources)[VirtualBackend::kMonitor].volumePercent, 100);
    EXPECT_EQ(*device->defaultSource(), VirtualBackend::kMonitor);
    EXPECT_TRUE(dialogs.messageTexts().isEmpty());

    // The level is the program's only while the program runs: quitting sets it back.
    w->close();
    EXPECT_EQ((*device->sources())[VirtualBackend::kMicrophone].volumePercent, 100);
}

TEST_F(Recorder, ATakeIsTheInputToTheSampleAndSavesAsWavReplacingAFileWhole) {
    visit();
    record(2.5);
    EXPECT_TRUE(p->btnPlay->isEnabled() && p->btnSave->isEnabled());
    const QByteArray bytes = takeBytes();
    EXPECT_EQ(le32(bytes, 4), std::uint32_t(bytes.size() - 8));
    EXPECT_EQ(le32(bytes, 40), std::uint32_t(bytes.size() - 44));
    EXPECT_EQ(p->lblPos->text(), RecorderHandlers::takeText(bytes.size() - 44));

    // Over a longer file, twice: exactly the take each time.
    const QString out = path("take.wav");
    writeFile(out, QByteArray(bytes.size() * 2, 'x'));
    for (int i = 0; i < 2; ++i) {
        save("CmdWav", out);
        EXPECT_EQ(readFile(out), bytes);
    }
    const auto s = samples16(bytes);
    std::size_t wrong = 0;
    for (std::size_t f = 0; f < s.size() / 2; ++f)
        wrong += s[2 * f] != VirtualBackend::lineInSample(f) ||
                 s[2 * f + 1] != VirtualBackend::lineInSample(f);
    EXPECT_EQ(wrong, 0u);
    // The last name is offered again, by both save dialogs.
    save("CmdMp3", QString());
    EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::SaveFile).last().file.folder, path("take.mp3"));

    // Playing: position and length; a new take disables play and save until it ends.
    p->btnPlay->click();
    w->recorder->tmrRecTest_Timer();
    const QString whole = RecorderHandlers::takeText(bytes.size() - 44).section(' ', 1);
    EXPECT_TRUE(p->lblPos->text().startsWith("Playing ") &&
                p->lblPos->text().endsWith(" of " + whole))
        << qPrintable(p->lblPos->text());
    p->btnRecord->click();
    EXPECT_FALSE(p->btnPlay->isEnabled() || p->btnSave->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return take().dataBytes() >= RecordTake::kBytesPerSecond / 5; }, 10000));
    w->recorder->tmrRecTest_Timer();
    EXPECT_NE(p->lblPos->text(), RecorderHandlers::takeText(0));
    p->btnRecord->click();
    EXPECT_TRUE(p->btnPlay->isEnabled() && p->btnSave->isEnabled());
    EXPECT_EQ(dialogs.messageTexts(), QStringList(2, "Finish Save: take.wav is saved."));
}

TEST_F(Recorder, SavesAsMp3ThroughTheEncoderAndNeverEncodesWhatWasNotWritten) {
    visit();
    record(1.0);
    QSignalSpy done(&w->encodings(), &Encodings::finished);
    const QString mp3 = path("take.mp3");

    // Cancelled: nothing written, nothing started.
    save("CmdWav", QString());
    save("CmdMp3", QString());
    EXPECT_EQ(w->encodings().pending(), 0);
    EXPECT_TRUE(filesIn(w->workPath()).isEmpty());

    // The work file cannot be written: said, and no encoding starts.
    const QString work = w->workPath();
    ASSERT_TRUE(QDir(work).removeRecursively());
    writeFile(QDir::cleanPath(work), "not a folder");
    save("CmdMp3", mp3);
    EXPECT_EQ(w->encodings().pending(), 0);
    ASSERT_EQ(dialogs.messageTexts().size(), 1);
    EXPECT_TRUE(dialogs.messageTexts()[0].startsWith("Can't create the file\r\n\r\n"));
    ASSERT_TRUE(QFile::remove(QDir::cleanPath(work)) && QDir().mkpath(work));

    save("CmdMp3", mp3);
    EXPECT_TRUE(w->isEnabled());
    ASSERT_EQ(done.size(), 2); // the failed save and this one, each ended within its save()
    EXPECT_EQ(dialogs.messageTexts().last(),
              "Finish Save: " + QFileInfo(mp3).fileName() + " is saved.");
    QString error;
    const auto decoded = test::decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << qPrintable(error);
    EXPECT_EQ(decoded->frames() * 4, take().dataBytes());
    EXPECT_TRUE(filesIn(w->workPath()).isEmpty()); // the work file went with the job
}

TEST_F(Recorder, RecordOverATakeNotSavedAsksToSaveDiscardOrKeepIt) {
    visit();
    const QDateTime before = QDateTime::currentDateTime();
    record(0.5);
    const QDateTime after = QDateTime::currentDateTime();
    const QByteArray first = takeBytes();

    // Cancel, and Save with its dialog cancelled: the take stays and nothing records.
    for (const int answer : {2, 0}) {
        dialogs.queueChoice(answer);
        if (answer == 0)
            dialogs.queueFile(QString());
        p->btnRecord->click();
        EXPECT_EQ(p->btnRecord->text(), "Record") << answer;
        EXPECT_EQ(takeBytes(), first) << answer;
    }
    const auto asked = dialogs.asked(ScriptedDialogs::Kind::Choice);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].choices, (QStringList{"Save", "Discard", "Cancel"}));
    EXPECT_EQ(dialogs.asked(ScriptedDialogs::Kind::SaveFile).last().file.filter.count("*.wav"), 1);

    // Save as FLAC: written, titled with the minute the take began, and then the next take runs.
    const QString flac = path("take.flac");
    dialogs.queueChoice(0);
    dialogs.queueFile(flac);
    click(*w, "btnRecord");
    EXPECT_EQ(dialogs.messageTexts().last(), "Finish Save: take.flac is saved.");
    EXPECT_EQ(p->btnRecord->text(), "Stop");
    const TagLib::FileRef saved(QFile::encodeName(flac).constData());
    ASSERT_FALSE(saved.isNull());
    const QString title = QString::fromStdString(saved.tag()->title().to8Bit(true));
    EXPECT_TRUE(title == RecorderHandlers::takeTitle(before) ||
                title == RecorderHandlers::takeTitle(after))
        << qPrintable(title);
    EXPECT_TRUE(QRegularExpression("^Recording \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$")
                    .match(title)
                    .hasMatch());
    p->btnRecord->click();

    // Discard: the next take runs at once.
    dialogs.queueChoice(1);
    p->btnRecord->click();
    EXPECT_EQ(p->btnRecord->text(), "Stop");
    EXPECT_TRUE(dialogs.allAnswered());
    EXPECT_EQ(dialogs.unexpected(), 0);
}

TEST_F(Recorder, WithoutADeviceItSaysSoAndWorksOnTheNextVisit) {
    device->setFailure(QStringLiteral("no sound server"));
    visit();
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Can't initialize device\r\n\r\nerror code: 3"});
    EXPECT_EQ(p->cmbInput->count(), 0);
    EXPECT_TRUE(p->cmbInput->placeholderText().contains("no sound server"));
    EXPECT_FALSE(p->btnRecord->isEnabled());

    device->setFailure(QString());
    visit();
    EXPECT_EQ(p->cmbInput->count(), 3);
    EXPECT_TRUE(p->btnRecord->isEnabled());
}

TEST_F(Recorder, LeavingThePanelWhileRecordingEndsTheTakeAsksAndFreesIt) {
    for (const char* key : {"Wav", "Exit"}) {
        visit();
        p->btnRecord->click();
        ASSERT_TRUE(w->recorder->engine().recording());
        ASSERT_TRUE(QTest::qWaitFor([&] { return take().dataBytes() > 0; }, 10000));
        // Cancel keeps the take and the panel; Discard lets it go.
        dialogs.queueChoice(2);
        w->toolbarAction(QString::fromLatin1(key))->trigger();
        EXPECT_TRUE(!p->isHidden() && take().exists()) << key;
        dialogs.queueChoice(1);
        w->toolbarAction(QString::fromLatin1(key))->trigger();
        EXPECT_FALSE(w->recorder->engine().recording()) << key;
        EXPECT_FALSE(take().exists()) << key;
        EXPECT_EQ(device->openStreams(), 0) << key;
        EXPECT_EQ(p->btnRecord->text(), "Record") << key;
    }
    EXPECT_TRUE(dialogs.allAnswered());
}

} // namespace
