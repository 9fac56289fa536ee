// The progress line and Ctrl+C: quaverly-cli with its standard error on a pseudo-terminal or a
// pipe, and interrupted while it works; the presets table on a terminal.
#include "cli/ProgressLine.h"
#include "engines/encoder/Presets.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"
#include "support/Waits.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// quaverly-cli with its standard error on a terminal or a pipe, standard output on /dev/null
// (or, `withOutput`, on the same terminal or pipe); killed, should a test leave it running.
class Running {
public:
    Running(const QStringList& args, bool terminal, bool withOutput = false) {
        std::vector<std::string> words{quaverly::test::cliPath().toStdString()};
        for (const QString& a : args)
            words.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        int fds[2];
        if (terminal ? openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr) : pipe(fds)) {
            ADD_FAILURE() << std::strerror(errno);
            return;
        }
        fd_ = fds[0];
        pid_ = fork();
        if (pid_ == 0) { // only what is safe after a fork, up to exec
            dup2(withOutput ? fds[1] : open("/dev/null", O_WRONLY), 1);
            dup2(fds[1], 2);
            // SIGINT as a terminal's Ctrl+C finds it, whatever this test was started with.
            signal(SIGINT, SIG_DFL);
            sigset_t all;
            sigfillset(&all);
            sigprocmask(SIG_UNBLOCK, &all, nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~Running() {
        if (pid_ > 0 && !ended_ && kill(pid_, SIGKILL) == 0)
            waitpid(pid_, nullptr, 0);
        close(fd_);
    }

    pid_t pid() const { return pid_; }
    // What it wrote to standard error so far.
    const QByteArray& err() {
        char buffer[4096];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
            said_.append(buffer, qsizetype(n));
        return said_;
    }
    // Its exit status; -1 when it was killed or did not end in time.
    int exitCode() {
        int status = 0;
        // Read meanwhile: a full terminal or pipe would hold it up.
        ended_ = pollUntil(
            [&] {
                err();
                return waitpid(pid_, &status, WNOHANG) == pid_;
            },
            120);
        err();
        return ended_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    int fd_ = -1;
    pid_t pid_ = -1;
    bool ended_ = false;
    QByteArray said_;
};

class CliProgress : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

TEST(CliProgressText, TellsTheBarThePercentAndOnceKnownTheTimeLeft) {
    const struct {
        const char* label;
        std::uint64_t done, total;
        double elapsed;
        int columns;
        const char* line;
    } rows[] = {
        {"cutting a.wav", 0, 0, 3, 80, "cutting a.wav..."},
        // 1 % after half a second: too early to tell the time left; after two seconds it is.
        {"joining", 1, 100, 0.5, 80, "joining [--------------------]   1%"},
        {"joining", 1, 100, 2, 80, "joining [--------------------]   1%  3:18 left"},
        {"joining", 1, 4, 0.5, 80, "joining [#####---------------]  25%  0:02 left"},
        {"joining", 1, 1000, 10, 80, "joining [--------------------]   0%  2:46:30 left"},
        // Not 100 % before the work has ended, even when the source gave all it said it has.
        {"encoding", 5, 4, 3, 80, "encoding [###################-]  99%  0:01 left"},
        // A narrow terminal: a shorter bar, and the label cut to what is left.
        {"encoding a-very-long-name.mp3", 1, 2, 0.5, 40, "encodin... [#####-----]  50%  0:01 left"},
    };
    for (const auto& r : rows) {
        const QString line =
            cli::progressText(QString::fromUtf8(r.label), r.done, r.total, r.elapsed, r.columns);
        EXPECT_EQ(line.toStdString(), r.line);
        EXPECT_LT(line.size(), r.columns) << r.line;
    }
}

// A join on a terminal shows its line, and leaves nothing of it; through a pipe or with --quiet
// nothing of it is written at all.
TEST_F(CliProgress, AJoinShowsItsLineOnATerminalOnly) {
    const QByteArray a =
        wavBytes(WavHeader::pcm(2, 44100, 16), staircase(3 * 44100, 2, 0).data(), 3 * 44100 * 4);
    const QByteArray b = wavBytes(WavHeader::pcm(2, 44100, 16),
                                  staircase(2 * 44100, 2, 20000).data(), 2 * 44100 * 4);
    ASSERT_TRUE(writeFile(path("a.wav"), a) && writeFile(path("b.wav"), b));
    const struct {
        const char* name;
        bool terminal;
        QStringList more;
        bool shown;
    } rows[] = {
        {"terminal", true, {}, true},
        {"pipe", false, {}, false},
        {"quiet", true, {"--quiet"}, false},
    };
    for (const auto& r : rows) {
        QFile::remove(path("ab.wav"));
        Running cli(
            QStringList{"join", path("ab.wav"), path("a.wav"), path("b.wav"), path("a.wav")} +
                r.more,
            r.terminal);
        ASSERT_EQ(cli.exitCode(), 0) << r.name << ": " << cli.err().toStdString();
        if (r.shown) {
            EXPECT_TRUE(cli.err().contains("%")) << r.name;
            EXPECT_TRUE(cli.err().endsWith("\r\033[K")) << r.name << ": the line stays";
        } else {
            EXPECT_EQ(cli.err(), QByteArray()) << r.name;
        }
        EXPECT_EQ(readFile(path("ab.wav")).mid(44), a.mid(44) + b.mid(44) + a.mid(44)) << r.name;
    }
}

// Ctrl+C while a command works: it ends at once with 130, saying so, and OUT is as it was (or is
// not there) with nothing left beside it.
TEST_F(CliProgress, CtrlCStopsTheWorkAndLeavesOutAsItWas) {
    // A minute of noise, twice: seconds of encoding.
    std::vector<std::int16_t> noise(60 * 44100 * 2);
    std::uint32_t x = 1;
    for (std::int16_t& s : noise)
        s = std::int16_t((x = x * 1103515245u + 12345u) >> 16);
    ASSERT_TRUE(writeWav16(path("noise.wav"), 2, 44100, noise));
    const struct {
        const char* name;
        QStringList args; // OUT goes after the command
        const char* out;
        QByteArray before; // OUT's bytes before, if there is one
    } rows[] = {
        {"join, new", {"join", path("noise.wav"), path("noise.wav")}, "j.mp3", {}},
        {"join over", {"join", path("noise.wav"), path("noise.wav")}, "j.mp3", "before"},
        // A ten-minute take that the virtual device records at ten times the speed.
        {"record", {"record", "--seconds", "600"}, "r.wav", {}},
    };
    for (const auto& r : rows) {
        const QString out = path(r.out);
        QFile::remove(out);
        if (!r.before.isNull()) {
            ASSERT_TRUE(writeFile(out, r.before));
        }
        const QStringList before = files();
        Running cli(QStringList(r.args.first()) << out << r.args.mid(1), true);
        ASSERT_TRUE(pollUntil([&] { return cli.err().contains("%"); }, 60)) << r.name;
        ASSERT_EQ(kill(cli.pid(), SIGINT), 0);
        ASSERT_EQ(cli.exitCode(), 130) << r.name << ": " << cli.err().toStdString();
        EXPECT_TRUE(cli.err().endsWith(
            QStringLiteral("\r\033[Kquaverly-cli: cancelled; %1 was not written\r\n")
                .arg(out)
                .toLocal8Bit()))
            << r.name << ": " << cli.err().toStdString();
        EXPECT_EQ(files(), before) << r.name;
        EXPECT_EQ(readFile(out), r.before) << r.name;
    }
}

// On a terminal the presets form a table under a header, each column starting at one place and
// no line wider than 80 columns; through a pipe (scripts, the completion) they stay tab-separated.
TEST(CliPresets, ATableOnATerminalTabsThroughAPipe) {
    for (const bool terminal : {true, false}) {
        Running cli({"presets"}, terminal, true);
        ASSERT_EQ(cli.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(cli.err()).remove(u'\r').split(u'\n', Qt::SkipEmptyParts);
        const auto presets = qsizetype(encode::presets().size());
        // The pipe: one line a preset; the terminal: a header too, and wrapped lines.
        ASSERT_EQ(lines.size() > presets, terminal) << cli.err().toStdString();
        ASSERT_GE(lines.size(), presets) << cli.err().toStdString();
        if (!terminal) {
            EXPECT_TRUE(lines[0].startsWith(QLatin1String("iphone-ringtone\tiPhone ringtone\t")));
            continue;
        }
        const qsizetype name = lines[0].indexOf(QLatin1String("NAME"));
        const qsizetype writes = lines[0].indexOf(QLatin1String("WRITES"));
        EXPECT_TRUE(lines[0].startsWith(QLatin1String("ID  ")) && name > 0 && writes > name);
        EXPECT_EQ(lines[1].indexOf(QLatin1String("iPhone ringtone")), name);
        EXPECT_EQ(lines[1].indexOf(QLatin1String("M4R, AAC")), writes);
        for (const QString& line : lines) {
            EXPECT_FALSE(line.contains(u'\t')) << line.toStdString();
            EXPECT_LE(line.size(), 80) << line.toStdString();
            // A row starts with its id; a wrapped one goes on in the last column.
            EXPECT_TRUE(line[0] != u' ' ||
                        line.indexOf(QRegularExpression(QStringLiteral("\\S"))) == writes)
                << line.toStdString();
        }
    }
}

} // namespace
