#include "engines/util/SameFile.h"

#include "support/TestAudio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

TEST(SameFile, OneFileUnderEverySpellingAndNoOther) {
    QTemporaryDir dir;
    const auto at = [&](const char* rel) { return dir.filePath(QString::fromUtf8(rel)); };
    ASSERT_TRUE(writeFile(at("a \"1\".wav"), "a"));
    ASSERT_TRUE(writeFile(at("b.wav"), "a")); // same bytes, another file
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    ASSERT_TRUE(QFile::link(at("a \"1\".wav"), at("sub/link.wav")));
    ASSERT_TRUE(QFile::link(at("gone.wav"), at("dangling.wav")));
    ASSERT_TRUE(hardLink(at("a \"1\".wav"), at("sub/hard.wav")));
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"a \"1\".wav", "a \"1\".wav", true},
        {"a \"1\".wav", "./a \"1\".wav", true},
        {"a \"1\".wav", "sub/../a \"1\".wav", true},
        {"sub/link.wav", "a \"1\".wav", true},
        {"sub/hard.wav", "a \"1\".wav", true},
        {"sub/hard.wav", "sub/link.wav", true},
        {"a \"1\".wav", "b.wav", false},
        {"a \"1\".wav", "missing.wav", false},
        {"dangling.wav", "gone.wav", false},
        {"missing.wav", "missing.wav", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameFile(at(c.a), at(c.b)), c.same) << c.a << " | " << c.b;
        EXPECT_EQ(sameFile(at(c.b), at(c.a)), c.same) << c.b << " | " << c.a;
    }
}

} // namespace
