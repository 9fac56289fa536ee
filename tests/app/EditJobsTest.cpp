// The clip editor's "Done" as a job: the busy window counts up to 100 % while the window thread
// stays free, and Cancel at any point leaves the working copy, the undo history, the working
// folder and the editor as they were, after which the same cut runs to its end. "Undo Cut" stays
// on the window thread: it renames the kept file back, whatever the song's length.
#include "app/JobProbe.h"
#include "app/WindowFixture.h"
#include "editor/ClipEffects.h"
#include "editor/EditSongFrame.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"

#include <QDirIterator>
#include <QLabel>

#include <sys/stat.h>

#include <cmath>

using namespace quaverly;
using namespace quaverly::test;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kFrames = 30 * kRate; // 30 s, stereo
constexpr qint64 kIn = 2000, kOut = 22000;  // ms: frames [88200, 970200)
constexpr qint64 kFirst = 88200, kLength = 882000;
constexpr qint64 kFadeMs = 100; // 4410 frames at each end
constexpr qint64 kFade = 4410;

enum class Effects { None, FadesAndPeak };

class EditJob : public WindowFixture,
                public ::testing::WithParamInterface<std::tuple<Effects, int>> {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        source = staircase(kFrames, 2);
        ASSERT_TRUE(writeWav16(path("song.wav"), 2, kRate, source));
        dialogs.queueFile(path("song.wav"));
        click(*w, "CmdAdd");
        ASSERT_EQ(list->count(), 1);
        copy = w->songListPanel->workingCopy(0);
        list->setCurrentRow(0);
        emit list->itemDoubleClicked(list->currentItem());
        f = w->editorFrame;
        ASSERT_TRUE(f->CmdEditDone->isEnabled());
        chooseEffects();
        w->MarkIn = kIn;
        w->MarkOut = kOut;
    }

    // The row's effects; a Done that ends sets them back to off.
    void chooseEffects() {
        if (std::get<0>(GetParam()) == Effects::FadesAndPeak) {
            f->spnFadeIn->setValue(int(kFadeMs));
            f->spnFadeOut->setValue(int(kFadeMs));
            f->cmbNormalise->setCurrentIndex(
                f->cmbNormalise->findData(int(ClipEffects::Normalise::Peak)));
            f->spnNormTarget->setValue(-1.0);
        }
    }

    // Every file and folder under the working folder (the kept links of the undo included),
    // with its bytes.
    QMap<QString, QByteArray> files() const {
        QMap<QString, QByteArray> all;
        QDirIterator it(workRoot, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry = it.nextFileInfo();
            all.insert(entry.absoluteFilePath(),
                       entry.isDir() ? QByteArray("<folder>") : readFile(entry.absoluteFilePath()));
        }
        return all;
    }

    // The clip's sample of frame `i`, channel `c`, as "Done" must make it.
    std::int16_t expected(qint64 i, int c) const {
        const double level = source[std::size_t(kFirst + i) * 2 + std::size_t(c)];
        if (std::get<0>(GetParam()) == Effects::None)
            return std::int16_t(level);
        // Linear fades from and to 0; the staircase reaches -32768 between them, which the
        // peak normalising brings to -1 dBFS (29204).
        double g = 1.0;
        if (i < kFade)
            g = double(i) / double(kFade);
        else if (kLength - 1 - i < kFade)
            g = double(kLength - 1 - i) / double(kFade);
        return std::int16_t(std::lround(level * g * (29204.0 / 32768.0)));
    }

    // The working copy is the clip, checked at both ends to the sample.
    void expectClip() const {
        const auto s = samples16(readFile(copy));
        ASSERT_EQ(qint64(s.size()), kLength * 2);
        for (qint64 i : {qint64(0), qint64(1), kFade - 1, kFade, kFade + 1, kLength - kFade - 2,
                         kLength - kFade - 1, kLength - 2, kLength - 1})
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(s[std::size_t(i) * 2 + std::size_t(c)], expected(i, c))
                    << "frame " << i << ", channel " << c;
    }

    static ino_t inode(const QString& file) {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_ino : 0;
    }

    std::vector<std::int16_t> source;
    QString copy;
    EditSongFrame* f = nullptr;
};

TEST_P(EditJob, CancelLeavesAllAsItWasThenDoneCutsAndUndoRenamesBack) {
    const int cancelAt = std::get<1>(GetParam());
    const auto before = files();
    ASSERT_TRUE(before.contains(QFileInfo(copy).absoluteFilePath())) << "the working folder";
    const QByteArray song = readFile(copy);
    const ino_t songInode = inode(copy);
    ASSERT_FALSE(f->CmdUndoCut->isEnabled());

    auto hold = std::make_unique<HoldAt>(cancelAt);
    f->CmdEditDone->click();
    cancelHeld(*hold, *w, w->busyWindow().window(), w->jobs(), "Cutting " + list->item(0)->text());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(files(), before); // the working copy to the byte, no kept link, no scratch file
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());
    // The editor goes on with the song and its marks; there is still nothing to undo.
    EXPECT_EQ(w->ListMode, "Edit");
    EXPECT_TRUE(f->CmdEditDone->isEnabled());
    EXPECT_EQ(std::pair(w->MarkIn, w->MarkOut), std::pair(kIn, kOut));
    EXPECT_FALSE(f->CmdUndoCut->isEnabled());

    // Once more, to its end (after an undo when a run is repeated): the progress counts up to
    // 100 % and the window never stalls.
    hold.reset();
    const WatchedRuns runs = watchRuns(w->jobs(), [&] {
        if (f->CmdUndoCut->isEnabled())
            click(*w, "CmdUndoCut");
        w->MarkIn = kIn;
        w->MarkOut = kOut;
        chooseEffects();
        click(*w, "CmdEditDone");
        expectClip();
        EXPECT_EQ(w->ListMode, "Edit"); // the clip is open in the editor
    });
    EXPECT_TRUE(runs.progressComplete);
    EXPECT_LE(runs.worstBusyMs, kWorstBusyMs);

    // The undo renames the kept link back: the song's own file again, not a copy of it, put
    // back without keeping the window thread busy.
    ASSERT_TRUE(f->CmdUndoCut->isEnabled());
    WindowWatch watch(w->jobs());
    click(*w, "CmdUndoCut");
    watch.lastTick();
    EXPECT_LE(watch.worstBusyMs, kWorstBusyMs);
    EXPECT_EQ(readFile(copy), song);
    EXPECT_EQ(inode(copy), songInode);
    EXPECT_EQ(w->ListMode, "Edit");
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
}

INSTANTIATE_TEST_SUITE_P(CancelAt, EditJob,
                         ::testing::Combine(::testing::Values(Effects::None, Effects::FadesAndPeak),
                                            ::testing::Values(100, 500, 900)),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param) == Effects::None
                                                    ? "Plain"
                                                    : "FadesAndPeak") +
                                    std::to_string(std::get<1>(row.param) / 10) + "pct";
                         });

} // namespace
