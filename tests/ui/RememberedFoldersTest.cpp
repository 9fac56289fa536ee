// Where each kind of file dialog opens once a folder was picked for it: a save keeps the name it
// offers, an open takes the folder, other kinds and gone folders stay as asked.
#include "ui/RememberedFolders.h"

#include "support/QtPrinters.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using Kind = Dialogs::FileKind;

TEST(RememberedFolders, ASaveKeepsItsNameAndTakesOnlyTheFolder) {
    QTemporaryDir dir;
    const QString picked = dir.filePath(QStringLiteral("picked"));
    const QString gone = dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(picked) && QDir().mkpath(gone));
    const QString file = dir.filePath(QStringLiteral("folders.ini"));
    {
        RememberedFolders folders(file);
        folders.remember(Kind::Saves, picked + QStringLiteral("/list.mp3"));
        folders.remember(Kind::Recordings, gone + QStringLiteral("/take.wav"));
        folders.remember(Kind::Other, picked + QStringLiteral("/x.wav"));
    }
    ASSERT_TRUE(QDir(gone).removeRecursively());
    const RememberedFolders folders(file); // as the next run reads them
    const struct {
        Kind kind;
        bool save;
        const char* asked; // relative to dir
        QString opens;
    } rows[] = {
        {Kind::Saves, true, "home/clip.m4r", picked + QStringLiteral("/clip.m4r")},
        {Kind::Saves, true, "home", picked},
        {Kind::Saves, true, "", picked},
        {Kind::Saves, false, "", picked},
        {Kind::Recordings, true, "home/take.wav", dir.filePath(QStringLiteral("home/take.wav"))},
        {Kind::Songs, false, "", QString()},
        {Kind::Other, true, "home/x.wav", dir.filePath(QStringLiteral("home/x.wav"))},
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("home"))));
    for (const auto& r : rows) {
        const QString asked = *r.asked ? dir.filePath(QString::fromUtf8(r.asked)) : QString();
        Dialogs::FileRequest request{QStringLiteral("t"), asked, QString(), QString(), r.kind};
        EXPECT_EQ(folders.applied(request, r.save).folder, r.opens) << r.asked;
    }
}
