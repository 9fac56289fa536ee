// The usual tools run alike through QProcess, a plain fork and the bridge
// (scripts/windows/peer-bridge.sh): the arguments reach the tool exactly, its output, errors and
// exit code come back, and a tool that is missing or runs past its deadline is told apart.
#include "support/Peers.h"
#include "support/TestPaths.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

namespace quaverly::test {
namespace {

enum class Way { QProcessRun, PlainFork, Bridge };

const char* nameOf(Way way) {
    return way == Way::QProcessRun ? "QProcess" : way == Way::PlainFork ? "PlainFork" : "Bridge";
}
void PrintTo(Way way, std::ostream* os) {
    *os << nameOf(way);
}

class Peers : public ::testing::TestWithParam<Way> {
protected:
    void SetUp() override {
        // A bridge the suite already runs its tools through (under wine) serves the bridge's
        // rows; the others run the tools here, which a Windows program cannot.
        outside = qgetenv("QUAVERLY_PEER_BRIDGE");
#ifdef _WIN32
        if (outside.isEmpty() || GetParam() != Way::Bridge)
            GTEST_SKIP() << "the tools run on the Linux side, through the bridge";
#endif
        if (GetParam() != Way::Bridge) {
            qunsetenv("QUAVERLY_PEER_BRIDGE");
            return;
        }
        if (!outside.isEmpty())
            return;
        ASSERT_TRUE(dir.isValid());
        bridge.start(QStringLiteral("bash"),
                     {quaverly::test::sourcePath("/scripts/windows/peer-bridge.sh"), dir.path()});
        const QString serving = dir.filePath(QStringLiteral("serving"));
        const QDeadlineTimer deadline(10000);
        while (!QFile::exists(serving) && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(QFile::exists(serving));
        qputenv("QUAVERLY_PEER_BRIDGE", QFile::encodeName(dir.path()));
    }
    void TearDown() override {
        if (outside.isEmpty())
            qunsetenv("QUAVERLY_PEER_BRIDGE");
        else
            qputenv("QUAVERLY_PEER_BRIDGE", outside);
        if (bridge.state() == QProcess::NotRunning)
            return;
        QFile stop(dir.filePath(QStringLiteral("stop")));
        EXPECT_TRUE(stop.open(QIODevice::WriteOnly));
        EXPECT_TRUE(bridge.waitForFinished(10000));
    }
    PeerOptions options() const {
        PeerOptions o;
        o.plainFork = GetParam() == Way::PlainFork;
        return o;
    }

    QByteArray outside; // QUAVERLY_PEER_BRIDGE as the test found it
    QTemporaryDir dir;
    QProcess bridge;
};

TEST_P(Peers, GetTheArgumentsExactlyAndGiveBackWhatTheySaid) {
    const PeerRun r = runPeer(QStringLiteral("sh"),
                              {"-c", "printf '%s|' \"$@\"; printf 'to err' >&2; exit 3", "sh",
                               "a b", "", "Tïtle 日本", "-x"},
                              options());
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.ok());
    if (GetParam() == Way::PlainFork) { // its output is thrown away
        EXPECT_EQ(r.failure(), "sh ended with 3");
        return;
    }
    EXPECT_EQ(r.out, "a b||Tïtle 日本|-x|");
    EXPECT_EQ(r.err, "to err");
    EXPECT_EQ(r.failure(), "sh ended with 3: to err");
    EXPECT_TRUE(runPeer(QStringLiteral("true"), {}, options()).ok());
}

TEST_P(Peers, AMissingToolAndOneRunningLateAreToldApart) {
    EXPECT_TRUE(havePeer(QStringLiteral("sh")));
    EXPECT_FALSE(havePeer(QStringLiteral("no-such-tool-here")));
    const PeerRun missing = runPeer(QStringLiteral("no-such-tool-here"), {}, options());
    EXPECT_FALSE(missing.started);
    EXPECT_TRUE(missing.failure().startsWith("no-such-tool-here could not be started"))
        << missing.failure().toStdString();

    PeerOptions quick = options();
    quick.timeoutMs = 200;
    QElapsedTimer took;
    took.start();
    const PeerRun late = runPeer(QStringLiteral("sleep"), {QStringLiteral("30")}, quick);
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_TRUE(late.started);
    EXPECT_FALSE(late.finished);
    EXPECT_EQ(late.failure(), "sleep did not end in time");
}

INSTANTIATE_TEST_SUITE_P(Ways, Peers,
                         ::testing::Values(Way::QProcessRun, Way::PlainFork, Way::Bridge),
                         [](const auto& p) { return std::string(nameOf(p.param)); });

} // namespace
} // namespace quaverly::test
