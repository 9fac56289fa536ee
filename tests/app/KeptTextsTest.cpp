// The exact messages the window shows today for the failures most at risk of changing wording or
// error code when the way failures travel changes: title and text, with the "error code: N" of
// sound failures.
#include "app/Frmmain.h"
#include "engines/audio/VirtualBackend.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/UnfitSongs.h"

#include <QAction>
#include <QListWidget>
#include <QSignalSpy>

#include <functional>
#include <string_view>

using namespace quaverly;
using audio::VirtualBackend;

namespace {

class KeptTexts : public test::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        songs = path(QStringLiteral("songs"));
        ASSERT_TRUE(QDir().mkpath(songs) && test::writeUnfitSongs(songs));
        device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device);
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
    }
    void TearDown() override {
        w.reset();
        device->setFailure(QString());
        AppFixture::TearDown();
    }

    QString song(const char* name) const { return songs + u'/' + QString::fromUtf8(name); }
    void add(const char* name) {
        dialogs.queueFile(song(name));
        click(*w, "CmdAdd");
    }
    // Adds the plain tone (100 ms), opens it in the editor and sets the marks.
    void edit(qint64 in, qint64 out) {
        add("tone.wav");
        QListWidget* list = w->songListPanel->List1;
        list->setCurrentRow(list->count() - 1);
        emit list->itemDoubleClicked(list->currentItem());
        w->MarkIn = in;
        w->MarkOut = out;
    }

    QString songs;
    std::shared_ptr<VirtualBackend> device;
    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
};

TEST_F(KeptTexts, EachFailureShowsTodaysMessage) {
    // Root reads any file: there the unreadable song cannot be shown.
    ASSERT_TRUE(QFile::copy(song("tone.wav"), song("locked.wav")));
    QFile::setPermissions(song("locked.wav"), QFileDevice::WriteOwner);
    const bool root = QFile(song("locked.wav")).open(QIODevice::ReadOnly);

    // %1 stands for the unreadable WAV file's name as the window shows it.
    const struct {
        const char* name;
        std::function<void()> act;
        const char* title;
        const char* text;
    } rows[] = {
        {"text as mp3", [&] { add("notes.mp3"); }, "Quaverly",
         "Not added to the song list:\n\nnotes.mp3: holds no audio that Quaverly reads"},
        {"empty file", [&] { add("empty.mp3"); }, "Quaverly",
         "Not added to the song list:\n\nempty.mp3: empty file"},
        // Words are refused whatever their name says: FFmpeg takes a text named .txt for a
        // picture of characters, without sound; as .flac no library takes it.
        {"text as txt", [&] { add("notes.txt"); }, "Quaverly",
         "Not added to the song list:\n\nnotes.txt: holds no audio"},
        {"text as flac", [&] { add("notes.flac"); }, "Quaverly",
         "Not added to the song list:\n\nnotes.flac: holds no audio that Quaverly reads"},
        // The file named once; where the sound broke off told in time.
        {"decoding stops early", [&] { add("short.mp3"); }, "Quaverly",
         "Not added to the song list:\n\nshort.mp3: the sound breaks off at 0:00.419 of 0:01: "
         "the data ends there"},
        {"no such file", [&] { add("gone.wav"); }, "Quaverly",
         "Not added to the song list:\n\ngone.wav: no such file"},
        {"unreadable", [&] { add("locked.wav"); }, "Quaverly",
         "Not added to the song list:\n\nlocked.wav: cannot open: Permission denied"},
        {"marks out of order",
         [&] {
             edit(80, 20);
             click(*w, "CmdEditDone");
         },
         "Quaverly", "Time Input Error: Out must be after In."},
        {"cut of a copy that shrank",
         [&] {
             edit(20, 80);
             const QString copy =
                 w->songListPanel->workingCopy(w->songListPanel->List1->count() - 1);
             ASSERT_TRUE(test::writeWav16(copy, 1, 8000, test::staircase(80, 1)));
             click(*w, "CmdEditDone");
         },
         "Quaverly",
         "tone was not cut; it is as it was.\n\nposition outside the sound: 20 ms is past the end "
         "(10 ms) while removing the head (error 282)"},
        {"recorder without device",
         [&] {
             device->setFailure(QStringLiteral("no sound server"));
             w->toolbarAction(QStringLiteral("Rec"))->trigger();
             device->setFailure(QString());
         },
         "Error", "Can't initialize device\r\n\r\nerror code: 3"},
        // A song that is no WAV file is decoded before it is encoded: the song reader refuses.
        {"encoding a text",
         [&] {
             w->toolbarAction(QStringLiteral("Convert"))->trigger();
             w->convertPanel->txtEncodeSource->setText(song("notes.txt"));
             w->convertPanel->txtEncodeTarget->setText(path(QStringLiteral("out.mp3")));
             w->convertPanel->CmdConvertMP3->click();
             EXPECT_TRUE(jobsSettled(*w));
         },
         "Quaverly", "Not converted:\n\nnotes.txt: holds no audio"},
        // A WAV file goes to the encoder as it is, which cannot read these samples.
        {"encoding an unreadable WAV",
         [&] {
             w->toolbarAction(QStringLiteral("Convert"))->trigger();
             w->convertPanel->txtEncodeSource->setText(song("odd.wav"));
             w->convertPanel->txtEncodeTarget->setText(path(QStringLiteral("out.mp3")));
             QSignalSpy done(&w->encodings(), &Encodings::finished);
             w->convertPanel->CmdConvertMP3->click();
             EXPECT_TRUE(jobsSettled(*w));
             EXPECT_TRUE(!done.isEmpty() || done.wait(60000));
         },
         "Quaverly",
         "The MP3 file was not saved.\n\nCannot read \"%1\": not a readable WAV file "
         "(Error in WAV/W64/RF64 file. Malformed 'fmt ' chunk)"},
    };
    // A WAV file of samples of a kind nothing here reads (format tag 0x1234).
    WavHeader odd = WavHeader::pcm(2, 8000, 16);
    odd.formatTag = 0x1234;
    ASSERT_TRUE(test::writeFile(song("odd.wav"), test::wavBytes(odd, "abcdabcd", 8)));
    for (const auto& row : rows) {
        if (root && std::string_view(row.name) == "unreadable")
            continue;
        dialogs.clear();
        row.act();
        const auto asked = dialogs.asked(ScriptedDialogs::Kind::Message);
        EXPECT_EQ(asked.size(), 1)
            << row.name << ": " << dialogs.messageTexts().join("\n--\n").toStdString();
        if (asked.isEmpty())
            continue;
        EXPECT_EQ(asked[0].title, QLatin1String(row.title)) << row.name;
        EXPECT_EQ(asked[0].text,
                  QString::fromUtf8(row.text).replace(QStringLiteral("%1"),
                                                      QDir::toNativeSeparators(song("odd.wav"))))
            << row.name;
    }
}

// A WAV file of three channels is read, and its working copy mixed down to stereo, in silence.
TEST_F(KeptTexts, ThreeChannelsBecomeAStereoWorkingCopy) {
    add("three.wav");
    EXPECT_TRUE(dialogs.messageTexts().isEmpty())
        << dialogs.messageTexts().join('\n').toStdString();
    ASSERT_EQ(w->songListPanel->List1->count(), 1);
    const auto copy = probeWav(w->songListPanel->workingCopy(0));
    ASSERT_TRUE(copy && copy->canonical);
    EXPECT_EQ(copy->channels, 2);
    EXPECT_EQ(copy->sampleRate, 8000u);
    EXPECT_EQ(copy->dataSize, 100u * 4);
}

} // namespace
