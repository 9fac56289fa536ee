// Clips saved in any format through the window: the list's save decided by the name's extension
// with the title asked first, "Export Clip…" of a song cut in the editor and of the marked
// stretch of an uncut one, and a clip too long for the chosen preset, which is not saved but may
// be marked to the preset's length.
#include "app/DecodedSong.h"
#include "app/Frmmain.h"
#include "app/WindowFixture.h"
#include "engines/tags/SongTags.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QSignalSpy>

using namespace quaverly;
using namespace quaverly::test;
using Kind = ScriptedDialogs::Kind;

namespace {

class ClipSave : public WindowFixture {
protected:
    // Adds a staircase song of `frames` frames through "ADD"; its samples.
    std::vector<std::int16_t> addSong(const QString& name, int channels, std::uint32_t rate,
                                      std::size_t frames) {
        const QString file = path(name + ".wav");
        auto samples = staircase(frames, channels, -30000, 7);
        EXPECT_TRUE(writeWav16(file, channels, rate, samples));
        dialogs.queueFile(file);
        click(*w, "CmdAdd");
        return samples;
    }
    void choosePreset(const char* id) {
        QComboBox* presets = w->songListPanel->outputFrame->CboPreset;
        presets->setCurrentIndex(presets->findData(QString::fromLatin1(id)));
    }
    void open(int row) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
    }
    bool saved() {
        QSignalSpy done(&w->encodings(), &Encodings::finished);
        return w->encodings().pending() == 0 || done.wait(60000);
    }
};

TEST_F(ClipSave, TheListSavesInTheFormatItsNameGivesWithTheTitleAsked) {
    const auto one = addSong("One", 2, 44100, 30000);
    const auto two = addSong("Two", 2, 44100, 12345);
    EXPECT_EQ(w->songListPanel->CmdSaveList->text(), "Save The List to MP3");

    // Cancelling the title saves nothing.
    dialogs.queueFile(path("list.flac"));
    click(*w, "CmdSaveList");
    EXPECT_EQ(w->encodings().pending(), 0);
    EXPECT_FALSE(QFile::exists(path("list.flac")));
    const auto file = dialogs.asked(Kind::SaveFile).constLast().file;
    EXPECT_EQ(file.title, "Save The List to MP3");
    EXPECT_TRUE(file.filter.startsWith("MP3 (*.mp3);;M4A (AAC) (*.m4a);;"))
        << qPrintable(file.filter);
    const auto title = dialogs.asked(Kind::Input).constLast();
    EXPECT_EQ(title.title, "Title");
    EXPECT_EQ(title.defaultText, "Song list");

    // The typed .flac decides: a FLAC of the joined songs, sample for sample, with its title.
    dialogs.queueFile(path("list.flac"));
    dialogs.queueInput(QStringLiteral("Both songs"));
    w->songListPanel->CmdSaveList->click(); // returns while its job runs
    EXPECT_FALSE(w->isEnabled());
    ASSERT_TRUE(saved());
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: list.flac is saved."});
    EXPECT_TRUE(w->isEnabled());
    const DecodedSong flac = decodeAll(path("list.flac"));
    EXPECT_EQ(flac.kind, SongKind::Flac);
    auto joined = one;
    joined.insert(joined.end(), two.begin(), two.end());
    EXPECT_TRUE(flac.samples == joined);
    EXPECT_EQ(readSongTags(path("list.flac")).title, "Both songs");
    // A typed .wav gets the joined songs as WAV, whatever the frame's format.
    dialogs.queueFile(path("list.wav"));
    click(*w, "CmdSaveList");
    const DecodedSong wav = decodeAll(path("list.wav"));
    EXPECT_EQ(wav.kind, SongKind::Wav);
    EXPECT_TRUE(wav.samples == joined);

    // One song alone offers its own title.
    list->setCurrentRow(1);
    dialogs.queueQuestion(true);
    click(*w, "Cmdremove");
    dialogs.queueFile(path("one.flac"));
    click(*w, "CmdSaveList");
    EXPECT_EQ(dialogs.asked(Kind::Input).constLast().defaultText, "One");
}

TEST_F(ClipSave, ExportClipWritesTheSongAsItWasCut) {
    EXPECT_FALSE(w->editorFrame->CmdExport->isEnabled());
    const auto song = addSong("Tune", 1, 8000, 16000);
    choosePreset("lossless");
    open(0);
    EXPECT_TRUE(w->editorFrame->CmdExport->isEnabled());
    w->editor->setMarkIn(500);
    w->editor->setMarkOut(1000);
    click(*w, "CmdEditDone");
    ASSERT_TRUE(w->editorFrame->CmdExport->isEnabled()) << "the cut song is still at hand";

    dialogs.queueFile(path("clip.flac"));
    dialogs.queueInput(QStringLiteral("The clip"));
    click(*w, "CmdExport");
    ASSERT_TRUE(saved());
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: clip.flac is saved."});
    const auto file = dialogs.asked(Kind::SaveFile).constLast().file;
    EXPECT_EQ(file.folder, w->BaseFolder + "/Tune.flac");
    EXPECT_TRUE(file.filter.startsWith("FLAC (*.flac);;MP3 (*.mp3);;"));
    EXPECT_EQ(dialogs.asked(Kind::Input).constLast().defaultText, "Tune");

    // 500 ms to 1000 ms at 8 kHz: frames 4000 to 7999 of the song, exactly.
    const DecodedSong clip = decodeAll(path("clip.flac"));
    EXPECT_EQ(clip.kind, SongKind::Flac);
    EXPECT_TRUE(clip.samples ==
                std::vector<std::int16_t>(song.begin() + 4000, song.begin() + 8000));
    EXPECT_EQ(readSongTags(path("clip.flac")).title, "The clip");
    EXPECT_EQ(list->count(), 1);
}

TEST_F(ClipSave, ExportClipWritesTheMarkedStretchWithItsFadeAndLeavesTheSongAsItIs) {
    const auto song = addSong("Tune", 1, 8000, 16000);
    open(0);
    w->editor->setMarkIn(500);
    w->editor->setMarkOut(1000);
    const QString copy = w->songListPanel->workingCopy(0);
    const QByteArray before = readFile(copy);
    const auto exported = [&](const char* name) {
        dialogs.queueFile(path(name));
        if (!QByteArray(name).endsWith(".wav")) // a WAV file has no title
            dialogs.queueInput(QStringLiteral("The clip"));
        click(*w, "CmdExport");
        EXPECT_TRUE(saved()) << name;
        return decodeAll(path(name)).samples;
    };
    // 500 ms to 1000 ms at 8 kHz: frames 4000 to 7999, exactly.
    const auto clip = exported("clip.wav");
    ASSERT_EQ(clip.size(), 4000u);
    EXPECT_EQ(std::pair(clip.front(), clip.back()), std::pair(song[4000], song[7999]));
    EXPECT_TRUE(clip == std::vector<std::int16_t>(song.begin() + 4000, song.begin() + 8000));
    // Encoded (FLAC, lossless) with a 100 ms fade-in: frame i of its 800 at i / 800, the rest
    // as they were.
    w->editorFrame->spnFadeIn->setValue(100);
    const auto faded = exported("faded.flac");
    ASSERT_EQ(faded.size(), 4000u);
    EXPECT_EQ(faded[0], 0);
    EXPECT_EQ(faded[400], song[4400] / 2);
    EXPECT_EQ(faded[800], song[4800]);
    EXPECT_EQ(dialogs.messageTexts(), (QStringList{"Finish Save: clip.wav is saved.",
                                                   "Finish Save: faded.flac is saved."}));

    // The song, its marks, its effects and its (absent) undo are as they were; no work file stays.
    EXPECT_EQ(readFile(copy), before);
    EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut), std::pair(qint64(500), qint64(1000)));
    EXPECT_EQ(w->editorFrame->spnFadeIn->value(), 100);
    EXPECT_FALSE(w->editorFrame->CmdUndoCut->isEnabled());
    EXPECT_EQ(filesIn(w->workPath()), QStringList{QFileInfo(copy).fileName()});
}

TEST_F(ClipSave, AClipLongerThanThePresetAllowsIsNotSavedButMayBeMarkedToIt) {
    addSong("Long", 1, 8000, 45 * 8000);
    choosePreset("iphone-ringtone");

    // The list's save: told the limit, and Yes opens the song with the marks at 0 and 40 s.
    dialogs.queueQuestion(true);
    click(*w, "CmdSaveList");
    const auto asked = dialogs.asked(Kind::Question);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].text.contains("at most 40 seconds; this one is 45.0 seconds long"))
        << qPrintable(asked[0].text);
    EXPECT_TRUE(dialogs.asked(Kind::SaveFile).isEmpty());
    EXPECT_FALSE(w->editorFrame->isHidden());
    EXPECT_EQ(w->ListMode, "Edit");
    EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut), std::pair(qint64(0), qint64(40000)));
    EXPECT_EQ(probeWav(w->songListPanel->workingCopy(0))->dataSize, 45u * 8000 * 2)
        << "nothing cut";

    // "Export Clip…" holds the marked stretch against the limit: 2.5 s to the end is 42.5 s.
    // No leaves the marks where the user put them; Yes keeps In and puts Out 40 s after it.
    w->editor->setMarkIn(2500);
    w->editor->setMarkOut(45000);
    w->editorFrame->chkSnap->setChecked(true); // the offer's mark is exact all the same
    for (const bool yes : {false, true}) {
        dialogs.queueQuestion(yes);
        click(*w, "CmdExport");
        const auto offer = dialogs.asked(Kind::Question).constLast().text;
        EXPECT_TRUE(offer.contains("this one is 42.5 seconds long") &&
                    offer.contains("Move the Out mark to 0:42.500"))
            << qPrintable(offer);
        EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut),
                  std::pair(qint64(2500), qint64(yes ? 42500 : 45000)));
    }
    EXPECT_EQ(probeWav(w->songListPanel->workingCopy(0))->dataSize, 45u * 8000 * 2)
        << "nothing cut";
    // Now it fits, and the save goes on to the file dialog.
    dialogs.queueFile(QString());
    click(*w, "CmdExport");
    EXPECT_EQ(dialogs.asked(Kind::Question).size(), 3);
    EXPECT_EQ(dialogs.asked(Kind::SaveFile).size(), 1);
    EXPECT_EQ(w->encodings().pending(), 0);
}

} // namespace
