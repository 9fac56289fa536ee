// What the song list and the recorder show: each song's length and format, the marks of the song
// playing and the song edited, texts that fit, accessible names and tab order, the recorder's
// take readout and its level meter on the virtual device.
#include "app/WindowFixture.h"
#include "engines/audio/VirtualBackend.h"
#include "engines/decode/SongReader.h"
#include "engines/util/FrameTime.h"
#include "recorder/LevelMeterView.h"
#include "songlist/SongItemDelegate.h"
#include "songlist/WorkingCopy.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QTest>

#include <cmath>

using namespace quaverly;
using namespace quaverly::test;
using audio::VirtualBackend;

namespace {

class ListRecFace : public WindowFixture {
protected:
    QVariant role(int row, int r) const { return list->item(row)->data(r); }
    bool marked(int row, int r) const { return role(row, r).toBool(); }
    void visitRecorder() { w->toolbarAction(QStringLiteral("Rec"))->trigger(); }
};

TEST_F(ListRecFace, RowsShowLengthAndFormatAndMarkTheSongPlayingAndTheSongEdited) {
    const QString mp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
    const QString wav = path("long.wav");
    ASSERT_TRUE(writeWav16(wav, 1, 8000, staircase(8000 * 30, 1, 0))); // 30 s
    const auto mp3Song = SongReader::open(mp3);
    ASSERT_TRUE(mp3Song);
    const struct {
        QString file;
        quint64 ms;
        const char* format;
    } songs[] = {
        {mp3, frametime::framesToMs(mp3Song->frames(), mp3Song->format().rate), "MP3"},
        {wav, 30000, "WAV"},
    };
    for (const auto& s : songs) {
        dialogs.queueFile(s.file);
        click(*w, "CmdAdd");
    }
    ASSERT_EQ(list->count(), 2);
    for (int row = 0; row < 2; ++row) {
        const auto& s = songs[row];
        EXPECT_EQ(role(row, AudioEditPanel::kLengthRole).toULongLong(), s.ms) << row;
        EXPECT_EQ(role(row, AudioEditPanel::kFormatRole).toString(), s.format) << row;
        EXPECT_EQ(list->item(row)->toolTip().section(u'\n', 0, 1),
                  list->item(row)->text() + u'\n' + QDir::toNativeSeparators(s.file));
        EXPECT_EQ(SongItemDelegate::detailText(list->model()->index(row, 0)),
                  listLengthText(s.ms) + "  " + s.format);
    }
    EXPECT_EQ(SongItemDelegate::detailText(list->model()->index(1, 0)), "0:30  WAV");

    // Playing the long song marks its row, and only its.
    list->setCurrentRow(1);
    click(*w, "CmdPlay");
    QTRY_VERIFY_WITH_TIMEOUT(marked(1, AudioEditPanel::kPlayingRole), 5000);
    EXPECT_FALSE(marked(0, AudioEditPanel::kPlayingRole));
    EXPECT_TRUE(role(1, Qt::AccessibleTextRole).toString().endsWith(", playing"));

    // The editor takes the first song: the list player stops, the pen goes to that row.
    list->setCurrentRow(0);
    emit list->itemDoubleClicked(list->item(0));
    QTRY_VERIFY_WITH_TIMEOUT(marked(0, AudioEditPanel::kEditedRole), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!marked(1, AudioEditPanel::kPlayingRole), 5000);
    EXPECT_FALSE(marked(1, AudioEditPanel::kEditedRole));

    // "Done" cuts it: the row's length follows, and the pen stays while the editor shows it.
    w->MarkIn = 0;
    w->MarkOut = 200;
    click(*w, "CmdEditDone");
    QTRY_COMPARE_WITH_TIMEOUT(role(0, AudioEditPanel::kLengthRole).toULongLong(), quint64(200),
                              5000);
    EXPECT_TRUE(marked(0, AudioEditPanel::kEditedRole));
}

TEST_F(ListRecFace, LongTextsFitTheirLabelsAtTheFirstSize) {
    ASSERT_EQ(w->size(), QSize(719, 476));
    visitRecorder();
    const struct {
        QLabel* label;
        QString text;
    } cases[] = {
        {w->songListPanel->lblListHint, w->songListPanel->lblListHint->text()},
        // The widest the take readout gets: a take of the largest size, playing.
        {w->recorderPanel->lblPos, "Playing 6:45:48.3 of 6:45:48.3 · 4294.9 MB"},
    };
    for (const auto& c : cases) {
        const QRect room = c.label->contentsRect().adjusted(c.label->margin(), c.label->margin(),
                                                            -c.label->margin(), -c.label->margin());
        const QRect needed = c.label->fontMetrics().boundingRect(room, Qt::TextWordWrap, c.text);
        EXPECT_LE(needed.width(), room.width()) << qPrintable(c.text);
        EXPECT_LE(needed.height(), room.height()) << qPrintable(c.text);
    }
}

TEST_F(ListRecFace, EveryControlHasAnAccessibleNameAndTabGoesInReadingOrder) {
    visitRecorder();
    const struct {
        QWidget* panel;
        QStringList order; // a part of the tab chain, in order
    } panels[] = {
        {w->songListPanel,
         {"List1", "CmdUP", "CmdDown", "CmdAdd", "Cmdremove", "CmdIns", "Check1", "CmdFoward",
          "CmdPause", "CmdPlay", "CmdStop", "CmdNext", "CboPreset", "CboFormat", "CboSetting",
          "CmdSaveWav", "CmdSaveList"}},
        {w->recorderPanel,
         {"cmbInput", "sldInputLevel", "btnRecord", "btnPlay", "btnSave", "CmdWav", "CmdMp3"}},
    };
    QWidget* editor = w->findChild<QWidget*>(QStringLiteral("Frame3"));
    for (const auto& p : panels) {
        for (QWidget* c : p.panel->findChildren<QWidget*>()) {
            if (c->focusPolicy() == Qt::NoFocus || (editor && editor->isAncestorOf(c)))
                continue;
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QAbstractSlider*>(c) ||
                qobject_cast<QComboBox*>(c) || qobject_cast<QListWidget*>(c)) {
                EXPECT_FALSE(c->accessibleName().isEmpty()) << qPrintable(c->objectName());
            }
        }
        QStringList seen;
        QWidget* at = p.panel->findChild<QWidget*>(p.order.first());
        for (int i = 0; i < 200 && seen.size() < p.order.size(); ++i, at = at->nextInFocusChain()) {
            if (p.order.contains(at->objectName()) && !seen.contains(at->objectName()))
                seen << at->objectName();
        }
        EXPECT_EQ(seen, p.order);
    }
}

TEST(TakeReadout, GivesTheLengthToATenthAndTheSizeInMegabytes) {
    constexpr std::uint64_t second = RecordTake::kBytesPerSecond;
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "Length 0:00.0 · 0.0 MB"},
        {second / 10 - 4, "Length 0:00.0 · 0.0 MB"}, // a stopwatch is never ahead
        {83 * second + 4 * second / 10, "Length 1:23.4 · 14.7 MB"},
        {3723 * second + second / 2, "Length 1:02:03.5 · 656.8 MB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecorderHandlers::takeText(c.bytes), QString::fromUtf8(c.text)) << c.bytes;
}

TEST(LevelMeterView, HoldsTheClipLightForTwoSecondsAndLetsThePeakFall) {
    LevelMeterView meter;
    meter.showReading({1.0f, 0.7f, true, true}, 0);
    EXPECT_FLOAT_EQ(meter.peakDb(), 0.0f);
    const struct {
        qint64 ms;
        bool lit;
        float peakDb; // falling at 20 dB a second with no louder sound
    } cases[] = {
        {500, true, -10.0f}, {1999, true, -39.98f}, {2000, false, -40.0f}, {4000, false, -60.0f}};
    for (const auto& c : cases) {
        meter.showReading({}, c.ms);
        EXPECT_EQ(meter.clipLit(), c.lit) << c.ms;
        EXPECT_NEAR(meter.peakDb(), c.peakDb, 0.01) << c.ms;
    }
}

// The meter reads the chosen input before recording and while recording, from one capture.
TEST_F(ListRecFace, TheMeterShowsTheInputsLevelBeforeAndWhileRecordingOnOneStream) {
    auto device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
    ASSERT_TRUE(device);
    visitRecorder();
    RecorderPanel& p = *w->recorderPanel;
    p.cmbInput->setCurrentIndex(VirtualBackend::kMicrophone);
    const double micPeak = 20 * std::log10(VirtualBackend::kMicAmplitude / 32768.0);
    const struct {
        int level;
        double peakDb;
    } cases[] = {{100, micPeak}, {50, micPeak - 6.02}, {25, micPeak - 12.04}};
    for (const auto& c : cases) {
        p.sldInputLevel->setValue(c.level);
        // A sine's RMS is 3 dB under its peak.
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(p.meter->peakDb() - c.peakDb) < 0.05 &&
                                     std::abs(p.meter->rmsDb() - (c.peakDb - 3.01)) < 0.05,
                                 5000);
        EXPECT_FALSE(p.meter->clipLit());
        EXPECT_EQ(device->openStreams(), 1);
    }
    p.sldInputLevel->setValue(100);

    // Full scale on the monitor lights the clip light; recording it keeps one stream.
    p.cmbInput->setCurrentIndex(VirtualBackend::kMonitor);
    std::vector<std::int16_t> square(44100 * 2 * 20);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 2 / 50) % 2 ? 32767 : -32768;
    const QByteArray image =
        wavBytes(WavHeader::pcm(2, 44100, 16), square.data(), square.size() * 2);
    auto played = audio::TakePlayer::open(image.constData(), image.size(), device);
    ASSERT_TRUE(played && (*played)->play());
    p.btnRecord->click();
    ASSERT_TRUE(w->recorder->engine().recording());
    QTRY_VERIFY_WITH_TIMEOUT(p.meter->clipLit() && p.meter->peakDb() == 0.0f, 5000);
    EXPECT_EQ(device->openStreams(), 2); // the take's capture and the square's playback
    p.btnRecord->click();
    (*played).reset();
    EXPECT_EQ(device->openStreams(), 1); // monitoring again

    // Leaving the panel (the take discarded) ends the monitoring.
    dialogs.queueChoice(1);
    w->toolbarAction(QStringLiteral("Wav"))->trigger();
    EXPECT_EQ(device->openStreams(), 0);
}

} // namespace
