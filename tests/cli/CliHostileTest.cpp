// quaverly-cli with file names that break naive quoting, and with targets it must refuse or
// cannot write: the real binary, with the real file system.
#include "cli/CliOutput.h"
#include "engines/util/SameFile.h"
#include "support/FileSizeLimit.h"
#include "support/SymbolicLinks.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

using namespace quaverly::test;

namespace {

using Run = quaverly::test::CliRun;

// Runs the binary; `limitBytes` > 0 runs it in a shell whose files may not grow past that size
// (a write past it fails with "File too large", as on a full disk).
Run cli(const QStringList& args, qint64 limitBytes = 0) {
    QProcess p;
    if (limitBytes > 0)
        p.start(QStringLiteral("/bin/bash"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"")
                                .arg(limitBytes / 1024),
                            quaverly::test::cliPath()} +
                    args);
    else
        p.start(quaverly::test::cliPath(), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            quaverly::test::cliOutput(p.readAllStandardOutput()),
            quaverly::test::cliOutput(p.readAllStandardError())};
}

// Every file under `root` (links as links) with its bytes, to see that nothing changed.
std::map<QString, QByteArray> snapshot(const QString& root) {
    std::map<QString, QByteArray> files;
    const QDir dir(root);
    for (const QFileInfo& f :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (f.isSymLink())
            files[f.fileName()] = "-> " + f.symLinkTarget().toUtf8();
        else if (f.isDir())
            for (const auto& [name, bytes] : snapshot(f.filePath()))
                files[f.fileName() + QLatin1Char('/') + name] = bytes;
        else
            files[f.fileName()] = readFile(f.filePath());
    }
    return files;
}

class CliHostile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Each name is used for a source and for the targets made from it; targets go to folders of
// their own, under the same name, so that a name of the 255 bytes a name may have stays one.
// Windows forbids quotes and control characters in names: there the characters its command
// lines treat apart stand in for them.
TEST_F(CliHostile, NamesThatNeedQuotingReachEveryCommand) {
    const QString names[] = {
        QStringLiteral("with space"),
        QStringLiteral("it's"),
#ifdef Q_OS_WIN
        QStringLiteral("a & b; c, d = e"),
        QStringLiteral("100% #1!"),
        QStringLiteral("Café 日本 (1)"),
#else
        QStringLiteral("say \"cheese\""),
        QStringLiteral("two\nlines"),
        QStringLiteral("tab\there\r"),
#endif
        QStringLiteral("é 日本 😀"),
        QStringLiteral("-dash"),
        QStringLiteral("--from=5"),
        QString(251, QLatin1Char('n')),                   // 255 bytes with ".wav"
        QString(62, QChar(0x65E5)) + QStringLiteral("x"), // 3 bytes each: 191 + ".wav"
    };
    constexpr std::size_t kFrames = 8000;
    for (const char* folder : {"conv", "enc", "join", "cut", "fade"})
        ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromUtf8(folder)));
    for (const QString& name : names) {
        const std::string shown = name.toStdString();
        const QString source = path(name + QStringLiteral(".wav"));
        ASSERT_TRUE(writeWav16(source, 1, 8000, staircase(kFrames, 1))) << shown;
        const QString file = name + QStringLiteral(".wav");
        const struct {
            QStringList args;
            QString target;
            std::size_t frames; // 0: an MP3, checked by its size
        } cases[] = {
            {{"convert", "--", source, path("conv/" + file)}, path("conv/" + file), kFrames},
            {{"convert", "--", source, path("enc/" + name + ".mp3")},
             path("enc/" + name + ".mp3"),
             0},
            {{"join", "--", path("join/" + file), source, source},
             path("join/" + file),
             2 * kFrames},
            {{"cut", "--from=250", "--to=500", "--", source, path("cut/" + file)},
             path("cut/" + file),
             2000},
            {{"cut", "--from=0", "--to=500", "--fade-in=10", "--", source, path("fade/" + file)},
             path("fade/" + file),
             4000},
        };
        for (const auto& c : cases) {
            const auto r = cli(c.args);
            ASSERT_EQ(r.code, 0) << c.args[0].toStdString() << " " << shown << ": "
                                 << r.err.toStdString();
            if (c.frames > 0)
                EXPECT_EQ(samples16(readFile(c.target)).size(), c.frames) << shown;
            else
                EXPECT_GT(QFileInfo(c.target).size(), 1000) << shown;
        }
        const auto info = cli({QStringLiteral("info"), QStringLiteral("--"), source});
        EXPECT_EQ(info.code, 0) << shown;
        EXPECT_TRUE(info.out.startsWith(QStringLiteral("file: ") + source + QLatin1Char('\n')))
            << info.out.toStdString();
        EXPECT_TRUE(info.out.contains(QStringLiteral("samples: %1\n").arg(kFrames))) << shown;
    }
    // Nothing but the results: no work or scratch file left beside them.
    for (const char* folder : {"conv", "enc", "join", "cut", "fade"})
        EXPECT_EQ(QDir(path(QString::fromUtf8(folder)))
                      .entryList(QDir::Files | QDir::Hidden | QDir::System)
                      .size(),
                  std::size(names))
            << folder;
}

// The recorder's target under names that need quoting, after "--".
TEST_F(CliHostile, RecordsUnderNamesThatNeedQuoting) {
#ifdef Q_OS_WIN
    const QString first = QStringLiteral("-take '1' & 2%.wav");
#else
    const QString first = QStringLiteral("-take \"1\"\n.wav");
#endif
    for (const QString& name : {first, QStringLiteral("--seconds=9 é.mp3")}) {
        const auto r = cli({QStringLiteral("record"), QStringLiteral("--seconds=0.1"),
                            QStringLiteral("--input=1"), QStringLiteral("--"), path(name)});
        ASSERT_EQ(r.code, 0) << name.toStdString() << ": " << r.err.toStdString();
        if (name.endsWith(QLatin1String(".wav")))
            EXPECT_EQ(samples16(readFile(path(name))).size(), 2u * 4410);
        else
            EXPECT_GT(QFileInfo(path(name)).size(), 1000);
    }
}

// Targets refused before anything is read or written: the message names the target and why,
// the exit status is 1, and every file stays as it was.
TEST_F(CliHostile, TargetsThatAreFoldersOrTheSourceItselfAreRefused) {
    ASSERT_TRUE(writeWav16(path("a.wav"), 1, 8000, staircase(800, 1)));
    ASSERT_TRUE(writeWav16(path("b.wav"), 1, 8000, staircase(400, 1, 5000)));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("folder.wav")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sub")));
    const bool links = makesSymbolicLinks();
    if (links) {
        ASSERT_TRUE(symbolicLink(path("a.wav"), path("link.wav")));
        ASSERT_TRUE(symbolicLink(QStringLiteral("a.wav"), path("relative-link.mp3")));
    }
    ASSERT_TRUE(quaverly::hardLink(path("a.wav"), path("hard.wav")));
    const auto before = snapshot(dir.path());

    const QString a = path("a.wav");
    const struct {
        QStringList args;
        QString target;
        const char* why; // after "cannot write TARGET: "
    } cases[] = {
        {{"convert", a, path("folder.wav")}, path("folder.wav"), "it is a folder"},
        {{"join", path("folder.wav"), a}, path("folder.wav"), "it is a folder"},
        {{"cut", a, path("folder.wav"), "--from=0", "--to=50"},
         path("folder.wav"),
         "it is a folder"},
        {{"record", path("folder.wav"), "--seconds=0.1"}, path("folder.wav"), "it is a folder"},
        {{"convert", a, dir.path() + "/./a.wav"},
         dir.path() + "/./a.wav",
         "it is the same file as the input"},
        {{"convert", a, path("sub/../a.wav")},
         path("sub/../a.wav"),
         "it is the same file as the input"},
        {{"convert", a, path("link.wav")}, path("link.wav"), "it is the same file as the input"},
        {{"convert", path("link.wav"), a}, a, "it is the same file as the input"},
        {{"convert", a, path("relative-link.mp3")},
         path("relative-link.mp3"),
         "it is the same file as the input"},
        {{"cut", a, path("hard.wav"), "--from=0", "--to=50"},
         path("hard.wav"),
         "it is the same file as the input"},
        {{"cut", a, a, "--from=0", "--to=50"}, a, "it is the same file as the input"},
        {{"join", path("hard.wav"), path("b.wav"), a},
         path("hard.wav"),
         "it is the same file as the input"},
        {{"join", path("b.wav"), a, path("sub/../b.wav")},
         path("b.wav"),
         "it is the same file as the input"},
    };
    for (const auto& c : cases) {
        if (!links && c.args.join(' ').contains(QLatin1String("link.")))
            continue;
        const auto r = cli(c.args);
        const std::string line = c.args.join(' ').toStdString();
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_TRUE(r.err.contains(
            QStringLiteral("cannot write %1: %2").arg(c.target, QString::fromUtf8(c.why))))
            << line << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << line;
    }
    EXPECT_EQ(snapshot(dir.path()), before);
}

// A target that is a link to another file is written through: the file it points to gets the
// result and the link stays.
TEST_F(CliHostile, ALinkAsTargetIsWrittenThrough) {
    if (!makesSymbolicLinks())
        GTEST_SKIP() << kNoSymbolicLinks;
    ASSERT_TRUE(writeWav16(path("a.wav"), 1, 8000, staircase(800, 1)));
    ASSERT_TRUE(writeFile(path("old.wav"), "earlier"));
    ASSERT_TRUE(symbolicLink(QStringLiteral("old.wav"), path("link.wav")));
    const auto r = cli({QStringLiteral("cut"), path("a.wav"), path("link.wav"),
                        QStringLiteral("--from=0"), QStringLiteral("--to=50")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(path("link.wav")).symLinkTarget(), path("old.wav"));
    EXPECT_EQ(samples16(readFile(path("old.wav"))).size(), 400u);
}

// Failures say what failed in words: the file's name first, then the cause.
TEST_F(CliHostile, FailuresNameTheFileAndTheCause) {
    ASSERT_TRUE(writeFile(path("empty.mp3"), QByteArray()));
    ASSERT_TRUE(
        writeFile(path("words.mp3"), QByteArray("these are words, not sound").repeated(40)));
    ASSERT_TRUE(
        writeFile(path("words.txt"), QByteArray("these are words, not sound").repeated(40)));
    ASSERT_TRUE(writeWav16(path("long.wav"), 2, 44100, staircase(44100, 2)));
    ASSERT_TRUE(writeFile(path("keep.wav"), "earlier"));
    const QString keep = path("keep.wav");
    const struct {
        QStringList args;
        qint64 limit;
        QString says;
    } cases[] = {
        {{"convert", path("empty.mp3"), keep}, 0, path("empty.mp3") + ": empty file"},
        {{"convert", path("words.mp3"), keep},
         0,
         path("words.mp3") + ": holds no audio that Quaverly reads"},
        {{"join", keep, path("long.wav"), path("words.mp3")},
         0,
         path("words.mp3") + ": holds no audio that Quaverly reads"},
        {{"cut", path("words.mp3"), keep, "--from=0", "--to=5"},
         0,
         path("words.mp3") + ": holds no audio that Quaverly reads"},
        {{"convert", path("words.txt"), keep}, 0, path("words.txt") + ": holds no audio"},
        {{"convert", path("words.txt"), path("new.mp3")},
         0,
         path("words.txt") + ": holds no audio"},
        {{"info", path("words.txt")}, 0, path("words.txt") + ": holds no audio"},
        {{"info", path("words.mp3")},
         0,
         path("words.mp3") + ": holds no audio that Quaverly reads"},
        {{"join", keep, path("words.txt")}, 0, path("words.txt") + ": holds no audio"},
        {{"convert", path("long.wav"), keep},
         64 * 1024,
         "cannot write " + keep + ": File too large"},
        {{"join", keep, path("long.wav")}, 64 * 1024, "cannot write " + keep + ": File too large"},
        {{"convert", path("long.wav"), path("new.mp3")},
         16 * 1024,
         "cannot write " + path("new.mp3") + ": File too large"},
        {{"cut", path("long.wav"), keep, "--from=0", "--to=900"},
         64 * 1024,
         "cannot write " + keep + ": File too large"},
        {{"cut", path("long.wav"), keep, "--from=0", "--to=900", "--fade-out=20"},
         64 * 1024,
         "cannot write " + keep + ": File too large"},
    };
    for (const auto& c : cases) {
        if (c.limit > 0 && !kCanLimitFileSize)
            continue; // a full disk stands on a file size limit, which only Linux has
        const auto r = cli(c.args, c.limit);
        const std::string line = c.args.join(' ').toStdString();
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_TRUE(r.err.contains(c.says)) << line << ": " << r.err.toStdString();
    }
    EXPECT_EQ(readFile(keep), QByteArray("earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 5);
}

} // namespace

namespace {

// A folder this user may not write into: every writing command says so and leaves it empty.
// Root writes anywhere, so there the test cannot show it.
TEST_F(CliHostile, AReadOnlyFolderIsNamedAsTheCause) {
    ASSERT_TRUE(writeWav16(path("a.wav"), 1, 8000, staircase(800, 1)));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFile probe(path("locked/probe")); probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        GTEST_SKIP() << "this user writes into read-only folders (root)";
    }
    const QString a = path("a.wav");
    const QStringList rows[] = {
        {"convert", a, path("locked/out.wav")},
        {"convert", a, path("locked/out.mp3")},
        {"join", path("locked/out.wav"), a},
        {"cut", a, path("locked/out.wav"), "--from=0", "--to=50"},
    };
    for (const auto& args : rows) {
        const auto r = cli(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("cannot write ") + path("locked/out.")))
            << r.err.toStdString();
    }
    EXPECT_TRUE(QDir(path("locked")).isEmpty());
    QFile::setPermissions(path("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace
