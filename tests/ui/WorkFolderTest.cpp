#include "ui/WorkFolder.h"

#include "support/AppFixture.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <memory>

using namespace quaverly;

namespace {

class WorkFolderTest : public test::AppFixture {
protected:
    // Starts this test program as another instance that holds a working folder with a file and
    // a sub-folder in it; returns that folder.
    QString startHolder(QProcess& holder) {
        holder.setProgram(QCoreApplication::applicationFilePath());
        holder.setArguments({QStringLiteral("--hold-work-folder")});
        holder.start();
        if (!holder.waitForStarted(10000)) {
            return {};
        }
        while (!holder.canReadLine() && holder.waitForReadyRead(30000)) {
        }
        const QString line = QString::fromUtf8(holder.readLine()).trimmed();
        return line.startsWith(QLatin1String("READY ")) ? line.mid(6) : QString();
    }
};

TEST_F(WorkFolderTest, RootIsPrivateAndNamedByTheConstant) {
    EXPECT_EQ(WorkFolder::defaultRoot(), workRoot);
    WorkFolder work;
    const Status opened = work.open();
    ASSERT_TRUE(opened) << qPrintable(opened.error().text());
    EXPECT_TRUE(work.path().startsWith(workRoot + u'/'));
    EXPECT_TRUE(work.path().endsWith(u'/'));
#ifndef Q_OS_WIN // on Windows the profile's folders are the user's own by their ACLs
    EXPECT_EQ(QFileInfo(workRoot).permissions() & 0x0077, 0); // nothing for group or others
#endif
    EXPECT_TRUE(QFileInfo(work.path()).isDir());

    // Without the override the cache base of the desktop is used, else the system's default.
    qunsetenv("QUAVERLY_WORK_BASE");
    setEnv(test::kCacheBaseVariable, path(QStringLiteral("xdg")));
    EXPECT_EQ(WorkFolder::defaultRoot(), path(QStringLiteral("xdg/velmarise")));
    qunsetenv(test::kCacheBaseVariable);
#ifdef Q_OS_WIN
    EXPECT_TRUE(WorkFolder::defaultRoot().endsWith(QLatin1String("/AppData/Local/velmarise")))
        << qPrintable(WorkFolder::defaultRoot());
#else
    EXPECT_EQ(WorkFolder::defaultRoot(), home + QStringLiteral("/.cache/velmarise"));
#endif
}

TEST_F(WorkFolderTest, EmptiesFilesAtStartAndCloseButKeepsSubFolders) {
    QString slot;
    {
        WorkFolder first;
        ASSERT_TRUE(first.open());
        slot = first.path();
    }
    // What an earlier run left: files (one hidden), a link, and a sub-folder with a file.
    writeFile(slot + "song.wav", "RIFF");
    writeFile(slot + ".hidden", "x");
    writeFile(slot + "sub/kept.wav", "x");
    QFile::link(slot + "song.wav", slot + "link.wav");

    WorkFolder work;
    ASSERT_TRUE(work.open());
    EXPECT_EQ(work.path(), slot);
    EXPECT_EQ(filesIn(slot), QStringList());
    EXPECT_TRUE(QFileInfo::exists(slot + "sub/kept.wav"));

    writeFile(work.path() + "concat.wav", "RIFF");
    work.close();
    EXPECT_EQ(filesIn(slot), QStringList());
    EXPECT_TRUE(QFileInfo::exists(slot + "sub/kept.wav"));
    EXPECT_TRUE(QFileInfo(slot).isDir());
    EXPECT_TRUE(work.path().isEmpty());
}

TEST_F(WorkFolderTest, TwoInstancesInOneProcessKeepApart) {
    WorkFolder a;
    ASSERT_TRUE(a.open());
    writeFile(a.path() + "song.wav", "RIFF");
    {
        WorkFolder b;
        ASSERT_TRUE(b.open());
        EXPECT_NE(a.path(), b.path());
        writeFile(b.path() + "other.wav", "RIFF");
    } // b closes
    EXPECT_EQ(filesIn(a.path()), QStringList{"song.wav"});
}

TEST_F(WorkFolderTest, RunningInstanceIsLeftAloneAndCrashedOneIsCleared) {
    auto zero = std::make_unique<WorkFolder>();
    ASSERT_TRUE(zero->open());
    QProcess holder;
    const QString held = startHolder(holder);
    ASSERT_FALSE(held.isEmpty()) << holder.readAllStandardError().constData();
    EXPECT_NE(held, zero->path());

    // Another instance while that one runs: its own folder, the other one's untouched.
    WorkFolder second;
    ASSERT_TRUE(second.open());
    EXPECT_NE(second.path(), held);
    EXPECT_EQ(filesIn(held), QStringList{"song.wav"});
    writeFile(second.path() + "mine.wav", "RIFF");

    // The holder crashes; the first slot frees up, so the next instance takes that one and
    // has to clear the crashed instance's folder as a leftover.
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(10000));
    zero.reset();

    WorkFolder third;
    ASSERT_TRUE(third.open());
    EXPECT_EQ(third.path(), workRoot + "/instance-0/");
    EXPECT_EQ(filesIn(held), QStringList());
    EXPECT_TRUE(QFileInfo::exists(held + "keep/inner/file.txt"));
    EXPECT_EQ(filesIn(second.path()), QStringList{"mine.wav"});
}

TEST_F(WorkFolderTest, UnusableRootIsReported) {
    writeFile(path(QStringLiteral("file-base")), "x");
    setEnv("QUAVERLY_WORK_BASE", path(QStringLiteral("file-base")));
    WorkFolder work;
    const Status opened = work.open();
    ASSERT_FALSE(opened);
    EXPECT_FALSE(opened.error().text().isEmpty());
    EXPECT_TRUE(work.path().isEmpty());
}

} // namespace
