#include "engines/util/SameFile.h"

#include "support/SymbolicLinks.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// A name that needs quoting: Windows forbids '"' in names, so there it quotes otherwise.
#ifdef Q_OS_WIN
const QString kOne = QStringLiteral("a '1' & é.wav");
#else
const QString kOne = QStringLiteral("a \"1\".wav");
#endif

TEST(SameFile, OneFileUnderEverySpellingAndNoOther) {
    QTemporaryDir dir;
    const auto at = [&](const QString& rel) { return dir.filePath(rel); };
    ASSERT_TRUE(writeFile(at(kOne), "a"));
    ASSERT_TRUE(writeFile(at("b.wav"), "a")); // same bytes, another file
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const bool links = makesSymbolicLinks();
    if (links) {
        ASSERT_TRUE(symbolicLink(at(kOne), at("sub/link.wav")));
        ASSERT_TRUE(symbolicLink(at("gone.wav"), at("dangling.wav")));
    }
    ASSERT_TRUE(hardLink(at(kOne), at("sub/hard.wav")));
    const struct {
        QString a;
        QString b;
        bool same;
        bool link = false; // stands on a symbolic link
    } cases[] = {
        {kOne, kOne, true},
        {kOne, "./" + kOne, true},
        {kOne, "sub/../" + kOne, true},
        {"sub/link.wav", kOne, true, true},
        {"sub/hard.wav", kOne, true},
        {"sub/hard.wav", "sub/link.wav", true, true},
        {kOne, "b.wav", false},
        {kOne, "missing.wav", false},
        {"dangling.wav", "gone.wav", false, true},
        {"missing.wav", "missing.wav", false},
    };
    for (const auto& c : cases) {
        if (c.link && !links)
            continue;
        const std::string shown = (c.a + " | " + c.b).toStdString();
        EXPECT_EQ(sameFile(at(c.a), at(c.b)), c.same) << shown;
        EXPECT_EQ(sameFile(at(c.b), at(c.a)), c.same) << shown;
    }
}

} // namespace
