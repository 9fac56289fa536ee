#include "engines/mci/WaveCommands.h"

#include "engines/mci/MciErrors.h"
#include "mci/RampWav.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

using quaverly::WaveCommands;
namespace mcierr = quaverly::mcierr;

namespace {

struct Span {
    std::uint64_t first, end; // source frames [first, end)
};

// One cut: a source of `count` ramp frames, the deletes (milliseconds) in the order sent, and
// the stretches of the source that must be left, worked out by hand.
struct CutCase {
    const char* name;
    ramp::Format format;
    std::uint64_t count;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> deletes;
    std::vector<Span> kept;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class Cuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(Cuts, LeaveExactlyTheKeptFrames) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString src = dir.filePath("temp.wav"), out = dir.filePath("temp2.wav");
    const QByteArray source = ramp::wav(c.format, c.count);
    ASSERT_TRUE(ramp::write(src, source));

    WaveCommands wave;
    QStringList sent;
    auto send = [&](const QString& text) {
        sent << text;
        return wave.send(text);
    };
    ASSERT_EQ(send("open " + src + " type waveaudio alias voice1"), 0)
        << wave.lastError().toStdString();
    for (const auto& [a, b] : c.deletes)
        ASSERT_EQ(send(QStringLiteral("delete voice1 from %1 to %2").arg(a).arg(b)), 0)
            << a << ".." << b << ": " << wave.lastError().toStdString();
    ASSERT_EQ(send("save  voice1 " + out), 0) << wave.lastError().toStdString();
    ASSERT_EQ(send("close voice1"), 0);
    EXPECT_EQ(wave.log(), sent);
    EXPECT_TRUE(wave.openAliases().isEmpty());

    QByteArray want;
    for (const auto& s : c.kept)
        want += ramp::frames(c.format, s.first, s.end - s.first);
    const QByteArray got = ramp::read(out);
    ASSERT_GE(got.size(), 44);
    EXPECT_EQ(got.left(44), ramp::header(c.format, static_cast<std::uint32_t>(want.size())));
    EXPECT_EQ(got.size() - 44, want.size())
        << "frames: " << (got.size() - 44) / c.format.frameBytes() << " instead of "
        << want.size() / c.format.frameBytes();
    EXPECT_TRUE(got.mid(44) == want)
        << ramp::firstDifference(got.mid(44), want, c.format.frameBytes());
    const auto probed = quaverly::probeWav(out);
    ASSERT_TRUE(probed);
    EXPECT_TRUE(probed->canonical);
    EXPECT_TRUE(ramp::read(src) == source) << "the source was changed";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2) << "a temporary file was left";
}

const ramp::Format kStereo16_44k{44100, 2, 16};
const ramp::Format kMono16_44k{44100, 1, 16};
const ramp::Format kMono8_44k{44100, 1, 8};
const ramp::Format kStereo16_22k{22050, 2, 16};
const ramp::Format kMono16_22k{22050, 1, 16};
const ramp::Format kStereo8_22k{22050, 2, 8};
const ramp::Format kMono8_8k{8000, 1, 8};
const ramp::Format kStereo8_8k{8000, 2, 8};
const ramp::Format kMono16_8k{8000, 1, 16};

INSTANTIATE_TEST_SUITE_P(
    WaveCommands, Cuts,
    ::testing::Values(
        // A 10 s song marked at 2 s and 5 s: the tail delete is relative to the shortened sound.
        CutCase{
            "WorkedExample", kStereo16_44k, 441000, {{0, 2000}, {3000, 8000}}, {{88200, 220500}}},
        CutCase{"WorkedExample22k",
                kStereo16_22k,
                220500,
                {{0, 2000}, {3000, 8000}},
                {{44100, 110250}}},
        CutCase{
            "WorkedExample8kMono8", kMono8_8k, 80000, {{0, 2000}, {3000, 8000}}, {{16000, 40000}}},
        // No marks: from 0 to 0 and from L to L remove nothing.
        CutCase{"NoMarks", kMono8_8k, 24000, {{0, 0}, {3000, 3000}}, {{0, 24000}}},
        // 1020 frames at 44.1 kHz are 23.13 ms, reported as 23: "23 to 23" is the very end.
        CutCase{"NoMarksPartialMillisecond", kStereo16_44k, 1020, {{0, 0}, {23, 23}}, {{0, 1020}}},
        CutCase{"ToLengthIsTheEnd", kStereo16_44k, 1020, {{10, 23}}, {{0, 441}}},
        // 22.05 frames per ms: 10 ms is 220.5 frames (a half rounds up), 30 ms 661.5.
        CutCase{"HalfFrameRoundsUp22k", kMono16_22k, 22050, {{10, 30}}, {{0, 221}, {662, 22050}}},
        // 44.1 frames per ms: 1 ms is frame 44, 5 ms is 220.5, so 221.
        CutCase{"NearestFrame44k", kMono8_44k, 44100, {{1, 5}}, {{0, 44}, {221, 44100}}},
        CutCase{
            "NearestFrame44k16", kMono16_44k, 44100, {{3, 7}, {0, 1}}, {{44, 132}, {309, 44100}}},
        // After a delete all later positions move down.
        CutCase{"LaterPositionsMoveDown",
                kStereo8_8k,
                8000,
                {{100, 200}, {50, 500}},
                {{0, 400}, {4800, 8000}}},
        CutCase{"SeveralDeletes",
                kMono16_8k,
                16000,
                {{0, 500}, {1000, 1500}, {250, 250}, {100, 200}},
                {{4000, 4800}, {5600, 12000}}},
        // 22051 frames at 22.05 kHz are 1000.05 ms, reported as 1000: "0 to 1000" takes all.
        CutCase{"EverythingDeleted", kStereo8_22k, 22051, {{0, 1000}}, {}},
        CutCase{"NothingDeleted", kMono8_8k, 800, {}, {{0, 800}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WaveCommands, QuotedPathsWithBlanksAndAnyCaseAndSpacing) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("my songs"));
    const QString src = dir.filePath("my songs/a song.wav");
    const QString out = dir.filePath("my songs/the clip.wav");
    const ramp::Format f = kStereo16_22k;
    ASSERT_TRUE(ramp::write(src, ramp::wav(f, 22050)));

    WaveCommands wave;
    EXPECT_EQ(wave.send("OPEN \"" + src + "\"\tTYPE WaveAudio   ALIAS Voice1 wait"), 0)
        << wave.lastError().toStdString();
    EXPECT_EQ(wave.send("  Delete VOICE1 From 0 To 500  "), 0);
    EXPECT_EQ(wave.send("delete voice1 from 250"), 0); // to the end
    EXPECT_EQ(wave.send("SAVE  voice1  \"" + out + "\""), 0) << wave.lastError().toStdString();
    EXPECT_EQ(wave.send("Close VOICE1"), 0);
    EXPECT_TRUE(ramp::read(out).mid(44) == ramp::frames(f, 11025, 5513));
}

TEST(WaveCommands, FindsTheSamplesBetweenOtherChunks) {
    QTemporaryDir dir;
    const QString src = dir.filePath("chunky.wav"), out = dir.filePath("out.wav");
    const ramp::Format f = kStereo16_44k;
    const QByteArray samples = ramp::frames(f, 0, 4410);
    // A LIST chunk of odd size (with its pad byte) before the samples, two chunks after them.
    const QByteArray file =
        ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(1, f.channels, f.rate, f.bits)) +
                   ramp::chunk("LIST", QByteArray("INFOISFT\x05\0\0\0abcde", 17)) +
                   ramp::chunk("data", samples) + ramp::chunk("id3 ", QByteArray(101, '\x7f')) +
                   ramp::chunk("junk", QByteArray(8, '\xee')));
    ASSERT_TRUE(ramp::write(src, file));

    WaveCommands wave;
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias voice1"), 0)
        << wave.lastError().toStdString();
    ASSERT_EQ(wave.send("save voice1 " + out), 0);
    EXPECT_TRUE(ramp::read(out) == ramp::header(f, samples.size()) + samples)
        << "whole file: trailing chunks must not become sound";
    ASSERT_EQ(wave.send("delete voice1 from 0 to 20"), 0);
    ASSERT_EQ(wave.send("delete voice1 from 50 to 80"), 0); // 80 ms is the new length
    ASSERT_EQ(wave.send("save voice1 " + out), 0);
    EXPECT_TRUE(ramp::read(out).mid(44) == ramp::frames(f, 882, 2205));
    EXPECT_TRUE(ramp::read(src) == file);
}

TEST(WaveCommands, SavesReplaceTheTargetAndEditingGoesOn) {
    QTemporaryDir dir;
    const QString src = dir.filePath("s.wav"), a = dir.filePath("a.wav"), b = dir.filePath("b.wav");
    const ramp::Format f = kMono8_8k;
    ASSERT_TRUE(ramp::write(src, ramp::wav(f, 8000)));
    ASSERT_TRUE(ramp::write(a, QByteArray(100000, 'x'))); // longer than the clip

    WaveCommands wave;
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias one"), 0);
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias two"), 0);
    ASSERT_EQ(wave.send("delete one from 0 to 500"), 0);
    ASSERT_EQ(wave.send("save one " + a), 0);
    ASSERT_EQ(wave.send("delete one from 250 to 500"), 0);
    ASSERT_EQ(wave.send("save one " + b), 0);
    EXPECT_TRUE(ramp::read(a) == ramp::header(f, 4000) + ramp::frames(f, 4000, 4000));
    EXPECT_TRUE(ramp::read(b) == ramp::header(f, 2000) + ramp::frames(f, 4000, 2000));
    // The second alias of the same file is untouched by the first one's edits.
    ASSERT_EQ(wave.send("save two " + b), 0);
    EXPECT_TRUE(ramp::read(b) == ramp::wav(f, 8000));
    ASSERT_EQ(wave.send("close all"), 0);
    EXPECT_TRUE(wave.openAliases().isEmpty());
    EXPECT_EQ(wave.send("open " + src + " type waveaudio alias one"), 0) << "alias free again";
}

// Files of `folder` that this process still holds open although they have been replaced or
// removed (Linux: /proc/self/fd); a rename over such a file fails on Windows.
QStringList replacedButOpen(const QString& folder) {
    QStringList out;
#ifdef Q_OS_LINUX
    const QString prefix = QFileInfo(folder).canonicalFilePath() + "/";
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(prefix) && target.endsWith(" (deleted)"))
            out << target;
    }
#else
    Q_UNUSED(folder);
#endif
    return out;
}

// The editor cuts a working copy in place: "save" onto the file the device has open lets go of
// it before the rename and goes on with the saved file; a failed save keeps the old one.
TEST(WaveCommands, SavesOverItsOwnFileAndGoesOnFromTheSavedOne) {
    QTemporaryDir dir;
    const QString src = dir.filePath("song.wav"), check = dir.filePath("check.wav");
    const ramp::Format f = kMono16_8k;
    ASSERT_TRUE(ramp::write(src, ramp::wav(f, 8000)));

    WaveCommands wave;
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias one"), 0);
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias two"), 0);
    ASSERT_EQ(wave.send("delete one from 0 to 250"), 0);
    // "two" would lose its sound under it.
    EXPECT_EQ(wave.send("save one " + src), mcierr::kFileNotSaved);
    EXPECT_TRUE(ramp::read(src) == ramp::wav(f, 8000));
    ASSERT_EQ(wave.send("close two"), 0);

    ASSERT_EQ(wave.send("save one " + src), 0) << wave.lastError().toStdString();
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 12000) + ramp::frames(f, 2000, 6000));
    EXPECT_EQ(replacedButOpen(dir.path()), QStringList{});
    // Positions are the saved sound's: 250 ms more off the front.
    ASSERT_EQ(wave.send("delete one from 0 to 250"), 0);
    ASSERT_EQ(wave.send("save one " + src), 0) << wave.lastError().toStdString();
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 8000) + ramp::frames(f, 4000, 4000));

    if (!quaverly::test::kCanLimitFileSize)
        return;
    // A disk that takes 1000 bytes: the save of 8044 fails, the device reads the old file again.
    const auto codes = quaverly::test::withFileSizeLimit(1000, [&] {
        const int failed = wave.send("save one " + src);
        const int deleted = wave.send("delete one from 0 to 490"); // 80 frames are left
        return QStringLiteral("%1 %2 %3")
            .arg(failed)
            .arg(deleted)
            .arg(wave.send("save one " + check));
    });
    ASSERT_TRUE(codes);
    EXPECT_EQ(*codes, QStringLiteral("%1 0 0").arg(mcierr::kFileNotSaved));
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 8000) + ramp::frames(f, 4000, 4000));
    EXPECT_TRUE(ramp::read(check) == ramp::header(f, 160) + ramp::frames(f, 7920, 80));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"check.wav", "song.wav"}));
}

// Files an error case can name: %SRC% (1000 ms of 8 kHz 16-bit stereo, open as voice1), %OUT%
// (an older file at a save path), %OTHER% (another WAV), %TEXT%, %FLOAT%, %PCM24%, %DIR%.
struct ErrorCase {
    const char* name;
    const char* command;
    int code;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, ReturnTheCodeAndChangeNothing) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    const ramp::Format f{8000, 2, 16};
    const QString src = dir.filePath("src.wav"), out = dir.filePath("out.wav");
    const QByteArray source = ramp::wav(f, 8000), previous("an older file", 13);
    ASSERT_TRUE(ramp::write(src, source));
    ASSERT_TRUE(ramp::write(out, previous));
    ASSERT_TRUE(ramp::write(dir.filePath("other.wav"), ramp::wav(f, 800)));
    ASSERT_TRUE(ramp::write(dir.filePath("text.txt"), "not a sound at all, just some text here."));
    ASSERT_TRUE(ramp::write(dir.filePath("float.wav"),
                            ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(3, 1, 8000, 32)) +
                                       ramp::chunk("data", QByteArray(400, '\0')))));
    ASSERT_TRUE(ramp::write(dir.filePath("pcm24.wav"),
                            ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(1, 1, 8000, 24)) +
                                       ramp::chunk("data", QByteArray(300, '\0')))));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    WaveCommands wave;
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias voice1"), 0);
    QString command = QString::fromUtf8(c.command);
    command.replace("%SRC%", src).replace("%OUT%", out).replace("%DIR%", dir.path());
    for (const char* name : {"other", "float", "pcm24"})
        command.replace(QStringLiteral("%%1%").arg(QString::fromLatin1(name).toUpper()),
                        dir.filePath(QString::fromLatin1(name) + ".wav"));
    command.replace("%TEXT%", dir.filePath("text.txt"));

    EXPECT_EQ(wave.send(command), c.code) << command.toStdString();
    EXPECT_EQ(wave.lastErrorCode(), c.code);
    EXPECT_FALSE(wave.lastError().isEmpty());
    EXPECT_EQ(wave.log().last(), command);

    EXPECT_TRUE(ramp::read(src) == source) << "source changed";
    EXPECT_TRUE(ramp::read(out) == previous) << "older file at the save path changed";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before)
        << "a file was written or removed";
    EXPECT_EQ(wave.openAliases(), QStringList{"voice1"});
    // voice1 still holds the whole source: nothing was removed.
    const QString check = dir.filePath("check.wav");
    ASSERT_EQ(wave.send("save voice1 " + check), 0) << wave.lastError().toStdString();
    EXPECT_TRUE(ramp::read(check) == source);
}

INSTANTIATE_TEST_SUITE_P(
    WaveCommands, Errors,
    ::testing::Values(
        ErrorCase{"Empty", "", mcierr::kMissingCommandString},
        ErrorCase{"Blanks", "  \t ", mcierr::kMissingCommandString},
        ErrorCase{"UnknownCommand", "play voice1", mcierr::kUnrecognizedCommand},
        ErrorCase{"NegativeNumber", "delete voice1 from -5 to 100", mcierr::kBadInteger},
        ErrorCase{"PlusSign", "delete voice1 from +5 to 100", mcierr::kBadInteger},
        ErrorCase{"NotANumber", "delete voice1 from abc to 100", mcierr::kBadInteger},
        ErrorCase{"Fraction", "delete voice1 from 1.5 to 100", mcierr::kBadInteger},
        ErrorCase{"Overflow64", "delete voice1 from 0 to 18446744073709551616",
                  mcierr::kBadInteger},
        ErrorCase{"HugeNumber", "delete voice1 from 0 to 99999999999999999999999",
                  mcierr::kBadInteger},
        ErrorCase{"Largest64", "delete voice1 from 0 to 18446744073709551615", mcierr::kOutOfRange},
        ErrorCase{"FromAfterTo", "delete voice1 from 600 to 500", mcierr::kOutOfRange},
        ErrorCase{"PastTheEnd", "delete voice1 from 0 to 1001", mcierr::kOutOfRange},
        ErrorCase{"BothPastTheEnd", "delete voice1 from 1001 to 1001", mcierr::kOutOfRange},
        ErrorCase{"FromPastTheEnd", "delete voice1 from 1001", mcierr::kOutOfRange},
        ErrorCase{"UnknownAlias", "delete voice2 from 0 to 10", mcierr::kInvalidDeviceName},
        ErrorCase{"DeleteWithoutAlias", "delete", mcierr::kMissingParameter},
        ErrorCase{"FromWithoutValue", "delete voice1 from", mcierr::kMissingParameter},
        ErrorCase{"ToWithoutValue", "delete voice1 from 0 to", mcierr::kMissingParameter},
        ErrorCase{"MisspeltKeyword", "delete voice1 frm 0 to 10", mcierr::kUnrecognizedKeyword},
        ErrorCase{"TrailingWord", "delete voice1 from 0 to 10 extra", mcierr::kUnrecognizedKeyword},
        ErrorCase{"FromTwice", "delete voice1 from 1 from 2", mcierr::kDuplicateFlags},
        ErrorCase{"AliasInUse", "open %OTHER% type waveaudio alias VOICE1",
                  mcierr::kDuplicateAlias},
        ErrorCase{"MissingFile", "open %DIR%/missing.wav type waveaudio alias v2",
                  mcierr::kFileNotFound},
        ErrorCase{"TextFile", "open %TEXT% type waveaudio alias v2", mcierr::kInvalidFile},
        ErrorCase{"FloatWav", "open %FLOAT% type waveaudio alias v2", mcierr::kInvalidFile},
        ErrorCase{"Pcm24Wav", "open %PCM24% type waveaudio alias v2", mcierr::kInvalidFile},
        ErrorCase{"OpenFolder", "open %DIR% type waveaudio alias v2", mcierr::kInvalidFile},
        ErrorCase{"OtherDeviceType", "open %OTHER% type sequencer alias v2",
                  mcierr::kInvalidDeviceName},
        ErrorCase{"NoType", "open %OTHER% alias v2", mcierr::kDeviceTypeRequired},
        ErrorCase{"NoAlias", "open %OTHER% type waveaudio", mcierr::kMissingParameter},
        ErrorCase{"AliasWithoutName", "open %OTHER% type waveaudio alias",
                  mcierr::kMissingParameter},
        ErrorCase{"AliasAll", "open %OTHER% type waveaudio alias all", mcierr::kInvalidDeviceName},
        ErrorCase{"OpenWithoutPath", "open", mcierr::kFilenameRequired},
        ErrorCase{"UnclosedQuote", "open \"%OTHER% type waveaudio alias v2",
                  mcierr::kNoClosingQuote},
        ErrorCase{"SaveUnderAFile", "save voice1 %SRC%/clip.wav", mcierr::kFileNotSaved},
        ErrorCase{"SaveIntoMissingFolder", "save voice1 %DIR%/nowhere/clip.wav",
                  mcierr::kFileNotSaved},
        ErrorCase{"SaveOverAFolder", "save voice1 %DIR%", mcierr::kFileNotSaved},
        ErrorCase{"SaveWithoutPath", "save voice1", mcierr::kFilenameRequired},
        ErrorCase{"SaveUnknownAlias", "save voice9 %OUT%", mcierr::kInvalidDeviceName},
        ErrorCase{"SaveTrailingWord", "save voice1 %OUT% now", mcierr::kUnrecognizedKeyword},
        ErrorCase{"CloseUnknownAlias", "close voice9", mcierr::kInvalidDeviceName},
        ErrorCase{"CloseWithoutAlias", "close", mcierr::kMissingParameter}),
    [](const auto& p) { return std::string(p.param.name); });

// A data chunk just under 4 GiB, as a sparse file: a result that would not fit the 32-bit
// size fields is refused before anything is written, and offsets past 2 GiB are read right.
TEST(WaveCommands, RefusesResultsPastFourGiB) {
    QTemporaryDir dir;
    const QString src = dir.filePath("huge.wav"), out = dir.filePath("out.wav");
    const ramp::Format f{8000, 1, 8};
    const std::uint32_t dataBytes = 0xFFFFFFF0u; // > WavHeader::kMaxDataSize
    {
        QFile file(src);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(ramp::header(f, dataBytes)), 44);
        if (!file.resize(44 + qint64(dataBytes)))
            GTEST_SKIP() << "no room for a sparse 4 GiB file here";
        ASSERT_TRUE(file.seek(44 + qint64(dataBytes) - 8000));
        ASSERT_EQ(file.write(ramp::frames(f, 0, 8000)), 8000); // the last second is a ramp
    }
    WaveCommands wave;
    ASSERT_EQ(wave.send("open " + src + " type waveaudio alias big"), 0)
        << wave.lastError().toStdString();
    EXPECT_EQ(wave.send("save big " + out), mcierr::kFileNotSaved);
    EXPECT_TRUE(wave.lastError().contains("4 GiB")) << wave.lastError().toStdString();
    ASSERT_EQ(wave.send("delete big from 0 to 1"), 0);
    EXPECT_EQ(wave.send("save big " + out), mcierr::kFileNotSaved) << "still 8 bytes too long";
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"huge.wav"});

    // 0xFFFFFFF0 frames at 8 kHz are 536870910 ms; keep the last second only.
    ASSERT_EQ(wave.send("delete big from 0 to 536869909"), 0) << wave.lastError().toStdString();
    ASSERT_EQ(wave.send("save big " + out), 0) << wave.lastError().toStdString();
    EXPECT_TRUE(ramp::read(out) == ramp::header(f, 8000) + ramp::frames(f, 0, 8000));
}

} // namespace
