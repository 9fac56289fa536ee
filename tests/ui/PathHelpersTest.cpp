#include "ui/PathHelpers.h"

#include "support/AppFixture.h"

#include <QFile>

using namespace quaverly;

namespace {

TEST(GetFileName, TakesTheTextAfterTheLastSeparator) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/music/song.mp3", "song.mp3"},
        {"song.mp3", "song.mp3"},
        {"/music/", ""},
        {"/", ""},
        {"", ""},
        {"/a/b.c/d", "d"},
        {"/music/.hidden.wav", ".hidden.wav"},
#ifdef Q_OS_WIN
        {"C:\\Music\\song.mp3", "song.mp3"},
        {"C:/Music/song.mp3", "song.mp3"},
        {"C:\\Music/sub\\x.wav", "x.wav"},
#else
        {"C:\\Music\\song.mp3", "C:\\Music\\song.mp3"}, // "\" is no separator here
        {"/music/a\\b.wav", "a\\b.wav"},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFileName(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
    }
}

TEST(RPP, AddsExactlyOneSeparatorWhenMissing) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/home/user", "/home/user/"},
        {"/home/user/", "/home/user/"},
        {"/", "/"},
        {"relative", "relative/"},
#ifdef Q_OS_WIN
        {"C:\\Program", "C:\\Program\\"},
        {"C:\\", "C:\\"},
        {"C:/Music", "C:/Music/"},
#else
        {"/music\\", "/music\\/"},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RPP(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    }
    EXPECT_FALSE(RPP(QString()).isEmpty()); // no caller passes it; it must not fail
}

class FileExistsTest : public test::AppFixture {};

TEST_F(FileExistsTest, OnlyOrdinaryVisibleFilesCount) {
    const QString dir = path(QStringLiteral("files"));
    writeFile(dir + "/song.wav", "x");
    writeFile(dir + "/.hidden.wav", "x");
    writeFile(dir + "/readonly.mp3", "x");
    QFile::setPermissions(dir + "/readonly.mp3", QFileDevice::ReadOwner);
    writeFile(dir + "/.hiddenfolder/inside.wav", "x");
    writeFile(dir + "/a[1].wav", "x");
    writeFile(dir + "/star*name.txt", "x");
    QDir().mkpath(dir + "/folder.wav");
    QFile::link(dir + "/song.wav", dir + "/link.wav");
    QFile::link(dir + "/gone.wav", dir + "/broken.wav");

    const struct {
        const char* rel;
        bool exists;
    } cases[] = {
        {"song.wav", true},
        {"readonly.mp3", true},
        {".hidden.wav", false},
        {".hiddenfolder/inside.wav", true}, // a hidden folder does not hide its files
        {"folder.wav", false},
        {"missing.wav", false},
        {"nofolder/song.wav", false},
        {"link.wav", true},
        {"broken.wav", false},
        {"SONG.WAV", false}, // names are case-sensitive here
        {"", false},
        // wildcards
        {"*.wav", true},
        {"s?ng.wav", true},
        {"*.mp3", true},
        {"*.ogg", false},
        {"folder*", false}, // matches only the folder
        {".hid*", false},   // matches only hidden entries
        {"a[1].*", true},   // "[" is an ordinary character
        {"a[12].wav", false},
        {"star*name.txt", true},
        {"nofolder/*.wav", false},
    };
    for (const auto& c : cases) {
        const QString p = c.rel[0] ? dir + u'/' + QString::fromUtf8(c.rel) : QString();
        EXPECT_EQ(FileExists(p), c.exists) << c.rel;
    }
    EXPECT_FALSE(FileExists(dir));
    EXPECT_FALSE(FileExists(dir + u'/'));
}

} // namespace
