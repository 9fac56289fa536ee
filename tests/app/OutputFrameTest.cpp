// The output frame of the Audio Edit panel: presets set the format and its setting, a change by
// hand lets the preset go, "Save Setting" keeps the choice in outputs.ini beside an unchanged
// config.ini; and the convert panel and the recorder write the chosen formats.
#include "app/DecodedSong.h"
#include "app/Frmmain.h"
#include "engines/audio/VirtualBackend.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QSignalSpy>
#include <QTest>

using namespace quaverly;
using namespace quaverly::test;
using encode::Format;

namespace {

class OutputFrame : public AppFixture {
protected:
    std::unique_ptr<Frmmain> start() {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        return w;
    }
    static void pick(QComboBox* box, const QVariant& data) {
        const int i = box->findData(data);
        ASSERT_GE(i, 0) << qPrintable(data.toString());
        box->setCurrentIndex(i);
    }
    // What the frame shows as the setting: the checked option for MP3, else CboSetting's value.
    static int shownValue(const Frmmain& w) {
        const AudioEditPanel& p = *w.songListPanel;
        if (p.outputFrame->CboSetting->isVisibleTo(p.outputFrame))
            return p.outputFrame->CboSetting->currentData().toInt();
        return p.outputFrame->bitRateGroup->checkedId();
    }
    bool waitForEncoding(Frmmain& w) {
        QSignalSpy done(&w.encodings(), &Encodings::finished);
        return w.encodings().pending() == 0 || done.wait(60000);
    }

    ScriptedDialogs dialogs;
};

TEST_F(OutputFrame, APresetSetsFormatAndValueAndAChangeByHandLetsItGo) {
    auto w = start();
    AudioEditPanel& p = *w->songListPanel;
    EXPECT_EQ(p.outputFrame->CboPreset->currentText(), "None");
    EXPECT_EQ(p.outputFrame->CboFormat->count(), int(formats::encoded().size()));
    EXPECT_EQ(p.outputFrame->CboFormat->currentText(), "MP3");
    EXPECT_EQ(shownValue(*w), 256);

    const struct {
        const char* preset;
        const char* format;
        int value;
        const char* save;
    } cases[] = {
        {"iphone-ringtone", "M4R", 256, "Save The List to M4R"},
        {"android-ringtone", "Ogg", 6, "Save The List to Ogg"},
        {"mp3-any-phone", "MP3", 192, "Save The List to MP3"},
        {"lossless", "FLAC", 5, "Save The List to FLAC"},
    };
    for (const auto& c : cases) {
        pick(p.outputFrame->CboPreset, QString::fromLatin1(c.preset));
        EXPECT_EQ(p.outputFrame->CboFormat->currentText(), c.format) << c.preset;
        EXPECT_EQ(shownValue(*w), c.value) << c.preset;
        EXPECT_EQ(w->Output.value(w->Output.format()), c.value) << c.preset;
        EXPECT_EQ(p.CmdSaveList->text(), c.save) << c.preset;
    }
    EXPECT_EQ(w->OutBitRate, 192) << "the MP3 preset's bit rate is the MP3 saves'";
    EXPECT_EQ(p.outputFrame->CboSetting->currentText(), "level 5");

    // By hand, each of the three lets the preset go and keeps what was chosen.
    pick(p.outputFrame->CboSetting, 8);
    EXPECT_EQ(p.outputFrame->CboPreset->currentText(), "None");
    EXPECT_EQ(w->Output.value(Format::Flac), 8);
    pick(p.outputFrame->CboPreset, QStringLiteral("iphone-ringtone"));
    pick(p.outputFrame->CboFormat, int(Format::Opus));
    EXPECT_EQ(p.outputFrame->CboPreset->currentText(), "None");
    EXPECT_EQ(p.outputFrame->CboSetting->currentText(), "128 kbit/s");
    pick(p.outputFrame->CboPreset, QStringLiteral("mp3-any-phone"));
    click(*w, "Option2");
    EXPECT_EQ(p.outputFrame->CboPreset->currentText(), "None");
    EXPECT_EQ(w->OutBitRate, 96);
    EXPECT_EQ(w->Output.format(), Format::Mp3);
}

TEST_F(OutputFrame, SaveSettingKeepsTheChoiceInOutputsIniAndConfigIniAsItWas) {
    const QString outputs = QFileInfo(configFile).absolutePath() + "/outputs.ini";
    OutputChoice chosen;
    {
        auto w = start();
        AudioEditPanel& p = *w->songListPanel;
        pick(p.outputFrame->CboFormat, int(Format::Flac));
        pick(p.outputFrame->CboSetting, 8);
        pick(p.outputFrame->CboFormat, int(Format::Opus));
        pick(p.outputFrame->CboSetting, 64);
        pick(p.outputFrame->CboPreset, QStringLiteral("android-notification"));
        click(*w, "CmdSaveSetting");
        EXPECT_TRUE(dialogs.asked().isEmpty());
        chosen = w->Output;
    }
    EXPECT_EQ(readFile(configFile), "256\r\n" + QDir::toNativeSeparators(home).toUtf8() + "\r\n");
    EXPECT_EQ(readFile(outputs),
              "format=ogg\npreset=android-notification\nm4a=256\nm4r=256\nogg=6\nopus=64\n"
              "flac=8\n");
    {
        auto w = start();
        EXPECT_EQ(w->Output, chosen);
        EXPECT_EQ(w->songListPanel->outputFrame->CboPreset->currentText(), "Android notification");
        EXPECT_EQ(w->songListPanel->outputFrame->CboFormat->currentText(), "Ogg");
    }

    // A damaged outputs.ini gives the defaults; config.ini still counts.
    writeFile(configFile, "96\r\n" + home.toUtf8() + "\r\n");
    for (const QByteArray& damaged :
         {QByteArray("format=wav\n"), QByteArray("flac=9\n"), QByteArray("preset=nokia\n"),
          QByteArray("ogg 6\n"), QByteArray("format=flac\ncolour=red\n"),
          QByteArray("keep=no\n")}) {
        writeFile(outputs, damaged);
        auto w = start();
        OutputChoice defaults;
        defaults.setValue(Format::Mp3, 96);
        EXPECT_EQ(w->Output, defaults) << damaged.constData();
        EXPECT_EQ(w->OutBitRate, 96) << damaged.constData();
    }
    // A preset whose value the file contradicts stands no more; the rest is taken.
    writeFile(outputs, "format=ogg\npreset=android-ringtone\nogg=3\n");
    auto w = start();
    EXPECT_EQ(w->Output.preset(), nullptr);
    EXPECT_EQ(w->Output.value(Format::Vorbis), 3);
    EXPECT_EQ(w->songListPanel->outputFrame->CboSetting->currentText(), "quality 3");

    // The "keep" box, cleared, is kept as cleared.
    w->songListPanel->chkKeepSound->click();
    click(*w, "CmdSaveSetting");
    EXPECT_TRUE(readFile(outputs).endsWith("keep=0\n")) << readFile(outputs).constData();
    w.reset(); // the settings are read at start
    w = start();
    EXPECT_FALSE(w->Output.keepsSound());
    EXPECT_FALSE(w->songListPanel->chkKeepSound->isChecked());
}

TEST_F(OutputFrame, ConvertWritesTheFormatTheTargetNamesWithTheFramesSetting) {
    auto w = start();
    pick(w->songListPanel->outputFrame->CboFormat, int(Format::Flac));
    w->toolbarAction(QStringLiteral("Convert"))->trigger();
    ConvertPanel& p = *w->convertPanel;
    EXPECT_EQ(p.CmdConvertMP3->text(), "Convert to FLAC");
    dialogs.queueFile(QString());
    p.CmdSaveMP3->click();
    const auto asked = dialogs.asked(ScriptedDialogs::Kind::SaveFile).constLast();
    EXPECT_TRUE(asked.file.filter.startsWith("FLAC (*.flac);;MP3 (*.mp3);;"))
        << qPrintable(asked.file.filter);
    EXPECT_EQ(asked.file.defaultSuffix, "flac");

    // A stereo staircase; the FLAC decodes to it sample for sample.
    const QString wav = path("stairs.wav");
    const auto stairs = staircase(44100 + 7, 2, -20000, 3);
    ASSERT_TRUE(writeWav16(wav, 2, 44100, stairs));
    p.txtEncodeSource->setText(wav);
    p.txtEncodeTarget->setText(path("stairs.Flac"));
    p.CmdConvertMP3->click();
    EXPECT_TRUE(jobsSettled(*w));
    ASSERT_TRUE(waitForEncoding(*w));
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: stairs.Flac is saved."});
    const DecodedSong flac = decodeAll(path("stairs.Flac"));
    EXPECT_EQ(flac.kind, SongKind::Flac);
    EXPECT_TRUE(flac.samples == stairs);

    // The target's name decides over the frame: an MP3 target is an MP3, and a typed WAV
    // target a WAV file, never encoded data under that name (and the song is not listed).
    p.txtEncodeTarget->setText(path("stairs.mp3"));
    EXPECT_EQ(p.CmdConvertMP3->text(), "Convert to MP3");
    p.txtEncodeTarget->setText(path("typed.wav"));
    EXPECT_EQ(p.CmdConvertMP3->text(), "Convert to WAV");
    click(*w, "CmdConvertMP3");
    const DecodedSong wavOut = decodeAll(path("typed.wav"));
    EXPECT_EQ(wavOut.kind, SongKind::Wav);
    EXPECT_TRUE(wavOut.samples == stairs);
    EXPECT_EQ(w->songListPanel->List1->count(), 0);
    EXPECT_TRUE(filesIn(w->workPath()).isEmpty());
}

TEST_F(OutputFrame, TheRecorderSavesItsTakeInTheChosenFormat) {
    auto w = start();
    pick(w->songListPanel->outputFrame->CboPreset, QStringLiteral("android-ringtone"));
    w->toolbarAction(QStringLiteral("Rec"))->trigger();
    RecorderPanel& p = *w->recorderPanel;
    p.cmbInput->setCurrentIndex(audio::VirtualBackend::kLineIn);
    p.btnRecord->click();
    const RecordTake& take = w->recorder->engine().take();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return take.dataBytes() >= RecordTake::kBytesPerSecond; }, 20000));
    p.btnRecord->click();
    p.btnSave->click();
    EXPECT_EQ(p.CmdMp3->text(), "Ogg");
    dialogs.queueFile(path("take.ogg"));
    p.CmdMp3->click();
    ASSERT_TRUE(waitForEncoding(*w));
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: take.ogg is saved."});
    const DecodedSong ogg = decodeAll(path("take.ogg"));
    EXPECT_EQ(ogg.kind, SongKind::Vorbis);
    EXPECT_EQ(ogg.channels, 2);
    EXPECT_EQ(ogg.samples.size() * 2, take.dataBytes());
    EXPECT_TRUE(filesIn(w->workPath()).isEmpty());
}

} // namespace
