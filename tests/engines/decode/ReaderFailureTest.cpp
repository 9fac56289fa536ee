// What the song reader refuses, and a decode that cannot reach the length announced at the open:
// the source WAV shrinks or becomes unreadable after the first block (the MPEG decoder's shortfall
// takes the same way out). The reader delivers what was decoded, then fails with the file and the
// cause; it never pads the rest with silence. Readers on two threads at once do not meet.

#include "DecodeTestUtil.h"
#include "support/TestPaths.h"

#include "engines/util/ClockText.h"
#include "engines/util/FrameTime.h"
#include "engines/wav/WavHeader.h"
#include "support/ReadFaults.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>

#include <functional>
#include <thread>

using namespace decode_test;
namespace test = quaverly::test;

namespace {

TEST(Refusals, NameTheFileWithTheCauseAndTheCode) {
    const struct {
        QString path;
        int code;
        const char* cause;
    } cases[] = {
        {QStringLiteral("/nonexistent/song.mp3"), sound::kFileOpen, "no such file"},
        {quaverly::test::dataPath(), sound::kFileOpen, "not a regular file"},
#ifdef __linux__
        // A device would never end (or, like a pipe, block the open): only regular files are read.
        {QStringLiteral("/dev/zero"), sound::kFileOpen, "not a regular file"},
#endif
        {realFile("mp3/edge/empty_file.mp3"), sound::kFileForm, "empty file"},
        // Found by fuzzing: an ADTS header whose first frame decodes with no sample rate.
        {quaverly::test::dataPath("/fuzz/adts-no-sample-rate.aac"), sound::kFileForm,
         "its sound states no sample rate or no channels"},
    };
    for (const auto& c : cases) {
        const auto song = SongReader::open(c.path);
        ASSERT_FALSE(song) << c.path.toStdString();
        EXPECT_EQ(song.error(), quaverly::Error(c.path, QString::fromUtf8(c.cause), c.code));
    }
}

struct FaultCase {
    const char* name;
    // Injected after the first block; false when it cannot be done here.
    std::function<bool(const QString& path)> inject;
    const char* cause;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class ReaderFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ReaderFaults, FailWithTheCauseInsteadOfPaddingWithSilence) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath("song.wav");
    const auto stairs = test::staircase(40000, 1); // sample i is i
    writeAll(path, test::wavBytes(quaverly::WavHeader::pcm(1, 8000, 16), stairs.data(), 80000));
    auto song = SongReader::open(path);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    ASSERT_EQ(song->frames(), 40000u);

    constexpr std::size_t kBlock = 10000;
    std::vector<std::int16_t> buffer(kBlock);
    const auto first = song->read(buffer.data(), kBlock);
    ASSERT_TRUE(first && *first == kBlock);
    if (!c.inject(path))
        GTEST_SKIP() << "the fault cannot be injected here";
    std::vector<std::int16_t> rest;
    quaverly::Result<std::size_t> got = std::size_t{0};
    while ((got = song->read(buffer.data(), kBlock))) {
        ASSERT_GT(*got, 0u) << "the whole length was delivered";
        rest.insert(rest.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(*got));
    }
    const quaverly::Error& error = got.error();
    EXPECT_EQ(error.code(), sound::kNotAvail);
    EXPECT_EQ(error.file(), path);
    // Where the sound broke off, in time, of the song's 5 s.
    const auto at =
        quaverly::clockMillis(quaverly::frametime::framesToMs(kBlock + rest.size(), 8000));
    EXPECT_TRUE(
        error.cause().startsWith(QStringLiteral("the sound breaks off at %1 of 0:05: ").arg(at)))
        << error.cause().toStdString();
    EXPECT_TRUE(error.cause().contains(QLatin1String(c.cause))) << error.cause().toStdString();
    EXPECT_EQ(song->position(), kBlock + rest.size());
    // What was delivered is the file's own sound, and the failure stays.
    for (std::size_t i = 0; i < rest.size(); ++i)
        ASSERT_EQ(rest[i], std::int16_t(kBlock + i)) << i;
    EXPECT_EQ(song->read(buffer.data(), kBlock).error(), error);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ReaderFaults,
    ::testing::Values(
        // 15000 of the 40000 frames stay: the second block comes out half full.
        FaultCase{"Shrinks", [](const QString& p) { return test::shrink(p, 44 + 30000); },
                  "the data ends there"},
        FaultCase{"Unreadable", [](const QString& p) { return test::breakReadsOf(p) > 0; },
                  "Is a directory"}),
    [](const auto& p) { return std::string(p.param.name); });

// Found by fuzzing (tests/data/fuzz/): an ADTS stream of 3 channels whose first frame of 1024
// gives more than the 950 frames estimated from its bit rate, and whose next one is damaged. The
// length is never less than what was delivered; then the reader fails with the library's words.
TEST(DamagedStream, TheLengthCoversWhatWasDelivered) {
    const QString path = quaverly::test::dataPath("/fuzz/adts-damaged-past-estimate.aac");
    auto song = SongReader::open(path);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    std::vector<std::int16_t> buffer(8192 * 2);
    const auto got = song->read(buffer.data(), 8192);
    ASSERT_TRUE(got) << got.error().text().toStdString();
    EXPECT_EQ(*got, 1024u);
    EXPECT_EQ(song->position(), 1024u);
    EXPECT_EQ(song->frames(), 1024u);
    const auto next = song->read(buffer.data(), 8192);
    ASSERT_FALSE(next);
    EXPECT_EQ(next.error().file(), path);
    EXPECT_EQ(next.error().code(), sound::kNotAvail);
}

// Readers on two threads at once decode the same samples as one after the other.
TEST(Readers, DecodeSideBySide) {
    const QString path = realFile("mp3/iso/l3-compl.bit");
    auto first = SongReader::open(path);
    ASSERT_TRUE(first);
    const auto alone = decodeRest(*first);
    std::vector<std::int16_t> results[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&, t] {
            auto song = SongReader::open(path);
            if (song)
                results[t] = decodeRest(*song);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(results[0], alone);
    EXPECT_EQ(results[1], alone);
}

} // namespace
