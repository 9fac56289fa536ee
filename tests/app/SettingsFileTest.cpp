#include "app/SettingsFile.h"

#include "support/AppFixture.h"
#include "support/FileSizeLimit.h"

using namespace quaverly;

namespace {

class SettingsFileTest : public test::AppFixture {};

TEST_F(SettingsFileTest, DefaultPathFollowsTheConfigurationBase) {
    EXPECT_EQ(defaultSettingsPath(), configFile);
    setEnv(test::kConfigBaseVariable, QStringLiteral("relative/ignored"));
#ifdef Q_OS_WIN
    EXPECT_TRUE(
        defaultSettingsPath().endsWith(QLatin1String("/AppData/Roaming/velmarise/config.ini")))
        << qPrintable(defaultSettingsPath());
#else
    EXPECT_EQ(defaultSettingsPath(), home + QStringLiteral("/.config/velmarise/config.ini"));
#endif
}

TEST_F(SettingsFileTest, WritesTwoCrLfLinesAndReplacesTheFile) {
    const Status saved = writeSettings(configFile, {128, home});
    ASSERT_TRUE(saved) << qPrintable(saved.error().text());
    EXPECT_EQ(readFile(configFile),
              QByteArray("128\r\n") + QDir::toNativeSeparators(home).toUtf8() + "\r\n");
    ASSERT_TRUE(writeSettings(configFile, {56, configBase}));
    EXPECT_EQ(readFile(configFile),
              QByteArray("56\r\n") + QDir::toNativeSeparators(configBase).toUtf8() + "\r\n");
    // Nothing left beside it from the temporary file.
    EXPECT_EQ(filesIn(QFileInfo(configFile).absolutePath()), QStringList{"config.ini"});
    const auto back = readSettings(configFile);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->outBitRate, 56);
    EXPECT_EQ(back->baseFolder, configBase);
}

TEST_F(SettingsFileTest, AFailedWriteSaysWhyAndKeepsTheOldFile) {
    writeFile(configFile, "96\r\n" + home.toUtf8() + "\r\n");
    // A folder in the way of the temporary file's name cannot be replaced by a file.
    const QString blocked = path(QStringLiteral("blocked/config.ini"));
    QDir().mkpath(blocked);
    Status saved = writeSettings(blocked, {128, home});
    ASSERT_FALSE(saved);
    EXPECT_FALSE(saved.error().text().isEmpty());
    // A file where the folder should be.
    writeFile(path(QStringLiteral("notafolder")), "x");
    saved = writeSettings(path(QStringLiteral("notafolder/config.ini")), {128, home});
    ASSERT_FALSE(saved);
    EXPECT_FALSE(saved.error().text().isEmpty());
    EXPECT_EQ(readFile(configFile), "96\r\n" + home.toUtf8() + "\r\n");
}

// A disk that takes only part of the file (here a file size limit) fails the save; the
// settings file keeps its older content instead of being replaced by a cut-off one.
TEST_F(SettingsFileTest, AWriteCutShortIsReportedAndKeepsTheOldFile) {
    if (!test::kCanLimitFileSize)
        GTEST_SKIP() << "no file size limit on this system";
    const QByteArray old = "96\r\n" + home.toUtf8() + "\r\n";
    writeFile(configFile, old);
    const auto error = test::withFileSizeLimit(4, [&] {
        const Status saved = writeSettings(configFile, {128, home});
        return saved ? QStringLiteral("saved") : saved.error().text();
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(QLatin1String("could not be written"))) << error->toStdString();
    EXPECT_EQ(readFile(configFile), old);
    EXPECT_EQ(filesIn(QFileInfo(configFile).absolutePath()), QStringList{"config.ini"});
}

TEST_F(SettingsFileTest, ReadsOnlyValidFiles) {
    const QByteArray h = home.toUtf8();
    const struct {
        QByteArray content;
        int kbps; // 0: rejected
    } cases[] = {
        {"256\r\n" + h + "\r\n", 256},
        {"56\r\n" + h + "\r\n", 56},
        {"96\n" + h + "\n", 96},        // LF only, as an editor may leave it
        {" 128 \r\n" + h, 128},         // blanks around the number, no last terminator
        {"128\r\n" + h + "/\r\n", 128}, // trailing separator
        {"", 0},
        {"128\r\n", 0},
        {"192\r\n" + h + "\r\n", 192},
        {"160\r\n" + h + "\r\n", 0}, // not an offered bit rate
        {"-256\r\n" + h + "\r\n", 0},
        {"0x80\r\n" + h + "\r\n", 0},
        {"abc\r\n" + h + "\r\n", 0},
        {"128\r\n/no/such/folder\r\n", 0},
        {"128\r\n\r\n", 0},
        {"128\r\n" + h + "\r\nextra\r\n", 0},
        {"128\r\n" + h + "/config.ini\r\n", 0}, // not a folder
        {QByteArray(70000, '1'), 0},
    };
    writeFile(home + "/config.ini", "x");
    for (const auto& c : cases) {
        writeFile(configFile, c.content);
        const auto s = readSettings(configFile);
        EXPECT_EQ(s ? s->outBitRate : 0, c.kbps) << c.content.left(60).constData();
        if (s) {
            EXPECT_EQ(QDir(s->baseFolder), QDir(home));
        }
    }
    EXPECT_FALSE(readSettings(path(QStringLiteral("missing.ini"))));
}

} // namespace
