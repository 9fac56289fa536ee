// The job runner: the owner's thread hears of the work's progress in order and of its end after
// the last of it, a stop reaches the work, and one run at a time.
#include "engines/util/JobRunner.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <semaphore>
#include <utility>
#include <vector>

using quaverly::JobRunner;
using quaverly::WorkProgress;

namespace {

struct Heard {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    std::vector<bool> ends;
    std::size_t progressAtEnd = 0;
};

void listen(JobRunner& runner, Heard& heard) {
    QObject::connect(&runner, &JobRunner::progressed,
                     [&heard](std::uint64_t done, std::uint64_t total) {
                         heard.progress.emplace_back(done, total);
                     });
    QObject::connect(&runner, &JobRunner::ended, [&heard](bool stopped) {
        heard.ends.push_back(stopped);
        heard.progressAtEnd = heard.progress.size();
    });
}

TEST(JobRunner, TellsTheProgressInOrderThenTheEnd) {
    constexpr std::uint64_t kSteps = 20000;
    for (const bool waited : {false, true}) {
        JobRunner runner;
        Heard heard;
        listen(runner, heard);
        ASSERT_TRUE(runner.start([](const WorkProgress& work) {
            for (std::uint64_t i = 1; i <= kSteps; ++i)
                work.report(i, kSteps);
        }));
        EXPECT_TRUE(runner.running());
        if (waited) {
            runner.wait(); // the end is heard before wait() returns
        } else {
            ASSERT_TRUE(quaverly::test::eventsUntil([&] { return !heard.ends.empty(); }));
        }
        EXPECT_FALSE(runner.running());
        EXPECT_EQ(heard.ends, std::vector<bool>{false}) << waited;
        ASSERT_FALSE(heard.progress.empty());
        EXPECT_EQ(heard.progressAtEnd, heard.progress.size()) << "no progress after the end";
        EXPECT_EQ(heard.progress.back(), std::pair(kSteps, kSteps));
        EXPECT_TRUE(std::is_sorted(heard.progress.begin(), heard.progress.end()));
        // Reports are gathered while one waits: far fewer calls than reports.
        EXPECT_LT(heard.progress.size(), kSteps);
    }
}

TEST(JobRunner, AStopReachesTheWorkAndItsEndSaysSo) {
    for (const bool stoppedBeforeStart : {false, true}) {
        JobRunner runner;
        Heard heard;
        listen(runner, heard);
        std::binary_semaphore started(0);
        ASSERT_TRUE(runner.start(
            [&](const WorkProgress& work) {
                started.release();
                (void)quaverly::test::pollUntil([&work] { return work.stopped(); }, 30.0);
            },
            stoppedBeforeStart));
        ASSERT_TRUE(started.try_acquire_for(std::chrono::seconds(30)));
        EXPECT_FALSE(runner.start([](const WorkProgress&) {})) << "one run at a time";
        EXPECT_EQ(runner.stopRequested(), stoppedBeforeStart);
        runner.stop();
        ASSERT_TRUE(quaverly::test::eventsUntil([&] { return !heard.ends.empty(); }));
        EXPECT_EQ(heard.ends, std::vector<bool>{true});
        // The next run starts afresh.
        ASSERT_TRUE(runner.start([](const WorkProgress& work) { work.report(1, 1); }));
        runner.wait();
        EXPECT_EQ(heard.ends, (std::vector<bool>{true, false}));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
