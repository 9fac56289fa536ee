// Whole-file work on a worker: the busy window counts up to 100 % while the window thread stays
// free, and Cancel at any point leaves the target, the list and its working copies exactly as
// they were, after which the same job runs to its end.
#include "app/WindowFixture.h"
#include "support/TestAudio.h"
#include "ui/BusyWindow.h"

#include <QSignalSpy>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <time.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// The most time the window thread may spend working between two of its timer's ticks while a
// job runs. Counted in the thread's own CPU time, so that a loaded machine taking the thread off
// its core for a while (which a wall clock would count) does not count as the window being busy.
constexpr qint64 kWorstBusyMs = 50;

qint64 threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

class ListSaveJob : public WindowFixture, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override {
        JobContext::observeForTesting = nullptr;
        WindowFixture::TearDown();
    }
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

    // The worker stops at the chosen point until the user's Cancel has reached it.
    std::atomic<bool> reached{false};
    JobContext::observeForTesting = [&](const JobContext& job, int permille) {
        if (permille < cancelAt || reached.exchange(true))
            return;
        // Woken by the stop request itself, or given up after the deadline.
        std::mutex mutex;
        std::condition_variable_any woken;
        std::unique_lock lock(mutex);
        woken.wait_for(lock, job.stop(), std::chrono::seconds(20), [] { return false; });
    };
    dialogs.queueFile(target);
    w->Framewav->CmdSaveWav->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reached.load(); }, 20000));
    auto* cancel = child<QAbstractButton>(w->busyWindow().window(), "CmdCancel");
    ASSERT_TRUE(cancel && cancel->isVisible());
    EXPECT_FALSE(w->isEnabled()); // nothing can change what the job reads
    cancel->click();
    ASSERT_TRUE(jobsSettled(*w));
    EXPECT_EQ(files(), before);
    EXPECT_EQ(list->count(), 3);
    EXPECT_TRUE(dialogs.messageTexts().isEmpty()) << qPrintable(dialogs.messageTexts().join('\n'));
    EXPECT_FALSE(busyShown());
    EXPECT_TRUE(w->isEnabled());

    // Once more, to its end: the progress counts up to 100 % and the window never stalls.
    JobContext::observeForTesting = nullptr;
    QList<int> seen;
    QObject::connect(&w->jobs(), &Jobs::progressed, [&](int permille) { seen << permille; });
    qint64 lastTick = 0, worstBusy = 0;
    QTimer ticks;
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = threadCpuMs();
        worstBusy = std::max(worstBusy, now - lastTick);
        lastTick = now;
    });
    dialogs.queueFile(target);
    lastTick = threadCpuMs();
    ticks.start();
    w->Framewav->CmdSaveWav->click();
    ASSERT_TRUE(jobsSettled(*w));
    ticks.stop();
    EXPECT_EQ(readFile(target).mid(44), joined);
    EXPECT_EQ(dialogs.messageTexts().value(0), "Finish Save");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.last(), 1000);
    EXPECT_LE(worstBusy, kWorstBusyMs);
}

INSTANTIATE_TEST_SUITE_P(CancelAt, ListSaveJob, ::testing::Values(100, 500, 900),
                         [](const auto& row) { return std::to_string(row.param / 10) + "pct"; });

} // namespace
