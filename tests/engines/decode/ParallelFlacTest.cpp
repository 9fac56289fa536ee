// FLAC decoded on several threads gives the one pass's samples, bit for bit, from the start and
// after a seek, and a file cut short fails at the same place on every thread count instead of
// hanging. The FLAC files are made at run time by `flac` from a staircase, which compresses poorly
// and so makes many frames.

#include "DecodeTestUtil.h"
#include "engines/util/CodecThreads.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>

namespace {

using namespace decode_test;

class ParallelFlac : public ::testing::Test {
protected:
    void SetUp() override {
        if (!quaverly::test::havePeer("flac"))
            GTEST_SKIP() << "flac is missing";
        source_ = quaverly::test::staircase(100000, 2);
        const QString wav = dir_.filePath("ramp.wav");
        ASSERT_TRUE(quaverly::test::writeWav16(wav, 2, 44100, source_));
        flac_ = dir_.filePath("ramp.flac");
        // A plain fork: the thread sanitizer loses track of locking once QProcess has started a
        // child.
        quaverly::test::PeerOptions plain;
        plain.plainFork = true;
        const auto made = quaverly::test::runPeer("flac", {"-s", "-f", wav, "-o", flac_}, plain);
        ASSERT_TRUE(made.ok()) << made.failure().toStdString();
        SongReader::setFlacChunkFramesForTesting(4096); // 25 chunks
    }
    void TearDown() override {
        SongReader::setFlacChunkFramesForTesting(0);
        quaverly::setCodecThreadsForTesting(0);
    }

    QTemporaryDir dir_;
    std::vector<std::int16_t> source_;
    QString flac_;
};

TEST_F(ParallelFlac, GivesTheSourceOnEveryThreadCount) {
    for (int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        quaverly::setCodecThreadsForTesting(threads);
        const std::uint64_t before = SongReader::flacChunksDecoded();
        auto song = SongReader::open(flac_);
        ASSERT_TRUE(song);
        EXPECT_EQ(decodeRest(*song, 3000), source_);
        EXPECT_EQ(SongReader::flacChunksDecoded() > before, threads > 1);
        // A seek leaves the threads; the one reader goes on from there.
        ASSERT_TRUE(song->seek(54321));
        EXPECT_TRUE(
            std::equal(source_.begin() + 2 * 54321, source_.end(), decodeRest(*song).begin()));
    }
}

TEST_F(ParallelFlac, AFileCutShortFailsAtTheSamePlaceOnEveryThreadCount) {
    const QByteArray whole = readAll(flac_);
    const QString cut = dir_.filePath("cut.flac");
    writeAll(cut, whole.left(whole.size() / 2));
    std::vector<std::uint64_t> reached;
    std::vector<QString> said;
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        quaverly::setCodecThreadsForTesting(threads);
        auto song = SongReader::open(cut);
        ASSERT_TRUE(song);
        std::vector<std::int16_t> buffer(2 * 4096);
        std::uint64_t frames = 0;
        quaverly::Result<std::size_t> got = std::size_t{0};
        while ((got = song->read(buffer.data(), 4096)) && *got > 0)
            frames += *got;
        ASSERT_FALSE(got);
        EXPECT_LT(frames, 100000u);
        reached.push_back(frames);
        said.push_back(got.error().cause().section(QStringLiteral(": "), 0, 0));
    }
    // The frames before the break are all given, so the words say the same place (the
    // library's own words may differ after a seek).
    EXPECT_EQ(reached[0], reached[1]);
    EXPECT_EQ(said[0], said[1]);
}

} // namespace
