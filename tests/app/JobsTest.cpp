// Whole-file work on a worker: the busy window counts up to 100 % while the window thread stays
// free, and Cancel at any point leaves the target, the list and its working copies exactly as
// they were, after which the same job runs to its end.
#include "app/JobProbe.h"
#include "app/WindowFixture.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"

using namespace quaverly;
using namespace quaverly::test;

namespace {

class ListSaveJob : public WindowFixture, public ::testing::WithParamInterface<int> {
protected:
    // Three stereo staircase songs of 10 s, added through "ADD"; their data, joined.
    QByteArray addSongs() {
        QByteArray joined;
        for (int i = 0; i < 3; ++i) {
            const QString file = path(QStringLiteral("song%1.wav").arg(i));
            const auto samples = staircase(441000, 2, -30000 + i * 1000, 3);
            EXPECT_TRUE(writeWav16(file, 2, 44100, samples));
            dialogs.queueFile(file);
            click(*w, "CmdAdd");
            joined += QByteArray(reinterpret_cast<const char*>(samples.data()),
                                 qsizetype(samples.size() * 2));
        }
        return joined;
    }
    // Every file of the working folder and beside the target, with its bytes.
    QMap<QString, QByteArray> files() const {
        QMap<QString, QByteArray> all;
        for (const QString& folder : {path(QStringLiteral("out")), workRoot})
            for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                all.insert(f.absoluteFilePath(), readFile(f.absoluteFilePath()));
        return all;
    }
};

TEST_P(ListSaveJob, CancelLeavesAllAsItWasAndTheSaveThenSucceeds) {
    const int cancelAt = GetParam();
    const QByteArray joined = addSongs();
    const QString target = path(QStringLiteral("out/list.wav"));
    writeFile(target, "earlier");
    const auto before = files();

    auto hold = std::make_unique<HoldAt>(cancelAt);
    dialogs.queueFile(target);
    w->songListPanel->CmdSaveWav->click();
    cancelHeld(*hold, *w, w->busyWindow().window(), w->jobs());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(files(), before);
    EXPECT_EQ(list->count(), 3);
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());

    // Once more, to its end: the progress counts up to 100 % and the window never stalls.
    hold.reset();
    const WatchedRuns runs = watchRuns(w->jobs(), [&] {
        dialogs.queueFile(target);
        w->songListPanel->CmdSaveWav->click();
        ASSERT_TRUE(jobsSettled(*w));
        EXPECT_EQ(readFile(target).mid(44), joined);
        const QStringList said = dialogs.messageTexts();
        EXPECT_EQ(said.value(said.size() - 1),
                  "Finish Save: " + QFileInfo(target).fileName() + " is saved.");
    });
    EXPECT_TRUE(runs.progressComplete);
    EXPECT_LE(runs.worstBusyMs, kWorstBusyMs);
}

INSTANTIATE_TEST_SUITE_P(CancelAt, ListSaveJob, ::testing::Values(100, 500, 900),
                         [](const auto& row) { return std::to_string(row.param / 10) + "pct"; });

} // namespace
