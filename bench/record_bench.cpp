// Times the voice recorder on the virtual sound device at its fast clock (QUAVERLY_VIRTUAL_SPEED,
// 1000 unless set), with a take of ten minutes:
//   quaverly_record_bench pump         records the take through TakeRecorder as the window's
//                                      timer does, pumping every RecorderHandlers::kPumpMs, and
//                                      prints the longest pump() in milliseconds
//   quaverly_record_bench savewav OUT  records the take through the window ("Rec", Record, Stop),
//                                      then times "Save" / "Wav" into OUT and prints the seconds
// Both fail (exit 1) when sound was lost or the take fell short of ten minutes. The pump mode
// also prints on stderr the number of pumps, their median, what the longest one spent on the CPU
// and off it, and how fast the device really ran against real time.
#include "BenchSupport.h"
#include "app/Frmmain.h"
#include "engines/audio/CaptureDevice.h"
#include "recorder/RecorderHandlers.h"
#include "recorder/TakeRecorder.h"
#include "support/ScriptedDialogs.h"
#include "ui/Encodings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

using quaverly::bench::click;
using quaverly::bench::clickToEnd;

using namespace quaverly;

constexpr std::uint64_t kTakeBytes = std::uint64_t(RecordTake::kBytesPerSecond) * 600;

// True when the finished take lost nothing and holds ten minutes; otherwise says what is wrong.
bool takeIsWhole(const TakeRecorder& engine) {
    if (engine.lostBytes() != 0) {
        std::fprintf(stderr, "%llu bytes of sound were lost\n",
                     static_cast<unsigned long long>(engine.lostBytes()));
        return false;
    }
    if (engine.take().dataBytes() < kTakeBytes) {
        std::fprintf(stderr, "the take holds only %.1f s\n",
                     double(engine.take().dataBytes()) / RecordTake::kBytesPerSecond);
        return false;
    }
    return true;
}

// The calling thread's clocks: now() reads them, and the difference of two readings is what one
// pump() cost: wall and CPU time, and how often the thread was switched out to wait (a lock, a
// page) or because the scheduler gave its core to another thread. On a loaded machine the
// preemptions tell a busy core from a pump that waited.
struct Pump {
    double ms = 0;
    double cpuMs = 0;
    long waits = 0;
    long preemptions = 0;

    static Pump now() {
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return {std::chrono::duration<double, std::milli>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count(),
                cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6, usage.ru_nvcsw, usage.ru_nivcsw};
    }
    Pump operator-(const Pump& b) const {
        return {ms - b.ms, cpuMs - b.cpuMs, waits - b.waits, preemptions - b.preemptions};
    }
};

int pumpMode() {
    using Clock = std::chrono::steady_clock;
    auto device = audio::CaptureDevice::open();
    if (!device) {
        std::fprintf(stderr, "no sound device: %s\n", qPrintable(device.error().cause()));
        return 1;
    }
    int status = 0;
    {
        TakeRecorder engine;
        if (const Status started = engine.BeginRecording(*device); !started) {
            std::fprintf(stderr, "cannot record: %s\n", qPrintable(started.error().cause()));
            return 1;
        }
        std::vector<double> ms; // each pump's wall time
        Pump longest;
        const auto start = Clock::now();
        TakeRecorder::Stop why = TakeRecorder::Stop::None;
        while (why == TakeRecorder::Stop::None && engine.take().dataBytes() < kTakeBytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(RecorderHandlers::kPumpMs));
            const Pump before = Pump::now();
            why = engine.pump();
            const Pump took = Pump::now() - before;
            ms.push_back(took.ms);
            if (took.ms > longest.ms)
                longest = took;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        engine.EndRecording();
        if (why != TakeRecorder::Stop::None) {
            std::fprintf(stderr, "the recording stopped early: %s\n",
                         why == TakeRecorder::Stop::DeviceFailed
                             ? qPrintable(engine.failure().error().cause())
                             : "the take could not grow");
            status = 1;
        } else if (!takeIsWhole(engine)) {
            status = 1;
        }
        std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
        std::fprintf(stderr,
                     "recorder: %zu pumps, median %.3f ms, longest %.3f ms (%.3f ms on the CPU, "
                     "%ld waits, %ld preemptions), lost %llu bytes, sound at %.0fx real time\n",
                     ms.size(), ms[ms.size() / 2], longest.ms, longest.cpuMs, longest.waits,
                     longest.preemptions, static_cast<unsigned long long>(engine.lostBytes()),
                     double(engine.take().dataBytes()) / RecordTake::kBytesPerSecond / seconds);
        std::printf("%.3f\n", longest.ms);
    }
    return status;
}

int saveWavMode(const QString& out) {
    ScriptedDialogs dialogs;
    Frmmain w(dialogs);
    w.show();
    QCoreApplication::processEvents();
    w.toolbarAction(QStringLiteral("Rec"))->trigger();
    if (!w.recorderPanel->btnRecord->isEnabled()) {
        std::fprintf(stderr, "the recorder has no input: %s\n",
                     qPrintable(dialogs.messageTexts().join(QLatin1Char('\n'))));
        return 1;
    }
    const TakeRecorder& engine = w.recorder->engine();
    click(w, "btnRecord");
    // The window's own timer moves the sound into the take; this one only watches its length.
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(RecorderHandlers::kPumpMs);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!engine.recording() || engine.take().dataBytes() >= kTakeBytes)
            loop.quit();
    });
    watch.start();
    loop.exec();
    if (engine.recording())
        click(w, "btnRecord"); // Stop
    if (!takeIsWhole(engine))
        return 1;

    click(w, "btnSave");
    dialogs.queueFile(out);
    QElapsedTimer timer;
    timer.start();
    clickToEnd(w, "CmdWav"); // the save is a job: timed to its end
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (dialogs.messageTexts() != QStringList{savedText(out)}) {
        std::fprintf(stderr, "%s\n", qPrintable(dialogs.messageTexts().join(QLatin1Char('\n'))));
        return 1;
    }
    if (QFileInfo(out).size() != qint64(engine.take().length())) {
        std::fprintf(stderr, "the saved file does not hold the take\n");
        return 1;
    }
    std::printf("%.6f\n", seconds);
    w.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QUAVERLY_VIRTUAL_SPEED"))
        qputenv("QUAVERLY_VIRTUAL_SPEED", "1000");
    QTemporaryDir base;
    quaverly::bench::isolate(base);
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("pump") && args.size() == 1)
        return pumpMode();
    if (args.value(0) == QLatin1String("savewav") && args.size() == 2)
        return saveWavMode(args[1]);
    std::fprintf(stderr, "usage: see the comment at the top of record_bench.cpp\n");
    return 2;
}
