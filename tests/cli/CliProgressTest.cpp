// The progress line and Ctrl+C: quaverly-cli with its standard error on a pseudo-terminal or a
// pipe, and interrupted while it works.
#include "cli/ProgressLine.h"
#include "support/TestAudio.h"
#include "support/Waits.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// quaverly-cli running with its standard error on a terminal or a pipe (standard output goes to
// /dev/null). Killed, should a test leave it running.
class Running {
public:
    Running(const QStringList& args, bool terminal) {
        std::vector<std::string> words{QUAVERLY_CLI_PATH};
        for (const QString& a : args)
            words.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);

        int child = -1;
        int fds[2];
        if (terminal ? openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr) : pipe(fds)) {
            ADD_FAILURE() << "no terminal or pipe: " << std::strerror(errno);
            return;
        }
        fd_ = fds[0];
        child = fds[1];
        pid_ = fork();
        if (pid_ == 0) { // only what is safe after a fork, up to exec
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(child, 2);
            close(fd_);
            // With SIGINT as a terminal's Ctrl+C finds it, whatever this test was started with.
            signal(SIGINT, SIG_DFL);
            sigset_t all;
            sigfillset(&all);
            sigprocmask(SIG_UNBLOCK, &all, nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(child);
        EXPECT_GT(pid_, 0) << std::strerror(errno);
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Running() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    pid_t pid() const { return pid_; }
    // What it wrote to standard error so far.
    const QByteArray& err() {
        char buffer[4096];
        for (ssize_t n; fd_ >= 0 && (n = read(fd_, buffer, sizeof buffer)) > 0;)
            said_.append(buffer, qsizetype(n));
        return said_;
    }
    // Its exit status, once it has ended; nullopt when it was killed or did not end in time.
    std::optional<int> exitCode(double seconds = 120) {
        const bool ended = pollUntil(
            [&] {
                err(); // a full terminal or pipe would hold it up
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) != pid_)
                    return false;
                status_ = status;
                return true;
            },
            seconds);
        err();
        if (!ended || !WIFEXITED(*status_))
            return std::nullopt;
        return WEXITSTATUS(*status_);
    }

private:
    int fd_ = -1;
    pid_t pid_ = -1;
    std::optional<int> status_;
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
        {"joining", 0, 1, 0, 80, "joining [--------------------]   0%"},
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
        QStringList args;
        const char* out;
        QByteArray before; // OUT's bytes before, if there is one
    } rows[] = {
        {"join, new", {"join", "OUT", path("noise.wav"), path("noise.wav")}, "j.mp3", {}},
        {"join over", {"join", "OUT", path("noise.wav"), path("noise.wav")}, "j.mp3", "before"},
        // A ten-minute take that the virtual device records at ten times the speed.
        {"record", {"record", "OUT", "--seconds", "600"}, "r.wav", {}},
    };
    for (const auto& r : rows) {
        const QString out = path(r.out);
        QFile::remove(out);
        if (!r.before.isNull()) {
            ASSERT_TRUE(writeFile(out, r.before));
        }
        const QStringList before = files();
        QStringList args = r.args;
        args.replace(1, out);
        Running cli(args, true);
        ASSERT_TRUE(pollUntil([&] { return cli.err().contains("%"); }, 60)) << r.name;
        ASSERT_EQ(kill(cli.pid(), SIGINT), 0);
        ASSERT_EQ(cli.exitCode(), 130) << r.name << ": " << cli.err().toStdString();
        EXPECT_TRUE(cli.err().endsWith(
            QStringLiteral("\r\033[Kquaverly-cli: cancelled; %1 was not written\r\n")
                .arg(out)
                .toLocal8Bit()))
            << r.name << ": " << cli.err().toStdString();
        EXPECT_EQ(files(), before) << r.name;
        if (!r.before.isNull()) {
            EXPECT_EQ(readFile(out), r.before) << r.name;
        }
    }
}

} // namespace
