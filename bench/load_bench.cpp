// The window under load, with scripted dialogs and no display:
//   quaverly_load_bench list N FILE     adds FILE N times in one "ADD", then clicks every song,
//                                       moves the first song to the bottom one step at a time
//                                       and removes every song; prints the add's seconds and the
//                                       longest click, move and remove in milliseconds
//   quaverly_load_bench add FILE        "ADD" of one (long) song; prints its seconds, the longest
//                                       time the window's event loop did not run (ms) and how far
//                                       the memory peak rose above the idle window (KiB)
//   quaverly_load_bench sparse DIR N MB  makes N sparse 16-bit stereo 44.1 kHz WAVs of MB
//                                       megabytes each in DIR (0.wav, 1.wav, ...): silence that
//                                       takes no disk space, for joins of gigabytes
#include "BenchSupport.h"
#include "app/Frmmain.h"
#include "engines/wav/WavHeader.h"
#include "support/ScriptedDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace {

using quaverly::bench::click;
using quaverly::bench::peakKib;

// Milliseconds of the longest of `n` runs of `step(i)`.
double longestMs(int n, const std::function<void(int)>& step) {
    double longest = 0;
    QElapsedTimer t;
    for (int i = 0; i < n; ++i) {
        t.start();
        step(i);
        longest = std::max(longest, double(t.nsecsElapsed()) / 1e6);
    }
    return longest;
}

int list(quaverly::Frmmain& w, quaverly::ScriptedDialogs& dialogs, int n, const QString& file) {
    QListWidget& songs = *w.songListPanel->List1;
    dialogs.queueFiles(QStringList(n, file));
    QElapsedTimer t;
    t.start();
    click(w, "CmdAdd");
    const double addSeconds = double(t.nsecsElapsed()) / 1e9;
    if (songs.count() != n) {
        std::fprintf(stderr, "%d of %d songs were added\n", songs.count(), n);
        return 1;
    }
    const double clickMs = longestMs(n, [&](int i) {
        songs.setCurrentRow(i);
        emit songs.itemClicked(songs.item(i));
    });
    songs.setCurrentRow(0);
    const double moveMs = longestMs(n - 1, [&](int) { click(w, "CmdDown"); });
    const double removeMs = longestMs(n, [&](int) {
        songs.setCurrentRow(0);
        dialogs.queueQuestion(true);
        click(w, "Cmdremove");
    });
    if (songs.count() != 0) {
        std::fprintf(stderr, "%d songs were not removed\n", songs.count());
        return 1;
    }
    std::printf("%.6f %.3f %.3f %.3f\n", addSeconds, clickMs, moveMs, removeMs);
    return 0;
}

int add(quaverly::Frmmain& w, quaverly::ScriptedDialogs& dialogs, const QString& file) {
    const long idle = peakKib();
    QElapsedTimer sinceTick, t;
    double stallMs = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        stallMs = std::max(stallMs, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.start();
    });
    ticker.start(5);
    dialogs.queueFile(file);
    sinceTick.start();
    t.start();
    click(w, "CmdAdd");
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    stallMs = std::max(stallMs, double(sinceTick.nsecsElapsed()) / 1e6);
    if (w.songListPanel->List1->count() != 1) {
        std::fprintf(stderr, "the song was not added\n");
        return 1;
    }
    std::printf("%.6f %.3f %ld\n", seconds, stallMs, peakKib() - idle);
    return 0;
}

// Sparse songs: a header, then a hole the file system reads as silence without storing it.
int sparse(const QString& folder, int n, qint64 mb) {
    const std::uint32_t bytes = std::uint32_t(mb * 1000000 / 4 * 4);
    const auto header = quaverly::WavHeader::pcm(2, 44100, 16, bytes).toBytes();
    for (int i = 0; i < n; ++i) {
        QFile f(QStringLiteral("%1/%2.wav").arg(folder).arg(i));
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(header.data()), qint64(header.size())) !=
                qint64(header.size()) ||
            !f.resize(qint64(header.size()) + bytes)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && argv[1] == std::string_view("sparse"))
        return sparse(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoll(argv[4]));
    QTemporaryDir base;
    quaverly::bench::isolate(base);
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    quaverly::ScriptedDialogs dialogs;
    quaverly::Frmmain w(dialogs);
    w.show();
    QCoreApplication::processEvents();
    int rc = 2;
    if (args.size() == 3 && args[0] == QLatin1String("list"))
        rc = list(w, dialogs, args[1].toInt(), args[2]);
    else if (args.size() == 2 && args[0] == QLatin1String("add"))
        rc = add(w, dialogs, args[1]);
    else
        std::fprintf(stderr, "usage: see the comment at the top of load_bench.cpp\n");
    w.close();
    return rc;
}
