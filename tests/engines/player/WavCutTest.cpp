#include "engines/player/WavCut.h"

#include "engines/player/MciErrors.h"
#include "player/RampWav.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using quaverly::cutWav;
namespace mcierr = quaverly::mcierr;

namespace {

const ramp::Format kStereo16_44k{44100, 2, 16};
const ramp::Format kMono16_8k{8000, 1, 16};
const ramp::Format kMono8_8k{8000, 1, 8};
const ramp::Format kStereo8_22k{22050, 2, 8};

// One cut: a source of `count` ramp frames and the frames [first, end) kept.
struct CutCase {
    const char* name;
    ramp::Format format;
    std::uint64_t count, first, end;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.name;
}

class Cuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(Cuts, KeepExactlyTheFramesOfTheRange) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString src = dir.filePath("song.wav"), out = dir.filePath("clip.wav");
    const QByteArray source = ramp::wav(c.format, c.count);
    ASSERT_TRUE(ramp::write(src, source));

    const quaverly::Status cut = cutWav(src, out, c.first, c.end);
    ASSERT_TRUE(cut) << qPrintable(cut.error().text());
    const QByteArray want = ramp::frames(c.format, c.first, c.end - c.first);
    const QByteArray got = ramp::read(out);
    ASSERT_GE(got.size(), 44);
    EXPECT_EQ(got.left(44), ramp::header(c.format, std::uint32_t(want.size())));
    EXPECT_TRUE(got.mid(44) == want)
        << ramp::firstDifference(got.mid(44), want, c.format.frameBytes());
    const auto probed = quaverly::probeWav(out);
    ASSERT_TRUE(probed);
    EXPECT_TRUE(probed->canonical);
    EXPECT_TRUE(ramp::read(src) == source) << "the source was changed";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2)
        << "a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(
    WavCut, Cuts,
    ::testing::Values(CutCase{"Middle", kStereo16_44k, 441000, 88200, 220500},
                      CutCase{"Whole", kMono8_8k, 24000, 0, 24000},
                      CutCase{"Head", kMono16_8k, 16000, 0, 1},
                      CutCase{"LastFrame", kStereo8_22k, 22051, 22050, 22051},
                      CutCase{"Empty", kStereo8_22k, 22051, 500, 500},
                      CutCase{"EmptySource", kMono16_8k, 0, 0, 0},
                      // Past one copy block of 1 MiB, at an offset that is not a block's.
                      CutCase{"LongerThanABlock", kStereo16_44k, 400000, 3, 399999}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WavCut, FindsTheSamplesBetweenOtherChunks) {
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

    ASSERT_TRUE(cutWav(src, out, 0, 4410));
    EXPECT_TRUE(ramp::read(out) == ramp::header(f, samples.size()) + samples)
        << "whole file: trailing chunks must not become sound";
    ASSERT_TRUE(cutWav(src, out, 882, 3087));
    EXPECT_TRUE(ramp::read(out).mid(44) == ramp::frames(f, 882, 2205));
    EXPECT_TRUE(ramp::read(src) == file);
}

TEST(WavCut, ReplacesALongerTargetWhole) {
    QTemporaryDir dir;
    const QString src = dir.filePath("s.wav"), out = dir.filePath("a.wav");
    const ramp::Format f = kMono8_8k;
    ASSERT_TRUE(ramp::write(src, ramp::wav(f, 8000)));
    ASSERT_TRUE(ramp::write(out, QByteArray(100000, 'x')));
    ASSERT_TRUE(cutWav(src, out, 4000, 8000));
    EXPECT_TRUE(ramp::read(out) == ramp::header(f, 4000) + ramp::frames(f, 4000, 4000));
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

// The editor cuts a working copy in place: the cut over its own source lets go of it before the
// rename; a cut that fails keeps the old file.
TEST(WavCut, CutsOverItsOwnSource) {
    QTemporaryDir dir;
    const QString src = dir.filePath("song.wav");
    const ramp::Format f = kMono16_8k;
    ASSERT_TRUE(ramp::write(src, ramp::wav(f, 8000)));

    ASSERT_TRUE(cutWav(src, src, 2000, 8000));
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 12000) + ramp::frames(f, 2000, 6000));
    EXPECT_EQ(replacedButOpen(dir.path()), QStringList{});
    ASSERT_TRUE(cutWav(src, src, 2000, 6000));
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 8000) + ramp::frames(f, 4000, 4000));

    if (!quaverly::test::kCanLimitFileSize)
        return;
    // A disk that takes 1000 bytes: the cut of 8044 fails (when the last bytes are written out,
    // before the rename), and the source is as it was.
    const auto said = quaverly::test::withFileSizeLimit(1000, [&] {
        const quaverly::Status cut = cutWav(src, src, 0, 4000);
        return cut ? QStringLiteral("cut") : QString::number(cut.error().code());
    });
    ASSERT_TRUE(said);
    EXPECT_EQ(*said, QString::number(mcierr::kFileNotSaved));
    EXPECT_TRUE(ramp::read(src) == ramp::header(f, 8000) + ramp::frames(f, 4000, 4000));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"song.wav"});
}

// Files an error case can name: %SRC% (1000 ms of 8 kHz 16-bit stereo), %OUT% (an older file at
// the target), %TEXT%, %FLOAT%, %PCM24%, %DIR%.
struct ErrorCase {
    const char* name;
    const char* source;
    const char* target;
    std::uint64_t first, end;
    int code;
    const char* names; // "source", "target" or "": the file the Error names
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
    ASSERT_TRUE(ramp::write(dir.filePath("text.txt"), "not a sound at all, just some text here."));
    ASSERT_TRUE(ramp::write(dir.filePath("float.wav"),
                            ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(3, 1, 8000, 32)) +
                                       ramp::chunk("data", QByteArray(400, '\0')))));
    ASSERT_TRUE(ramp::write(dir.filePath("pcm24.wav"),
                            ramp::riff(ramp::chunk("fmt ", ramp::fmtBody(1, 1, 8000, 24)) +
                                       ramp::chunk("data", QByteArray(300, '\0')))));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const auto path = [&](const char* text) {
        return QString::fromUtf8(text)
            .replace("%SRC%", src)
            .replace("%OUT%", out)
            .replace("%DIR%", dir.path())
            .replace("%TEXT%", dir.filePath("text.txt"))
            .replace("%FLOAT%", dir.filePath("float.wav"))
            .replace("%PCM24%", dir.filePath("pcm24.wav"));
    };
    const QString from = path(c.source), to = path(c.target);

    const quaverly::Status cut = cutWav(from, to, c.first, c.end);
    ASSERT_FALSE(cut);
    EXPECT_EQ(cut.error().code(), c.code) << qPrintable(cut.error().text());
    const QString named = qstrcmp(c.names, "source") == 0   ? from
                          : qstrcmp(c.names, "target") == 0 ? to
                                                            : QString();
    EXPECT_EQ(cut.error().file(), named);
    EXPECT_FALSE(quaverly::mcierr::reason(cut.error()).isEmpty());

    EXPECT_TRUE(ramp::read(src) == source) << "source changed";
    EXPECT_TRUE(ramp::read(out) == previous) << "older file at the target changed";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before)
        << "a file was written or removed";
}

INSTANTIATE_TEST_SUITE_P(
    WavCut, Errors,
    ::testing::Values(
        ErrorCase{"MissingFile", "%DIR%/missing.wav", "%OUT%", 0, 1, mcierr::kFileNotFound,
                  "source"},
        ErrorCase{"NoName", "", "%OUT%", 0, 1, mcierr::kFilenameRequired, ""},
        ErrorCase{"TextFile", "%TEXT%", "%OUT%", 0, 1, mcierr::kInvalidFile, "source"},
        ErrorCase{"FloatWav", "%FLOAT%", "%OUT%", 0, 1, mcierr::kInvalidFile, "source"},
        ErrorCase{"Pcm24Wav", "%PCM24%", "%OUT%", 0, 1, mcierr::kInvalidFile, "source"},
        ErrorCase{"SourceIsAFolder", "%DIR%", "%OUT%", 0, 1, mcierr::kInvalidFile, "source"},
        ErrorCase{"FirstAfterEnd", "%SRC%", "%OUT%", 600, 500, mcierr::kOutOfRange, "source"},
        ErrorCase{"PastTheEnd", "%SRC%", "%OUT%", 0, 8001, mcierr::kOutOfRange, "source"},
        ErrorCase{"TargetUnderAFile", "%SRC%", "%SRC%/clip.wav", 0, 1, mcierr::kFileNotSaved,
                  "target"},
        ErrorCase{"TargetInAMissingFolder", "%SRC%", "%DIR%/nowhere/clip.wav", 0, 1,
                  mcierr::kFileNotSaved, "target"},
        ErrorCase{"TargetIsAFolder", "%SRC%", "%DIR%", 0, 1, mcierr::kFileNotSaved, "target"}),
    [](const auto& p) { return std::string(p.param.name); });

// A data chunk just under 4 GiB, as a sparse file: a result that would not fit the 32-bit size
// fields is refused before anything is written, and offsets past 2 GiB are read right.
TEST(WavCut, RefusesResultsPastFourGiB) {
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
    for (const std::uint64_t first : {0u, 8u}) {
        const quaverly::Status cut = cutWav(src, out, first, dataBytes);
        ASSERT_FALSE(cut) << first;
        EXPECT_EQ(cut.error().code(), mcierr::kFileNotSaved);
        EXPECT_TRUE(cut.error().cause().contains("4 GiB")) << qPrintable(cut.error().cause());
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"huge.wav"});

    ASSERT_TRUE(cutWav(src, out, dataBytes - 8000, dataBytes));
    EXPECT_TRUE(ramp::read(out) == ramp::header(f, 8000) + ramp::frames(f, 0, 8000));
}

} // namespace
