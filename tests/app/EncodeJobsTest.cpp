// Every encoding of the window, and the recorder's WAV save, as a job: Cancel at any point leaves
// the target, the working folder and the sources exactly as they were and says nothing, after
// which the same save runs to its end with the progress counting up to 100 % and the window
// thread never busy for long.
#include "app/DecodedSong.h"
#include "app/JobProbe.h"
#include "app/WindowFixture.h"
#include "engines/audio/VirtualBackend.h"
#include "engines/encoder/Mp3TestSupport.h"
#include "engines/encoder/SongEncode.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"

#include <QAction>
#include <QComboBox>

using namespace quaverly;
using namespace quaverly::test;
using audio::VirtualBackend;

namespace {

enum class Save { ListMp3, ListFlac, ExportClip, ConvertMp3, RecordWav, RecordMp3 };
constexpr const char* kSaveNames[] = {"ListMp3",    "ListFlac",  "ExportClip",
                                      "ConvertMp3", "RecordWav", "RecordMp3"};

constexpr std::size_t kSongFrames = 15 * 44100; // two songs: 30 s of sound

class EncodeJob : public WindowFixture,
                  public ::testing::WithParamInterface<std::tuple<Save, int>> {
protected:
    void TearDown() override {
        w.reset();
        if (auto device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend()))
            device->setDefaultSource(VirtualBackend::kMicrophone);
        WindowFixture::TearDown();
    }

    Save save() const { return std::get<0>(GetParam()); }

    // A stereo staircase song written into the sources' folder; its samples.
    std::vector<std::int16_t> writeSong(const QString& name, int start) {
        const auto samples = staircase(kSongFrames, 2, start, 3);
        QDir().mkpath(path("in"));
        EXPECT_TRUE(writeWav16(path("in/" + name), 2, 44100, samples));
        return samples;
    }
    void addSong(const QString& name, int start) {
        const auto samples = writeSong(name, start);
        expected.insert(expected.end(), samples.begin(), samples.end());
        dialogs.queueFile(path("in/" + name));
        click(*w, "CmdAdd");
    }
    // A take of at least 30 s of the line-in (3 s on the virtual device's clock).
    void recordTake() {
        w->toolbarAction(QStringLiteral("Rec"))->trigger();
        RecorderPanel& r = *w->recorderPanel;
        r.cmbInput->setCurrentIndex(VirtualBackend::kLineIn);
        r.btnRecord->click();
        const RecordTake& take = w->recorder->engine().take();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return take.dataBytes() >= 30 * RecordTake::kBytesPerSecond; }, 30000));
        r.btnRecord->click();
        takeBytes =
            QByteArray(reinterpret_cast<const char*>(take.data()), qsizetype(take.length()));
    }

    // Makes what the save reads; the target it writes.
    QString prepare() {
        switch (save()) {
        case Save::ListMp3:
        case Save::ListFlac:
            addSong("a.wav", -30000);
            addSong("b.wav", 2000);
            if (save() == Save::ListFlac) {
                QComboBox* formats = w->songListPanel->outputFrame->CboFormat;
                formats->setCurrentIndex(formats->findData(int(encode::Format::Flac)));
                return path("out/list.flac");
            }
            return path("out/list.mp3");
        case Save::ExportClip:
            addSong("a.wav", -30000);
            list->setCurrentRow(0);
            emit list->itemDoubleClicked(list->item(0));
            return path("out/clip.mp3");
        case Save::ConvertMp3:
            expected = writeSong("a.wav", -30000);
            w->toolbarAction(QStringLiteral("Convert"))->trigger();
            w->convertPanel->txtEncodeSource->setText(path("in/a.wav"));
            w->convertPanel->txtEncodeTarget->setText(path("out/converted.mp3"));
            return path("out/converted.mp3");
        case Save::RecordWav:
        case Save::RecordMp3:
            recordTake();
            return path(save() == Save::RecordWav ? "out/take.wav" : "out/take.mp3");
        }
        return {};
    }

    // Clicks what starts the save into `target`, answering its dialogs; does not wait.
    void start(const QString& target) {
        switch (save()) {
        case Save::ListMp3:
        case Save::ListFlac:
            dialogs.queueFile(target);
            dialogs.queueInput(QStringLiteral("list")); // the title
            w->songListPanel->CmdSaveList->click();
            break;
        case Save::ExportClip:
            dialogs.queueFile(target);
            dialogs.queueInput(QStringLiteral("clip"));
            w->editorFrame->CmdExport->click();
            break;
        case Save::ConvertMp3:
            dialogs.queueQuestion(true); // the typed target is there already: replace it
            w->convertPanel->CmdConvertMP3->click();
            break;
        case Save::RecordWav:
        case Save::RecordMp3:
            w->recorderPanel->btnSave->click();
            dialogs.queueFile(target);
            (save() == Save::RecordWav ? w->recorderPanel->CmdWav : w->recorderPanel->CmdMp3)
                ->click();
            break;
        }
    }

    // The target holds what was saved: the take's bytes, the songs' samples exactly (FLAC), or
    // an MP3 of their length.
    void checkTarget(const QString& target) {
        switch (save()) {
        case Save::RecordWav:
            EXPECT_EQ(readFile(target), takeBytes);
            return;
        case Save::ListFlac: {
            const DecodedSong flac = decodeAll(target);
            EXPECT_EQ(flac.kind, SongKind::Flac);
            EXPECT_TRUE(flac.samples == expected);
            return;
        }
        default: {
            QString error;
            const auto mp3 = decodeMp3(target, &error);
            ASSERT_TRUE(mp3) << qPrintable(error);
            const std::size_t frames = save() == Save::RecordMp3
                                           ? std::size_t(takeBytes.size() - 44) / 4
                                           : expected.size() / 2;
            EXPECT_EQ(mp3->frames(), frames);
        }
        }
    }

    // Every file of the sources' folder, the targets' folder and the working folder, with its
    // bytes.
    QMap<QString, QByteArray> files() const {
        QMap<QString, QByteArray> all;
        for (const QString& folder : {path("in"), path("out"), workRoot})
            for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                all.insert(f.absoluteFilePath(), readFile(f.absoluteFilePath()));
        return all;
    }

    std::vector<std::int16_t> expected; // the samples of the songs saved
    QByteArray takeBytes;
};

TEST_P(EncodeJob, CancelLeavesAllAsItWasAndTheSaveThenSucceeds) {
    const int cancelAt = std::get<1>(GetParam());
    const QString target = prepare();
    ASSERT_FALSE(HasFatalFailure());
    writeFile(target, "earlier");
    const auto before = files();
    dialogs.clear();

    auto hold = std::make_unique<HoldAt>(cancelAt);
    start(target);
    cancelHeld(*hold, *w, w->busyWindow().window(), w->jobs());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(files(), before);
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(w->encodings().pending(), 0);

    // Once more, to its end (what the save wrote is read after the watched runs: reading it is
    // the test's work, not the window's).
    hold.reset();
    const WatchedRuns runs = watchRuns(w->jobs(), [&] {
        start(target);
        ASSERT_TRUE(jobsSettled(*w));
    });
    EXPECT_TRUE(runs.progressComplete);
    EXPECT_LE(runs.worstBusyMs, kWorstBusyMs);
    // Every save names the file it saved.
    const QStringList said = dialogs.messageTexts();
    EXPECT_EQ(said.value(said.size() - 1),
              "Finish Save: " + QFileInfo(target).fileName() + " is saved.");
    checkTarget(target);
    EXPECT_EQ(filesIn(w->workPath()).size(), list->count()); // the working copies alone
}

INSTANTIATE_TEST_SUITE_P(CancelAt, EncodeJob,
                         ::testing::Combine(::testing::Values(Save::ListMp3, Save::ListFlac,
                                                              Save::ExportClip, Save::ConvertMp3,
                                                              Save::RecordWav, Save::RecordMp3),
                                            ::testing::Values(100, 500, 900)),
                         [](const auto& row) {
                             return std::string(kSaveNames[int(std::get<0>(row.param))]) + "_" +
                                    std::to_string(std::get<1>(row.param) / 10) + "pct";
                         });

} // namespace
