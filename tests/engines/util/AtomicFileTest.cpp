#include "engines/util/AtomicFile.h"

#include "support/FileSizeLimit.h"
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
    const auto work = [&] {
        AtomicFile file(target);
        QString error;
        if (file.open(&error) && file.write(data.constData(), data.size(), &error) &&
            file.commit(&error))
            return QStringLiteral("saved");
        return error;
    };
    const QString error =
        c.fileSizeLimit > 0
            ? withFileSizeLimit(c.fileSizeLimit, work).value_or(QStringLiteral("the child failed"))
            : work();
    EXPECT_TRUE(error.startsWith(target)) << error.toStdString();
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, AtomicFileFailure,
    ::testing::Values(
        // Small enough to sit in the write buffer: only the flush at commit() meets the limit.
        FailureCase{"TailPastTheSizeLimit", 4096, 6000, 8},
        FailureCase{"BlockPastTheSizeLimit", 65536, 1 << 20, 8},
        // No room in the folder for the temporary file's name (the target's name + 7).
        FailureCase{"NoNameForTheTemporaryFile", 0, 100, 250}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
