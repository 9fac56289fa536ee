#include "engines/util/AtomicFile.h"

#include "engines/util/SameFile.h"
#include "support/FileSizeLimit.h"
#include "support/SymbolicLinks.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// One way a save goes wrong on a real disk, even for root.
struct FailureCase {
    const char* name;
    qint64 fileSizeLimit; // 0: none
    qint64 bytes;         // written in one call
    int nameLength;       // of the target's file name
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

// Opens, writes and commits `data` to `target`: "saved", or the Error as "file|cause".
QString save(const QString& target, const QByteArray& data) {
    AtomicFile file(target);
    Status s = file.open();
    if (s)
        s = file.write(data.constData(), data.size());
    if (s)
        s = file.commit();
    return s ? QStringLiteral("saved") : s.error().file() + QLatin1Char('|') + s.error().cause();
}

class AtomicFileFailure : public ::testing::TestWithParam<FailureCase> {};

// Whatever step fails (a write, the flush of the buffered tail in commit(), the rename), it is
// reported with the target's name, the older file stays byte for byte and nothing is left.
TEST_P(AtomicFileFailure, IsReportedAndLeavesTheOldTarget) {
    const auto& c = GetParam();
    if (c.fileSizeLimit > 0 && !kCanLimitFileSize)
        GTEST_SKIP() << "no file size limit on this system";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QString(c.nameLength, QLatin1Char('t')));
    const QByteArray old("the older file");
    ASSERT_TRUE(writeFile(target, old));
    const QByteArray data(c.bytes, 'n');
#ifdef Q_OS_WIN
    // There the temporary name is shortened to fit beside a long one: the save succeeds.
    if (c.nameLength > 240) {
        EXPECT_EQ(save(target, data), QStringLiteral("saved"));
        EXPECT_EQ(readFile(target), data);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        return;
    }
#endif
    const auto work = [&] { return save(target, data); };
    const QString error =
        c.fileSizeLimit > 0
            ? withFileSizeLimit(c.fileSizeLimit, work).value_or(QStringLiteral("the child failed"))
            : work();
    EXPECT_TRUE(error.startsWith(target + QLatin1Char('|'))) << error.toStdString();
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, AtomicFileFailure,
    ::testing::Values(
        // Small enough to sit in the write buffer: only the flush at commit() meets the limit.
        FailureCase{"TailPastTheSizeLimit", 4096, 6000, 8},
        FailureCase{"BlockPastTheSizeLimit", 65536, 1 << 20, 8},
        // A block of several MiB goes through a pipe; the limit stops it part way.
        FailureCase{"LargeBlockPastTheSizeLimit", 5 << 20, 8 << 20, 8},
        // No room in the folder for the temporary file's name (the target's name + 7).
        FailureCase{"NoNameForTheTemporaryFile", 0, 100, 250}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

namespace {

// The system's own words for a write past the limit, whether the write or the flush in
// commit() meets it, rather than Qt's "Unknown error".
TEST(AtomicFileCause, AFailedWriteSaysWhyInTheSystemsWords) {
    if (!kCanLimitFileSize)
        GTEST_SKIP() << "no file size limit on this system";
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.wav"));
    for (const qint64 bytes : {qint64(6000), qint64(1) << 20, qint64(8) << 20}) {
        const QByteArray data(bytes, 'n');
        const auto error = withFileSizeLimit(4096, [&] { return save(target, data); });
        EXPECT_EQ(error, target + QStringLiteral("|File too large")) << bytes;
    }
}

// Blocks small and large (a large one goes past Qt's buffer, through a pipe) land in order, byte
// for byte, and the position follows them, so that a seek back to patch a header still works.
TEST(AtomicFileWrite, BlocksOfEverySizeLandInOrder) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.wav"));
    QByteArray large((9 << 20) + 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 4096); // differs from page to page
    const QByteArray head(44, 'h'), tail("tail!"), patch("PTCH");

    AtomicFile file(target);
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.write(head.constData(), head.size()));
    ASSERT_TRUE(file.write(large.constData(), large.size()));
    EXPECT_EQ(file.file().pos(), head.size() + large.size());
    ASSERT_TRUE(file.write(tail.constData(), tail.size()));
    ASSERT_TRUE(file.file().seek(4));
    ASSERT_TRUE(file.write(patch.constData(), patch.size()));
    ASSERT_TRUE(file.commit());

    QByteArray expected = head + large + tail;
    expected.replace(4, patch.size(), patch);
    EXPECT_TRUE(readFile(target) == expected);
}

// A target that is a symbolic link is written through: the file it names gets the bytes, the
// link stays; a dangling link makes the file it names.
TEST(AtomicFileLink, ATargetThatIsALinkIsWrittenThrough) {
    if (!makesSymbolicLinks())
        GTEST_SKIP() << kNoSymbolicLinks;
    QTemporaryDir dir;
    for (const bool dangling : {false, true}) {
        const QString real = dir.filePath(dangling ? QStringLiteral("new") : QStringLiteral("old"));
        const QString link = dir.filePath(dangling ? QStringLiteral("l2") : QStringLiteral("l1"));
        if (!dangling) {
            ASSERT_TRUE(writeFile(real, "earlier"));
        }
        ASSERT_TRUE(symbolicLink(real, link));
        ASSERT_EQ(save(link, "later"), QStringLiteral("saved")) << dangling;
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), real) << dangling;
        EXPECT_EQ(readFile(real), QByteArray("later")) << dangling;
    }
}

// A link aside is a second name for the file's own data, a new one each time; a file that is not
// there gets none, and nothing is left.
TEST(AtomicFileLinkAside, GivesANewNameForTheSameDataOrNamesTheFile) {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.wav"));
    ASSERT_TRUE(writeFile(song, "RIFF"));
    const QString pattern = dir.filePath(QStringLiteral("song.wav-XXXXXX"));
    const auto first = linkAside(song, pattern);
    const auto second = linkAside(song, pattern);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    for (const QString& name : {*first, *second}) {
        EXPECT_TRUE(QFileInfo(name).fileName().startsWith(QLatin1String("song.wav-")))
            << name.toStdString();
        EXPECT_TRUE(sameFile(name, song)) << name.toStdString();
    }
    const QString gone = dir.filePath(QStringLiteral("gone.wav"));
    const auto missing = linkAside(gone, pattern);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().file(), gone);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

} // namespace
