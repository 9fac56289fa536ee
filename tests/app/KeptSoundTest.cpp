// Clips that keep their song's own frames, through the window: the words beside the output
// frame, "Export Clip…" of a 24-bit WAV and of an MP3 song, what "Done" and its undo leave of the
// song's file for the one-song list's save, and the re-encoding after effects or a changed file.
#include "app/WindowFixture.h"
#include "engines/decode/SongDecode.h"
#include "engines/encoder/FrameCopy.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "engines/encoder/SongEncode.h"

#include <QComboBox>
#include <QFile>
#include <QTest>

#include <sndfile.h>

#include <memory>

using namespace quaverly;
using namespace quaverly::test;
using encode::Format;

namespace {

// A WAV file's sample width and its samples (24-bit ones in the upper bits of each int).
struct Pcm {
    int bits = 0;
    std::vector<int> samples;
};
Pcm readPcm(const QString& path) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> f(
        sf_open(QFile::encodeName(path).constData(), SFM_READ, &info), sf_close);
    if (!f)
        return {};
    const int sub = info.format & SF_FORMAT_SUBMASK;
    Pcm pcm{sub == SF_FORMAT_PCM_24 ? 24 : sub == SF_FORMAT_PCM_16 ? 16 : 0, {}};
    pcm.samples.resize(std::size_t(info.frames * info.channels));
    sf_readf_int(f.get(), pcm.samples.data(), info.frames);
    return pcm;
}

// The samples [from, to) of a mono file.
std::vector<int> stretch(const Pcm& pcm, std::size_t from, std::size_t to) {
    return {pcm.samples.begin() + qsizetype(from), pcm.samples.begin() + qsizetype(to)};
}

class KeptSound : public WindowFixture {
protected:
    void add(const QString& file) {
        dialogs.queueFile(file);
        click(*w, "CmdAdd");
        ASSERT_EQ(list->count(), 1);
    }
    // A 24-bit mono WAV song of 2 s at 8 kHz, listed and open in the editor.
    QString addWav24() {
        const QString song = path("song24.wav");
        writeSndfileWav(song, Sine{8000, 1, 16000, 440, 0}, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        add(song);
        open();
        return song;
    }
    // A 128 kbit/s stereo MP3 song of 3 s, listed and open in the editor.
    QString addMp3() {
        const QString wav = path("tone.wav"), song = path("song.mp3");
        writeCanonicalWav(wav, Sine{44100, 2, 3 * 44100});
        EXPECT_TRUE(mp3::encodeWavToMp3(wav, song, 128));
        add(song);
        open();
        return song;
    }
    void open() {
        list->setCurrentRow(0);
        emit list->itemDoubleClicked(list->item(0));
    }
    void marks(qint64 in, qint64 out) {
        w->editor->setMarkIn(in);
        w->editor->setMarkOut(out);
    }
    void exportClip(const QString& name) {
        dialogs.queueFile(path(name));
        if (!name.endsWith(".wav"))
            dialogs.queueInput(QStringLiteral("Clip"));
        click(*w, "CmdExport");
    }
    void saveListWav(const QString& name) {
        dialogs.queueFile(path(name));
        click(*w, "CmdSaveWav");
    }
    QString words() const { return w->songListPanel->lblKeepSound->fullText(); }
    // The words once the song has been read for them, within a deadline.
    QString wordsSettled() const {
        return QTest::qWaitFor([this] { return !words().isEmpty(); }, 20000)
                   ? words()
                   : QStringLiteral("(no answer)");
    }
};

TEST_F(KeptSound, TheWordsSayWhetherTheClipKeepsItsSongsSound) {
    addMp3();
    QComboBox* formats = w->songListPanel->outputFrame->CboFormat;
    EXPECT_EQ(wordsSettled(), framecopy::keptWords());
    const struct {
        const char* what;
        Format format;
        int fadeInMs;
        bool box;
        QString words;
    } cases[] = {
        {"another codec", Format::Vorbis, 0, true, QString()},
        {"a fade", Format::Mp3, 100, true, "Re-encoded: fades or a level change are set"},
        {"the box off", Format::Mp3, 0, false,
         "Re-encoded: keeping the song's own sound is turned off"},
        {"all as at first", Format::Mp3, 0, true, framecopy::keptWords()},
    };
    for (const auto& c : cases) {
        formats->setCurrentIndex(formats->findData(int(c.format)));
        w->editorFrame->spnFadeIn->setValue(c.fadeInMs);
        if (w->songListPanel->chkKeepSound->isChecked() != c.box)
            w->songListPanel->chkKeepSound->click();
        EXPECT_EQ(w->Output.keepsSound(), c.box) << c.what;
        EXPECT_EQ(words(), c.words) << c.what;
    }
    // "Done" with a fade: the fade is spent, the working copy no stretch of the song any more.
    w->editorFrame->spnFadeIn->setValue(100);
    click(*w, "CmdEditDone");
    EXPECT_EQ(w->editorFrame->spnFadeIn->value(), 0);
    EXPECT_EQ(words(), "Re-encoded: \"Done\" applied fades or a level change to the song");
}

TEST_F(KeptSound, ExportClipKeepsA24BitWavSongsSamplesAndAnMp3SongsFrames) {
    const Pcm song = readPcm(addWav24());
    ASSERT_EQ(song.bits, 24);
    marks(500, 1000);
    EXPECT_EQ(words(), QString()) << "the output is MP3";
    exportClip("clip.wav");
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: clip.wav is saved."});
    const Pcm clip = readPcm(path("clip.wav"));
    EXPECT_EQ(clip.bits, 24);
    EXPECT_TRUE(clip.samples == stretch(song, 4000, 8000));

    // Unticked, the clip is made from the 16-bit working copy.
    w->songListPanel->chkKeepSound->click();
    exportClip("made.wav");
    EXPECT_EQ(readPcm(path("made.wav")).bits, 16);

    // An MP3 clip of the 128 kbit/s song keeps its frames though 256 kbit/s is chosen, and a
    // gapless decoder gives exactly the marked second.
    dialogs.queueQuestion(true);
    click(*w, "Cmdremove");
    w->songListPanel->chkKeepSound->click();
    addMp3();
    marks(1000, 2000);
    exportClip("clip.mp3");
    ASSERT_EQ(dialogs.messageTexts().constLast(), "Finish Save: clip.mp3 is saved.");
    QString error;
    const auto decoded = decodeMp3(path("clip.mp3"), &error);
    ASSERT_TRUE(decoded) << qPrintable(error);
    EXPECT_EQ(decoded->frames(), 44100u);
    // The frames past the tag and the Info frame are the song's: 128 kbit/s.
    QByteArray bytes = readFile(path("clip.mp3"));
    const auto b = reinterpret_cast<const unsigned char*>(bytes.constData());
    ASSERT_TRUE(bytes.startsWith("ID3"));
    const int tag = 10 + (b[6] << 21 | b[7] << 14 | b[8] << 7 | b[9]);
    writeFile(path("frames.mp3"), bytes.mid(tag));
    const auto frames = readFrames(path("frames.mp3"), &error);
    ASSERT_TRUE(frames && frames->size() > 2) << qPrintable(error);
    EXPECT_EQ(frames->at(1).kbps, 128);
}

TEST_F(KeptSound, DoneNarrowsWhatTheSongKeepsUndoRestoresItAndEffectsOrAChangedFileReencode) {
    const QString file = addWav24();
    const Pcm song = readPcm(file);
    // "Done" on 0.5 s to 1.5 s: the working copy holds the song's frames 4000 to 11999.
    marks(500, 1500);
    click(*w, "CmdEditDone");
    marks(250, 500); // of the clip: the song's frames 6000 to 7999
    exportClip("inner.wav");
    EXPECT_TRUE(readPcm(path("inner.wav")).samples == stretch(song, 6000, 8000));
    saveListWav("done.wav");
    EXPECT_TRUE(readPcm(path("done.wav")).samples == stretch(song, 4000, 12000));

    // The undo gives the whole song back, and the list's save keeps all of it.
    click(*w, "CmdUndoCut");
    saveListWav("undone.wav");
    const Pcm undone = readPcm(path("undone.wav"));
    EXPECT_EQ(undone.bits, 24);
    EXPECT_TRUE(undone.samples == song.samples);

    // After "Done" with a fade the working copy is no stretch of the song's file any more.
    marks(0, 1000);
    w->editorFrame->spnFadeIn->setValue(100);
    click(*w, "CmdEditDone");
    saveListWav("faded.wav");
    EXPECT_EQ(readPcm(path("faded.wav")).bits, 16);

    // A song file changed since it was added is not copied, and the save says why.
    click(*w, "CmdUndoCut");
    writeSndfileWav(file, Sine{8000, 1, 8000, 440, 0}, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    saveListWav("changed.wav");
    EXPECT_EQ(dialogs.messageTexts().constLast(),
              "Finish Save: changed.wav is saved.\n\nThe song's own sound could not be kept (the "
              "song's file has changed since it was added): the clip was re-encoded.");
    EXPECT_EQ(readPcm(path("changed.wav")).samples.size(), 16000u) << "the listed song, whole";
}

} // namespace

// An iPhone ringtone of a 128 kbit/s AAC song keeps the song's packets, though the preset names
// 256 kbit/s, and plays exactly the marked second.
TEST_F(KeptSound, TheIPhonePresetKeepsAnAacSongsOwnSound) {
    const QString wav = path("tone.wav"), song = path("song.m4a");
    writeCanonicalWav(wav, Sine{44100, 2, 3 * 44100});
    auto source = encode::openWavSource(wav);
    ASSERT_TRUE(source);
    ASSERT_TRUE(encode::encodeSong(**source, wav, song, encode::Settings{Format::M4a, 128}, {}));
    add(song);
    open();
    QComboBox* presets = w->songListPanel->outputFrame->CboPreset;
    presets->setCurrentIndex(presets->findData(QStringLiteral("iphone-ringtone")));
    EXPECT_EQ(wordsSettled(), framecopy::keptWords());
    marks(1000, 2000);
    exportClip("ring.m4r");
    ASSERT_EQ(dialogs.messageTexts().constLast(), "Finish Save: ring.m4r is saved.");
    const auto decoded = decodeSong(path("ring.m4r"), path("ring.wav"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->dataSize / decoded->blockAlign, 44100u);
    // The song's 128 kbit/s packets: a second of them, with the one before, is well below what
    // a second at 256 kbit/s (32 kB) would take.
    EXPECT_LT(QFileInfo(path("ring.m4r")).size(), 26000);
}
