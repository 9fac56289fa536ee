// Times the song list's work as the window does it, with scripted dialogs and no display:
//   quaverly_window_bench add FILE               "ADD" of one song (decoded into its working copy)
//   quaverly_window_bench savewav OUT IN...      adds the songs, then "Save The List to Wav"
//   quaverly_window_bench savemp3 OUT KBPS IN... adds the songs, then "Save The List to MP3"
//   quaverly_window_bench open FILE              adds the song, then the double click that
//                                                shows it in "Edit Song" with its length
//   quaverly_window_bench cut FILE FROM TO       adds and opens the song, then "Done" with the
//                                                marks at FROM and TO milliseconds
//   quaverly_window_bench pause FILE             "ADD" of one song, printing instead the longest
//                                                pause of the window thread meanwhile, in ms
//                                                (wall clock, then the thread's CPU time)
// Prints the seconds of the timed step and how far the peak memory rose above the idle window,
// in KiB. Start-up and the adds before a save are not timed, but count for the memory peak.
// savemp3 adds a third figure: how many bytes the working folder held at most during the save
// beyond what it held before (the songs' working copies), sampled every 2 ms. The target is
// written beside itself, outside the working folder, so it does not count. Both saves end their
// line with the longest pause of the window thread during the save, in ms: the longest gap
// between two ticks of a 5 ms timer, by the wall clock.
#include "BenchSupport.h"
#include "app/Frmmain.h"
#include "support/ScriptedDialogs.h"
#include "ui/Jobs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

using quaverly::bench::click;
using quaverly::bench::clickToEnd;
using quaverly::bench::peakKib;

namespace {

double secondsOf(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

// While it lives: the longest gap between two ticks of a 5 ms timer on the window thread.
class PauseWatch {
public:
    PauseWatch() {
        ticks_.setInterval(5);
        QObject::connect(&ticks_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longestNs_ = std::max(longestNs_, now - last_);
            last_ = now;
        });
        clock_.start();
        ticks_.start();
    }
    double longestMs() const {
        return double(std::max(longestNs_, clock_.nsecsElapsed() - last_)) / 1e6;
    }

private:
    QTimer ticks_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longestNs_ = 0;
};

// open and cut: times the double click that opens the first song, or "Done" on it with the
// marks of args[2] and args[3]. Fails when the song did not open in the editor.
std::optional<double> timeEditor(quaverly::Frmmain& w, const QString& mode,
                                 const QStringList& args) {
    const auto open = [&] {
        w.songListPanel->List1->setCurrentRow(0);
        emit w.songListPanel->List1->itemDoubleClicked(w.songListPanel->List1->item(0));
    };
    QElapsedTimer timer;
    double seconds = 0;
    if (mode == QLatin1String("open")) {
        timer.start();
        open();
        seconds = secondsOf(timer);
    } else {
        open();
        w.MarkIn = args[2].toLongLong();
        w.MarkOut = args[3].toLongLong();
        // "Done" is a job: the clock stops when it has ended.
        timer.start();
        clickToEnd(w, "CmdEditDone");
        seconds = secondsOf(timer);
    }
    if (!w.editorFrame->isVisible() ||
        w.editorFrame->Lbltotal->text() == QLatin1String("00:00:00")) {
        std::fprintf(stderr, "the song did not open in the editor\n");
        return std::nullopt;
    }
    return seconds;
}

// savewav and savemp3: times the list's save to args[1], from the click to the end of its job,
// and sets *pauseMs to the window thread's longest pause meanwhile. For savemp3 (bit rate
// args[2]) also sets *extraDisk to the most the working folder held during the save beyond what
// it held before.
double timeSave(quaverly::Frmmain& w, quaverly::ScriptedDialogs& dialogs, const QTemporaryDir& base,
                const QString& mode, const QStringList& args, long long* extraDisk,
                double* pauseMs) {
    dialogs.queueFile(args[1]);
    const std::filesystem::path work =
        QFile::encodeName(quaverly::bench::workBase(base)).toStdString();
    std::uintmax_t before = 0;
    std::unique_ptr<quaverly::bench::FolderPeak> disk;
    if (mode == QLatin1String("savemp3")) {
        // The bit rate as the user picks it, and the title the save asks for.
        if (QAbstractButton* option =
                w.songListPanel->outputFrame->bitRateGroup->button(args[2].toInt()))
            option->click();
        dialogs.queueInput(QStringLiteral("bench"));
        before = quaverly::bench::FolderPeak::total(work);
        disk = std::make_unique<quaverly::bench::FolderPeak>(work);
    }
    QEventLoop loop;
    QObject::connect(&w.jobs(), &quaverly::Jobs::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    const PauseWatch pauses;
    click(w, mode == QLatin1String("savewav") ? "CmdSaveWav" : "CmdSaveList");
    if (w.jobs().running())
        loop.exec();
    *pauseMs = pauses.longestMs();
    const double seconds = secondsOf(timer);
    if (disk) {
        const std::uintmax_t peak = disk->stop();
        *extraDisk = peak > before ? static_cast<long long>(peak - before) : 0;
    }
    return seconds;
}

// The window thread's own CPU time in nanoseconds.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// pause: "ADD" of `song` with the window's event loop running, as for a user; the longest gap
// between two ticks of a 5 ms timer on the window thread from the click until the song is
// listed, by the wall clock, in milliseconds; beside it the most CPU time the thread used within
// one gap, which tells a busy window thread from one a loaded machine kept waiting. nullopt
// when the song was not listed.
std::optional<std::pair<double, double>>
longestPause(quaverly::Frmmain& w, quaverly::ScriptedDialogs& dialogs, const QString& song) {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 lastCpu = 0;
    qint64 longest = 0;
    qint64 busiest = 0;
    const auto tick = [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        longest = std::max(longest, now - last);
        busiest = std::max(busiest, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    };
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, tick);
    QEventLoop loop;
    QObject::connect(&w.jobs(), &quaverly::Jobs::finished, &loop, &QEventLoop::quit);
    dialogs.queueFile(song);
    clock.start();
    lastCpu = threadCpuNs();
    ticks.start();
    // Clicked from within the loop, so that the click's own work counts.
    QTimer::singleShot(0, &w, [&w] { click(w, "CmdAdd"); });
    loop.exec();
    tick();
    if (w.songListPanel->List1->count() != 1)
        return std::nullopt;
    return std::pair{double(longest) / 1e6, double(busiest) / 1e6};
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir base;
    quaverly::bench::isolate(base);
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: see the comment at the top of window_bench.cpp\n");
        return 2;
    }
    quaverly::ScriptedDialogs dialogs;
    quaverly::Frmmain w(dialogs);
    w.show();
    QCoreApplication::processEvents();

    const QString mode = args[0];
    if (mode == QLatin1String("pause")) {
        const auto pause = longestPause(w, dialogs, args[1]);
        if (!pause) {
            std::fprintf(stderr, "the song was not added: %s\n",
                         qPrintable(dialogs.messageTexts().join(u'\n')));
            return 1;
        }
        std::printf("%.3f %.3f\n", pause->first, pause->second);
        w.close();
        return 0;
    }
    const bool editing = mode == QLatin1String("open") || mode == QLatin1String("cut");
    const QStringList songs = mode == QLatin1String("add") || editing ? args.mid(1, 1)
                              : mode == QLatin1String("savewav")      ? args.mid(2)
                                                                      : args.mid(3);
    QElapsedTimer timer;
    const long idle = peakKib(); // the idle window, before any song is read
    if (mode == QLatin1String("add"))
        timer.start();
    for (const QString& song : songs) {
        dialogs.queueFile(song);
        click(w, "CmdAdd");
        w.jobs().waitForDone(); // adding is a job: the song is listed as it ends
    }
    double seconds = 0;
    long long extraDisk = -1; // savemp3 only
    double pauseMs = -1;      // the saves only
    if (mode == QLatin1String("add")) {
        seconds = secondsOf(timer);
    } else if (editing) {
        const std::optional<double> edited = timeEditor(w, mode, args);
        if (!edited)
            return 1;
        seconds = *edited;
    } else {
        seconds = timeSave(w, dialogs, base, mode, args, &extraDisk, &pauseMs);
    }
    for (const auto& a : dialogs.asked(quaverly::ScriptedDialogs::Kind::Message)) {
        if (!a.text.startsWith(QLatin1String("Finish Save: "))) { // names the file saved
            std::fprintf(stderr, "%s\n", qPrintable(a.text));
            return 1;
        }
    }
    std::printf("%.6f %ld", seconds, peakKib() - idle);
    if (extraDisk >= 0)
        std::printf(" %lld", extraDisk);
    if (pauseMs >= 0)
        std::printf(" %.1f", pauseMs);
    std::printf("\n");
    w.close();
    return 0;
}
