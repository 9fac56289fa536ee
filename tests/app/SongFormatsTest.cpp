// A new user's first clips from songs of a music library: an M4A (AAC), a FLAC and an Opus file,
// made by the usual tools at run time, dropped on the list, each cut in the clip editor, and the
// list saved as one MP3.
#include "app/Frmmain.h"
#include "app/WindowFixture.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "support/PeerEncodes.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"

#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

using namespace quaverly;
using namespace quaverly::test;

namespace {

class SongFormats : public WindowFixture {
protected:
    // Drops `files` on the list as a file manager does and waits for the add that follows.
    void drop(const QStringList& files) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(list->viewport(), &enter);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(list->viewport(), &dropped);
        ASSERT_TRUE(dropped.isAccepted());
        QCoreApplication::processEvents(); // the add starts once the drop is over
        ASSERT_TRUE(jobsSettled(*w));
    }
};

TEST_F(SongFormats, DroppedM4aFlacAndOpusAreCutAndSavedAsOneMp3) {
    // One second of stereo at 44.1 kHz; Opus decodes at 48 kHz whatever it was made from.
    const QString wav = path(QStringLiteral("source.wav"));
    const auto source = staircase(44100, 2, -20000, 1);
    ASSERT_TRUE(writeWav16(wav, 2, 44100, source));
    const struct {
        const PeerEncode& peer;
        std::uint32_t rate;
        std::uint64_t frames; // of the working copy, exact
    } songs[] = {{kAacM4a, 44100, 44100}, {kFlac, 44100, 44100}, {kOpus, 48000, 48000}};
    QStringList files;
    for (const auto& s : songs) {
        files << path(QStringLiteral("song.%1").arg(QLatin1String(s.peer.extension)));
        if (const QString why = encodeWithPeer(s.peer, wav, files.last()); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }

    drop(files);
    ASSERT_EQ(list->count(), 3) << dialogs.messageTexts().join('\n').toStdString();
    for (int row = 0; row < 3; ++row) {
        const auto copy = probeWav(w->songListPanel->workingCopy(row));
        ASSERT_TRUE(copy && copy->canonical) << row;
        EXPECT_EQ(copy->sampleRate, songs[row].rate) << row;
        EXPECT_EQ(copy->channels, 2) << row;
        EXPECT_EQ(copy->dataSize / 4, songs[row].frames) << row;
    }
    // FLAC is lossless: its working copy is the source, sample for sample.
    EXPECT_TRUE(samples16(readFile(w->songListPanel->workingCopy(1))) == source);

    // Each song cut to 100-600 ms in the editor.
    for (int row = 0; row < 3; ++row) {
        list->setCurrentRow(row);
        emit list->itemDoubleClicked(list->item(row));
        w->MarkIn = 100;
        w->MarkOut = 600;
        click(*w, "CmdEditDone");
        const auto clip = probeWav(w->songListPanel->workingCopy(row));
        ASSERT_TRUE(clip) << row;
        EXPECT_EQ(clip->dataSize / 4, songs[row].rate / 2) << row;
    }
    const auto clip = samples16(readFile(w->songListPanel->workingCopy(1)));
    EXPECT_TRUE(clip ==
                std::vector<std::int16_t>(source.begin() + 4410 * 2, source.begin() + 26460 * 2));

    // The list as one MP3 at the first song's rate: three clips of half a second.
    const QString mp3 = path(QStringLiteral("clips.mp3"));
    dialogs.queueFile(mp3);
    dialogs.queueInput(QStringLiteral("Clips")); // the title
    QSignalSpy saved(&w->encodings(), &Encodings::finished);
    click(*w, "CmdSaveList");
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(120000));
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Finish Save: clips.mp3 is saved."});
    QString error;
    const auto decoded = decodeMp3(mp3, &error); // libmpg123, as mpg123 decodes it
    ASSERT_TRUE(decoded) << error.toStdString();
    EXPECT_EQ(decoded->sampleRate, 44100);
    EXPECT_NEAR(double(decoded->frames()), 3 * 22050.0, 8.0);
}

} // namespace
