#include "editor/ClipDone.h"
#include "editor/CutHistory.h"
#include "engines/util/SameFile.h"
#include "support/FileSizeLimit.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

using namespace quaverly;
using namespace quaverly::test;

namespace {

// A file's inode (Windows: its file index) and how many names it has; zeros when it cannot be
// read.
struct Node {
    unsigned long long inode = 0;
    unsigned long long links = 0;
};
Node nodeOf(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return {st.st_ino, st.st_nlink};
#elif defined(Q_OS_WIN)
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (read)
        return {(static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                info.nNumberOfLinks};
#endif
    (void)path;
    return {};
}

class ClipDone : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString song = dir.filePath(QStringLiteral("song.wav"));

    // 10 s of mono 8 kHz whose frame i holds i (wrapping past 32767).
    void SetUp() override { ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1))); }
    // The folder's files, and those of the hidden folder that holds the kept copies.
    QStringList files() const {
        QStringList all = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QString& f : QDir(dir.filePath(QStringLiteral(".before-cut")))
                                    .entryList(QDir::Files | QDir::Hidden, QDir::Name))
            all << QStringLiteral(".before-cut/") + f;
        return all;
    }
    DoneOutcome done(qint64 from, qint64 to, const ClipEffects& effects, CutHistory* history,
                     const WorkProgress& progress = {}) {
        return cutClipWithEffects(song, song, from, to, effects, history, progress);
    }
    static std::string why(const DoneOutcome& r) {
        return r ? std::string() : failureText(r.error()).toStdString();
    }
    static ::testing::AssertionResult ok(const Status& s) {
        if (s)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << s.error().text().toStdString();
    }
};

TEST_F(ClipDone, WithoutEffectsItIsThePlainCutByteForByte) {
    const QString plain = dir.filePath(QStringLiteral("plain.wav"));
    ASSERT_TRUE(writeFile(plain, readFile(song)));
    ASSERT_TRUE(cutClip(plain, plain, 2000, 5000));

    for (const bool withHistory : {false, true}) {
        ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1)));
        CutHistory history;
        const auto r = done(2000, 5000, {}, withHistory ? &history : nullptr);
        ASSERT_TRUE(r) << why(r);
        EXPECT_EQ(readFile(song), readFile(plain)) << withHistory;
        EXPECT_EQ(r->effects.level, EffectsOutcome::Level::NotAsked);
    }
}

TEST_F(ClipDone, UndoPutsTheSongBackByteForByte) {
    const QByteArray original = readFile(song);
    std::optional<CutHistory> history(std::in_place);
    ClipEffects effects;
    effects.fadeInMs = 100;
    effects.fadeOutMs = 100;
    effects.normalise = ClipEffects::Normalise::Peak;
    auto r = done(2000, 5000, effects, &*history);
    ASSERT_TRUE(r) << why(r);
    EXPECT_TRUE(r->undoable);
    const auto clip = samples16(readFile(song));
    ASSERT_EQ(clip.size(), 24000u);
    EXPECT_EQ(clip.front(), 0); // faded in from silence
    EXPECT_EQ(clip.back(), 0);
    const auto loudest = std::minmax_element(clip.begin(), clip.end());
    EXPECT_EQ(std::max(-*loudest.first, int(*loudest.second)), 29204); // -1 dBFS
    EXPECT_EQ(files().size(), 2); // the song and its kept copy: no scratch file

    ASSERT_TRUE(ok(history->undo(song)));
    EXPECT_EQ(readFile(song), original);
    EXPECT_FALSE(history->canUndo(song));
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")});

    // Only the last cut is kept: undo goes back to the clip of the first.
    ASSERT_TRUE(done(2000, 5000, {}, &*history));
    const QByteArray first = readFile(song);
    ASSERT_TRUE(done(1000, 2000, effects, &*history));
    EXPECT_EQ(files().size(), 2);
    ASSERT_TRUE(ok(history->undo(song)));
    EXPECT_EQ(readFile(song), first);
    EXPECT_FALSE(history->undo(song));

    // What is kept goes with its song, and with the history.
    ASSERT_TRUE(ok(history->keep(song)));
    history->forget(song);
    EXPECT_FALSE(history->canUndo(song));
    ASSERT_TRUE(ok(history->keep(song)));
    EXPECT_EQ(files().size(), 2);
    history.reset();
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")});
}

// Keeping the song costs nothing with a hard link: the kept name is the working copy's data, which
// a cut leaves to it by renaming the clip over the working copy. Without links, a copy does.
TEST_F(ClipDone, TheSongIsKeptByALinkElseByACopyWithItsPermissions) {
    ASSERT_TRUE(QFile::setPermissions(song, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup));
    const QFileDevice::Permissions mode = QFile::permissions(song);
    const QByteArray original = readFile(song);
    for (const auto keeping : {CutHistory::Keeping::ByLink, CutHistory::Keeping::ByCopy}) {
        const bool link = keeping == CutHistory::Keeping::ByLink;
        CutHistory history(keeping);
        auto pending = history.prepare(song);
        ASSERT_TRUE(pending) << pending.error().text().toStdString();
        const QStringList kept =
            QDir(dir.filePath(QStringLiteral(".before-cut"))).entryList(QDir::Files | QDir::Hidden);
        ASSERT_EQ(kept.size(), 1);
        const QString keptFile = dir.filePath(QStringLiteral(".before-cut/") + kept.first());
        EXPECT_EQ(sameFile(keptFile, song), link);
        EXPECT_EQ(nodeOf(song).links, link ? 2u : 1u);
        EXPECT_EQ(readFile(keptFile), original) << link;
        EXPECT_EQ(QFile::permissions(keptFile), QFile::permissions(song)) << link;
        pending->commit();

        const auto r = done(2000, 5000, {}, nullptr);
        ASSERT_TRUE(r) << why(r);
        ASSERT_TRUE(ok(history.undo(song)));
        EXPECT_EQ(readFile(song), original) << link;
        EXPECT_EQ(QFile::permissions(song), mode) << link;
    }
}

// Done keeps the song by a second name for its data: the kept file is the working copy's own
// inode, which the cut leaves alone by writing the clip as a new file. A later cut that keeps
// nothing does not change it either, and Undo puts it back.
TEST_F(ClipDone, TheKeptSongIsTheWorkingCopysOwnDataAndLaterCutsLeaveItAlone) {
    const QByteArray original = readFile(song);
    const Node workingCopy = nodeOf(song);
    CutHistory history;
    auto r = done(2000, 8000, {}, &history);
    ASSERT_TRUE(r) << why(r);
    const QStringList kept = files().filter(QStringLiteral(".before-cut/"));
    ASSERT_EQ(kept.size(), 1);
    const QString keptFile = dir.filePath(kept.first());
    if (workingCopy.inode == 0 || nodeOf(keptFile).inode != workingCopy.inode)
        GTEST_SKIP() << "this file system keeps the song by a copy";
    EXPECT_NE(nodeOf(song).inode, workingCopy.inode);
    EXPECT_EQ(nodeOf(keptFile).links, 1u);

    ClipEffects faded;
    faded.fadeInMs = 100;
    r = done(1000, 3000, faded, nullptr);
    ASSERT_TRUE(r) << why(r);
    EXPECT_TRUE(readFile(keptFile) == original);
    ASSERT_TRUE(ok(history.undo(song)));
    EXPECT_TRUE(readFile(song) == original);
}

// Each Done fails at one step, after an earlier cut was kept: the song, what undo restores and
// the folder stay as they were.
TEST_F(ClipDone, AFailingStepLeavesTheSongAndItsUndoAsTheyWere) {
    ClipEffects quieter;
    quieter.normalise = ClipEffects::Normalise::Peak;
    quieter.peakDbfs = -100; // below one step of a 16-bit sample
    ClipEffects faded;
    faded.fadeInMs = 10;
    const ClipEffects none;
    ClipEffects fadedPeak = faded;
    fadedPeak.normalise = ClipEffects::Normalise::Peak;
    const struct {
        const char* name;
        qint64 markOut;
        ClipEffects effects;
        bool damaged; // the song's format chunk is broken
        qint64 fileSizeLimit;
        CutHistory::Keeping keeping;
        const char* says;
        int stopAt = 0; // the progress (thousandths) at which a stop is requested; 0: none
    } cases[] = {
        {"tail past the end", 12000, faded, false, 0, CutHistory::Keeping::ByLink, "tail"},
        {"effects", 2000, quieter, false, 0, CutHistory::Keeping::ByLink, "smallest step"},
        {"damaged song", 2000, faded, true, 0, CutHistory::Keeping::ByLink, "opening"},
        {"no room for the kept copy", 2000, faded, false, 100000, CutHistory::Keeping::ByCopy,
         "File too large"},
        {"no room for the clip", 2000, faded, false, 10000, CutHistory::Keeping::ByLink,
         "File too large"},
        // The cut is a third of a Done that normalises, the measuring and the writing the rest.
        {"stopped before the clip is in place", 2000, none, false, 0, CutHistory::Keeping::ByLink,
         "cancelled", 1000},
        {"stopped while measuring", 2000, fadedPeak, false, 0, CutHistory::Keeping::ByCopy,
         "cancelled", 400},
        {"stopped while writing", 2000, fadedPeak, false, 0, CutHistory::Keeping::ByLink,
         "cancelled", 1000},
    };
    for (const auto& c : cases) {
        if (c.fileSizeLimit > 0 && !kCanLimitFileSize)
            continue;
        ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1, 5)));
        const QByteArray kept = readFile(song);
        CutHistory history(c.keeping);
        ASSERT_TRUE(ok(history.keep(song)));
        // A new working copy, as the program makes every one: a new file in its place.
        ASSERT_TRUE(QFile::remove(song));
        ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1)));
        QByteArray before = readFile(song);
        if (c.damaged) {
            before[20] = 9; // an unknown format
            ASSERT_TRUE(writeFile(song, before));
        }
        const QStringList folder = files();

        std::stop_source stop;
        const WorkProgress progress{stop.get_token(), [&](std::uint64_t at, std::uint64_t total) {
                                        if (c.stopAt > 0 && at * 1000 / total >= unsigned(c.stopAt))
                                            stop.request_stop();
                                    }};
        auto work = [&] {
            const auto r = done(1000, c.markOut, c.effects, &history, progress);
            return r ? QStringLiteral("not failed") : failureText(r.error());
        };
        const QString failure =
            c.fileSizeLimit > 0
                ? withFileSizeLimit(c.fileSizeLimit, work).value_or(QStringLiteral("-"))
                : work();
        EXPECT_TRUE(failure.contains(QLatin1String(c.says)))
            << c.name << ": " << failure.toStdString();
        EXPECT_EQ(readFile(song), before) << c.name;
        EXPECT_EQ(files(), folder) << c.name;
        ASSERT_TRUE(ok(history.undo(song)));
        EXPECT_EQ(readFile(song), kept) << c.name;
    }
}

} // namespace
