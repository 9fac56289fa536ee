// Disk faults (a full disk, a failing read, a failing sync or rename) injected with libfiu into
// every operation that writes a file: the window's ADD, list saves, conversions, the editor's
// Done and the recorder's saves, and quaverly-cli's convert, join and cut. Each row fails one
// kind of call from its nth on, then checks that the program said which file and why, claimed
// no success, left no partial file, kept the older target and every working copy, and does the
// same work once the disk is well again. A close that fails after the data was synced is the one
// fault that comes too late to matter: that work completes.
#include "app/Frmmain.h"
#include "cli/Cli.h"
#include "editor/WaveformView.h"
#include "engines/audio/VirtualBackend.h"
#include "support/AppFixture.h"
#include "support/DiskFaults.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"
#include "ui/Encodings.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace quaverly;
using namespace quaverly::test;

namespace {

const QString kCbrMp3 = quaverly::test::dataPath("/real/mp3/edge/cbr.mp3");
const QByteArray kOlder = "an older file that must survive\n";

enum class Op {
    AddMp3,
    AddWav,
    SaveWav,
    SaveMp3,
    ConvertWav,
    ConvertMp3,
    Done,
    RecordWav,
    RecordMp3,
    CliEncode,
    CliDecode,
    CliJoin,
    CliCut
};
// Which file a row's calls are counted on: the output's folder, the source file, or the
// program's working folder (working copies and work files).
enum class Watch { Target, Source, WorkFolder };
constexpr int kMiddle = -2; // the middle one of the calls a fault-free run makes
constexpr int kLast = -1;   // the last one (for a WAV or MP3 writer: the header or tag patch)

struct Row {
    Op op;
    Sys sys;
    int error;
    int nth;
    On thread;
    Watch watch;
    // The fault comes too late to matter (a close after the data was synced): the work
    // completes and is reported as done.
    bool completes = false;
};
std::string describe(const Row& r);
// The row as the test list shows it.
void PrintTo(const Row& r, std::ostream* os) {
    *os << describe(r) << " " << std::strerror(r.error);
}

const char* opName(Op op) {
    static const char* const names[] = {
        "AddMp3",    "AddWav",    "SaveWav",   "SaveMp3",   "ConvertWav", "ConvertMp3", "Done",
        "RecordWav", "RecordMp3", "CliEncode", "CliDecode", "CliJoin",    "CliCut"};
    return names[int(op)];
}

// What one operation works on; each run gets its own sources and target.
struct Scene {
    QString source; // the file the operation reads
    QString target; // the file it writes ("" for a new working copy)
    QString work;   // what a message about its work file (or working copy) names
};

// What the program said and whether it reported success.
struct Said {
    QString text;
    bool ok = false;
};

class DiskFaultTest : public AppFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        DiskFaults::mainThread();
        music = path(QStringLiteral("music"));
        out = path(QStringLiteral("out"));
        ASSERT_TRUE(QDir().mkpath(music) && QDir().mkpath(out));
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        // A song listed before: its working copy must come through every fault unchanged.
        ASSERT_TRUE(writeWav16(in(QStringLiteral("keep.wav")), 1, 8000, staircase(24000, 1)));
        dialogs.queueFiles({in(QStringLiteral("keep.wav"))});
        w->songListPanel->CmdAdd->click();
        EXPECT_TRUE(jobsSettled(*w));
        ASSERT_EQ(list().count(), 1);
    }

    QString in(const QString& name) const { return music + QLatin1Char('/') + name; }

    // Opens the song whose working copy is `copy` in the editor, unless it is open there, and
    // waits until its waveform has been read.
    void openInEditor(const QString& copy) {
        auto* view = w->findChild<WaveformView*>();
        if (view && view->peakCache().state(copy) == PeakCache::State::Ready)
            return;
        for (int row = 0; row < list().count(); ++row)
            if (w->songListPanel->workingCopy(row) == copy)
                list().setCurrentRow(row);
        emit list().itemDoubleClicked(list().currentItem());
        EXPECT_TRUE(waveformSettled(copy));
    }
    // True once the editor's waveform of `copy` has been read, or failed to be, within 10 s.
    bool waveformSettled(const QString& copy) const {
        auto* view = w->findChild<WaveformView*>();
        return view && QTest::qWaitFor(
                           [&] {
                               const auto state = view->peakCache().state(copy);
                               return state == PeakCache::State::Ready ||
                                      state == PeakCache::State::Failed;
                           },
                           10000);
    }
    QListWidget& list() const { return *w->songListPanel->List1; }

    // Makes the sources of one run named after `tag` and puts an older file at its target.
    Scene prepare(Op op, const QString& tag) {
        Scene s;
        const QString mp3 = in(tag + QStringLiteral(".mp3"));
        const QString wav = in(tag + QStringLiteral(".wav"));
        const auto target = [&](const char* ext) {
            s.target = out + QLatin1Char('/') + tag + QLatin1String(ext);
            writeFile(s.target, kOlder);
        };
        switch (op) {
        case Op::AddMp3:
        case Op::ConvertWav:
        case Op::CliDecode:
            EXPECT_TRUE(QFile::copy(kCbrMp3, mp3));
            s.source = mp3;
            s.work = QFileInfo(mp3).fileName();
            if (op != Op::AddMp3)
                target(".wav");
            break;
        case Op::AddWav: // 1 MB blocks: three of them
            EXPECT_TRUE(writeWav16(wav, 2, 44100, staircase(700000, 2)));
            s.source = wav;
            s.work = QFileInfo(wav).fileName();
            break;
        case Op::SaveWav:
        case Op::SaveMp3:
            if (list().count() == 1) {
                EXPECT_TRUE(
                    writeWav16(in(QStringLiteral("two.wav")), 1, 8000, staircase(24000, 1, 7)));
                add(in(QStringLiteral("two.wav")));
            }
            s.source = w->songListPanel->workingCopy(1);
            // The MP3 save reads the working copies on the encoder's thread: a failure there
            // names the song with its working copy.
            s.work = QStringLiteral(" (its working copy song-");
            target(op == Op::SaveWav ? ".wav" : ".mp3");
            break;
        case Op::ConvertMp3:
        case Op::CliEncode:
            EXPECT_TRUE(writeWav16(wav, 2, 44100, staircase(132300, 2)));
            s.source = wav;
            target(".mp3");
            break;
        case Op::Done:
            EXPECT_TRUE(writeWav16(wav, 1, 8000, staircase(24000, 1, 3)));
            add(wav);
            s.source = w->songListPanel->workingCopy(list().count() - 1);
            s.target = s.source;
            s.work = tag;
            // Opened before the faults are armed: the waveform's reads of the working copy
            // then never share the count with the cut's.
            openInEditor(s.source);
            break;
        case Op::RecordWav:
        case Op::RecordMp3:
            if (!w->recorder->engine().take().exists())
                record();
            s.work = QStringLiteral("tempwav-");
            target(op == Op::RecordWav ? ".wav" : ".mp3");
            break;
        case Op::CliJoin:
            EXPECT_TRUE(writeWav16(wav, 1, 8000, staircase(40000, 1)));
            s.source = wav;
            target(".wav");
            break;
        case Op::CliCut:
            EXPECT_TRUE(writeWav16(wav, 1, 8000, staircase(24000, 1)));
            s.source = wav;
            target(".wav");
            break;
        }
        return s;
    }

    void add(const QString& file) {
        dialogs.queueFiles({file});
        w->songListPanel->CmdAdd->click();
        EXPECT_TRUE(jobsSettled(*w));
    }

    void record() {
        w->toolbarAction(QStringLiteral("Rec"))->trigger();
        RecorderPanel& r = *w->recorderPanel;
        r.cmbInput->setCurrentIndex(audio::VirtualBackend::kLineIn);
        r.btnRecord->click();
        const RecordTake& take = w->recorder->engine().take();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return take.dataBytes() >= RecordTake::kBytesPerSecond / 2; }, 20000));
        r.btnRecord->click();
    }

    // Answers the next file dialog with `answer` and clicks `button`.
    void choose(QAbstractButton* button, const QString& answer) {
        dialogs.queueFile(answer);
        button->click();
        ASSERT_TRUE(jobsSettled(*w));
    }

    // Runs the operation once and says what came of it.
    Said perform(Op op, const Scene& s) {
        const qsizetype before = dialogs.messageTexts().size();
        const int songs = list().count();
        QSignalSpy encoded(&w->encodings(), &Encodings::finished);
        const auto said = [&] { return dialogs.messageTexts().mid(before).join(u'|'); };
        const auto finished = [&](const char* success) {
            if (w->encodings().pending() > 0) {
                EXPECT_TRUE(encoded.wait(60000));
            }
            // A save names its file ("Finish Save: NAME is saved."), and nothing else is said.
            return Said{said(),
                        said() == QStringLiteral("%1: %2 is saved.")
                                      .arg(QLatin1String(success), QFileInfo(s.target).fileName())};
        };
        ConvertPanel& c = *w->convertPanel;
        RecorderPanel& r = *w->recorderPanel;
        switch (op) {
        case Op::AddMp3:
        case Op::AddWav:
            add(s.source);
            return {said(), list().count() == songs + 1 && said().isEmpty()};
        case Op::SaveWav:
            choose(w->songListPanel->CmdSaveWav, s.target);
            return finished("Finish Save");
        case Op::SaveMp3:
            dialogs.queueInput(QStringLiteral("list")); // the title
            choose(w->songListPanel->CmdSaveList, s.target);
            return finished("Finish Save");
        case Op::ConvertWav:
            choose(c.CmdopenMp3, s.source);
            choose(c.CmdSavewav2, s.target);
            c.CmdconvertWav->click();
            EXPECT_TRUE(jobsSettled(*w));
            return finished("Convert Finish");
        case Op::ConvertMp3:
            choose(c.Cmdopenwav, s.source);
            choose(c.CmdSaveMP3, s.target);
            c.CmdConvertMP3->click();
            EXPECT_TRUE(jobsSettled(*w));
            return finished("Finish Save");
        case Op::Done: {
            // The song in the editor, marked from 0.5 s to 1.5 s, and cut.
            openInEditor(s.source);
            w->MarkIn = 500;
            w->MarkOut = 1500;
            w->editorFrame->CmdEditDone->click();
            EXPECT_TRUE(jobsSettled(*w));
            // Cut, the clip opens in the editor marked whole: 1 s. Its waveform is read anew;
            // waiting for it keeps the count of reads the same from run to run.
            const bool cut = said().isEmpty() && w->MarkIn == 0 && w->MarkOut == 1000;
            if (cut) {
                EXPECT_TRUE(waveformSettled(s.source));
            }
            return {said(), cut};
        }
        case Op::RecordWav: {
            r.btnSave->click();
            choose(r.CmdWav, s.target);
            const RecordTake& take = w->recorder->engine().take();
            const QByteArray bytes(reinterpret_cast<const char*>(take.data()),
                                   qsizetype(take.length()));
            return {said(), said() == savedText(s.target) && readFile(s.target) == bytes};
        }
        case Op::RecordMp3:
            r.btnSave->click();
            choose(r.CmdMp3, s.target);
            return finished("Finish Save");
        default:
            return cli(op, s);
        }
    }

    // quaverly-cli's command, run in this process as its main() runs it.
    static Said cli(Op op, const Scene& s) {
        QStringList args;
        if (op == Op::CliEncode || op == Op::CliDecode)
            args = {QStringLiteral("convert"), s.source, s.target};
        else if (op == Op::CliJoin)
            args = {QStringLiteral("join"), s.target, s.source, s.source};
        else
            args = {QStringLiteral("cut"), s.source, s.target, QStringLiteral("--from=500"),
                    QStringLiteral("--to=1500")};
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int code = cli::run(args, out, err);
        QFile said;
        std::rewind(err);
        said.open(err, QIODevice::ReadOnly);
        const Said r{QString::fromLocal8Bit(said.readAll()).trimmed(), code == cli::kOk};
        said.close();
        std::fclose(out);
        std::fclose(err);
        return r;
    }

    QString watched(Watch watch, const Scene& s) const {
        switch (watch) {
        case Watch::Target:
            return QFileInfo(out).canonicalFilePath() + QLatin1Char('/');
        case Watch::Source:
            return QFileInfo(s.source).canonicalFilePath();
        case Watch::WorkFolder:
            break;
        }
        return QFileInfo(w->workPath()).canonicalFilePath() + QLatin1Char('/');
    }

    // Every file of the source, output and working folders with its bytes (working copies
    // included).
    std::map<QString, QByteArray> files() const {
        std::map<QString, QByteArray> all;
        for (const QString& folder : {music, out, w->workPath()})
            for (const QString& name : filesIn(folder))
                all[QDir(folder).filePath(name)] = readFile(QDir(folder).filePath(name));
        return all;
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    QString music, out;
};

// Totals over the rows run in this process, printed at its end.
struct Tally {
    int injected = 0, survived = 0, lost = 0;
    ~Tally() {
        if (injected > 0)
            std::printf("Disk faults: %d injected, %d survived, %d files lost\n", injected,
                        survived, lost);
    }
} tally;

TEST_P(DiskFaultTest, IsReportedAndLosesNothing) {
    const Row& row = GetParam();
    // A fault-free run counts the calls, for the rows that fail the middle or the last one.
    int nth = row.nth;
    if (nth < 0) {
        const Scene dry = prepare(row.op, QStringLiteral("dry"));
        ASSERT_TRUE(DiskFaults::arm(row.sys, row.thread, watched(row.watch, dry), 0, 0));
        const Said clean = perform(row.op, dry);
        const int calls = DiskFaults::disarm();
        ASSERT_TRUE(clean.ok) << qPrintable(clean.text);
        ASSERT_GT(calls, 0);
        nth = nth == kLast ? calls : (calls + 1) / 2;
    }

    const Scene scene = prepare(row.op, QStringLiteral("take 1"));
    const auto before = files();
    const int songs = list().count();
    ASSERT_TRUE(DiskFaults::arm(row.sys, row.thread, watched(row.watch, scene), nth, row.error));
    const Said faulty = perform(row.op, scene);
    DiskFaults::disarm();
    ASSERT_TRUE(DiskFaults::fired()) << "no call failed: is fiu_posix_preload.so preloaded?";
    ++tally.injected;
    if (row.completes) {
        // The file is whole and in place, byte for byte what a fault-free run writes.
        const QByteArray written = readFile(scene.target);
        const Said again = perform(row.op, scene);
        EXPECT_TRUE(faulty.ok && again.ok) << faulty.text.toStdString();
        EXPECT_EQ(written, readFile(scene.target));
        EXPECT_NE(written, kOlder);
        EXPECT_EQ(files().size(), before.size());
        if (!HasFailure())
            ++tally.survived;
        return;
    }

    // Which file and why, and no success.
    const QString named = row.watch == Watch::Target   ? QFileInfo(scene.target).fileName()
                          : row.watch == Watch::Source ? QFileInfo(scene.source).fileName()
                                                       : scene.work;
    const std::string text = faulty.text.toStdString();
    EXPECT_FALSE(faulty.ok) << text;
    EXPECT_TRUE(faulty.text.contains(named)) << named.toStdString() << " in: " << text;
    EXPECT_TRUE(faulty.text.contains(QString::fromLocal8Bit(std::strerror(row.error)))) << text;
    EXPECT_FALSE(faulty.text.contains(QStringLiteral("Finish"))) << text;
    // Nothing lost, nothing half-written: every file as it was, a new one only for a song the
    // list took (a conversion lists its source before it writes the WAV file).
    int lost = 0;
    const auto after = files();
    for (const auto& [file, bytes] : before) {
        const auto it = after.find(file);
        lost += it == after.end() || it->second != bytes;
        EXPECT_TRUE(it != after.end() && it->second == bytes) << file.toStdString();
    }
    QStringList copies;
    for (int i = 0; i < list().count(); ++i)
        copies << w->songListPanel->workingCopy(i);
    for (const auto& [file, bytes] : after)
        EXPECT_TRUE(before.count(file) || copies.contains(file)) << file.toStdString();
    EXPECT_LE(list().count(), songs + (row.op == Op::ConvertWav ? 1 : 0));
    tally.lost += lost;
    // The window is free again.
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(busyShown());
    EXPECT_EQ(w->encodings().pending(), 0);

    // Once the disk is well, the same work succeeds.
    const Said again = perform(row.op, scene);
    EXPECT_TRUE(again.ok) << again.text.toStdString();
    if (!scene.target.isEmpty()) {
        EXPECT_NE(readFile(scene.target),
                  before.count(scene.target) ? before.at(scene.target) : kOlder);
    }
    if (lost == 0 && again.ok && !HasFailure())
        ++tally.survived;
}

constexpr int kNoSpace = ENOSPC;
constexpr int kIo = EIO;
using enum Op;
using enum Sys;
using enum On;
using enum Watch;

const Row kRows[] = {
    // ADD: the working copy of an MP3 (decoded) and of a plain WAV (copied), made by a job.
    {AddMp3, Write, kNoSpace, 1, Worker, WorkFolder},
    {AddMp3, Write, kNoSpace, kMiddle, Worker, WorkFolder},
    {AddMp3, Write, kNoSpace, kLast, Worker, WorkFolder},
    {AddMp3, Fdatasync, kIo, 1, Worker, WorkFolder},
    {AddMp3, Fread, kIo, 1, Worker, Source},
    {AddMp3, Fread, kIo, kMiddle, Worker, Source},
    {AddWav, Write, kNoSpace, 1, Worker, WorkFolder},
    {AddWav, Write, kNoSpace, kLast, Worker, WorkFolder},
    {AddWav, Fdatasync, kNoSpace, 1, Worker, WorkFolder},
    {AddWav, Read, kIo, 1, Worker, Source},
    {AddWav, Read, kIo, kMiddle, Worker, Source},
    // The list joined into a WAV file, and into an MP3 file straight from the working copies.
    {SaveWav, Write, kNoSpace, 1, Worker, Target},
    {SaveWav, Write, kNoSpace, kMiddle, Worker, Target},
    {SaveWav, Write, kNoSpace, kLast, Worker, Target},
    {SaveWav, Fdatasync, kIo, 1, Worker, Target},
    {SaveWav, Rename, kIo, 1, Worker, Target},
    {SaveWav, Read, kIo, kMiddle, Worker, Source},
    {SaveWav, Close, kIo, kLast, Worker, Target, true},
    {SaveMp3, Read, kIo, 1, Worker, WorkFolder},
    {SaveMp3, Write, kNoSpace, 1, Worker, Target},
    {SaveMp3, Write, kNoSpace, kLast, Worker, Target},
    {SaveMp3, Fdatasync, kIo, 1, Worker, Target},
    {SaveMp3, Rename, kIo, 1, Worker, Target},
    {SaveMp3, Read, kIo, kMiddle, Worker, WorkFolder},
    // The converter, both ways ("Convert to Wav" as a job).
    {ConvertWav, Write, kNoSpace, 1, Worker, Target},
    {ConvertWav, Fdatasync, kIo, 1, Worker, Target},
    {ConvertWav, Rename, kIo, 1, Worker, Target},
    {ConvertWav, Fread, kIo, kMiddle, Worker, Source},
    {ConvertMp3, Write, kNoSpace, 1, Worker, Target},
    {ConvertMp3, Write, kNoSpace, kMiddle, Worker, Target},
    {ConvertMp3, Write, kNoSpace, kLast, Worker, Target},
    {ConvertMp3, Fdatasync, kIo, 1, Worker, Target},
    {ConvertMp3, Rename, kIo, 1, Worker, Target},
    {ConvertMp3, Read, kIo, 1, Worker, Source},
    {ConvertMp3, Close, kIo, kLast, Worker, Target, true},
    // The editor's Done cuts the working copy in place, on its job's worker.
    {Done, Write, kNoSpace, 1, Worker, WorkFolder},
    {Done, Write, kNoSpace, kLast, Worker, WorkFolder},
    {Done, Fdatasync, kIo, 1, Worker, WorkFolder},
    {Done, Rename, kIo, 1, Worker, WorkFolder},
    {Done, Read, kIo, kMiddle, Worker, Source},
    // The recorder's take as WAV, and as MP3 through a WAV work file.
    {RecordWav, Write, kNoSpace, 1, Worker, Target},
    {RecordWav, Fdatasync, kIo, 1, Worker, Target},
    {RecordWav, Rename, kIo, 1, Worker, Target},
    {RecordMp3, Write, kNoSpace, 1, Worker, WorkFolder},
    {RecordMp3, Write, kNoSpace, kMiddle, Worker, Target},
    {RecordMp3, Rename, kIo, 1, Worker, Target},
    {RecordMp3, Read, kIo, kMiddle, Worker, WorkFolder},
    // quaverly-cli: its decodes, joins, encodings and cuts that keep the song's samples (a WAV
    // of a WAV) run on a worker of their own; the command's thread opens the song a decode reads
    // and probes the song a cut keeps.
    {CliEncode, Write, kNoSpace, 1, Worker, Target},
    {CliEncode, Rename, kIo, 1, Worker, Target},
    {CliEncode, Read, kIo, kMiddle, Worker, Source},
    {CliDecode, Write, kNoSpace, kLast, Worker, Target},
    {CliDecode, Fdatasync, kIo, 1, Worker, Target},
    {CliDecode, Fread, kIo, kMiddle, Main, Source},
    {CliJoin, Write, kNoSpace, kMiddle, Worker, Target},
    {CliJoin, Rename, kIo, 1, Worker, Target},
    {CliJoin, Read, kIo, 1, Worker, Source},
    {CliCut, Write, kNoSpace, 1, Worker, Target},
    {CliCut, Rename, kIo, 1, Worker, Target},
    {CliCut, Read, kIo, kMiddle, Main, Source},
};

std::string describe(const Row& r) {
    static const char* const sys[] = {"Write", "Read", "Fread", "Fdatasync", "Rename", "Close"};
    const std::string nth = r.nth == kLast     ? "Last"
                            : r.nth == kMiddle ? "Middle"
                                               : "Call" + std::to_string(r.nth);
    return std::string(opName(r.op)) + "_" + sys[int(r.sys)] + nth +
           (r.thread == On::Worker ? "Encoder" : "");
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return describe(info.param) + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Rows, DiskFaultTest, ::testing::ValuesIn(kRows), rowName);

} // namespace
