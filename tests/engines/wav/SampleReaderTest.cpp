#include "engines/wav/SampleReader.h"

#include "support/ReadFaults.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

using namespace quaverly;
using namespace quaverly::test;

namespace {

constexpr std::size_t kFrames = 2503; // read in blocks of 1000: the last one is short
constexpr std::size_t kBlock = 1000;

// A file built in code: every sample of it is known, as stored and as read.
struct Song {
    const char* name;
    WavHeader format;
    bool plain;                                      // read straight from the file
    std::function<std::int32_t(std::size_t)> stored; // sample i (interleaved) as stored
    std::function<std::optional<std::int16_t>(std::int32_t)> shortOf; // nullopt: not asked
    std::function<float(std::int32_t)> floatOf;

    QByteArray bytes() const {
        QByteArray data;
        const int width = format.bitsPerSample / 8;
        for (std::size_t i = 0; i < kFrames * format.channels; ++i) {
            std::int32_t v = stored(i);
            if (format.formatTag == 3) {
                const float f = floatOf(v);
                std::memcpy(&v, &f, 4);
            }
            for (int b = 0; b < width; ++b)
                data.append(char(v >> (8 * b)));
        }
        return wavBytes(format, data.constData(), std::size_t(data.size()));
    }
};

WavHeader floats(std::uint16_t channels) {
    WavHeader h = WavHeader::pcm(channels, 8000, 32);
    h.formatTag = 3;
    return h;
}

// Staircases, so that a frame or a byte out of place shows.
const Song kSongs[] = {
    {"16-bit mono", WavHeader::pcm(1, 8000, 16), true,
     [](std::size_t i) { return std::int16_t(-20000 + 13 * int(i)); },
     [](std::int32_t v) { return std::int16_t(v); }, [](std::int32_t v) { return v / 32768.0f; }},
    {"16-bit stereo", WavHeader::pcm(2, 44100, 16), true,
     [](std::size_t i) { return std::int16_t(int(i / 2) * 7 + int(i % 2) * 1000 - 32768); },
     [](std::int32_t v) { return std::int16_t(v); }, [](std::int32_t v) { return v / 32768.0f; }},
    {"8-bit mono", WavHeader::pcm(1, 8000, 8), true, [](std::size_t i) { return int(i % 256); },
     [](std::int32_t u) { return std::int16_t((u - 128) * 256); },
     [](std::int32_t u) { return (u - 128) / 128.0f; }},
    {"8-bit stereo", WavHeader::pcm(2, 22050, 8), true,
     [](std::size_t i) { return int((i / 2 * 3 + i % 2 * 50) % 256); },
     [](std::int32_t u) { return std::int16_t((u - 128) * 256); },
     [](std::int32_t u) { return (u - 128) / 128.0f; }},
    // Through libsndfile: 16-bit samples keep the high bits.
    {"24-bit stereo", WavHeader::pcm(2, 8000, 24), false,
     [](std::size_t i) { return int(i) * 3001 - 8000000 + int(i % 2) * 77; },
     [](std::int32_t v) { return std::int16_t(v >> 8); },
     [](std::int32_t v) { return v / 8388608.0f; }},
    {"float mono", floats(1), false, [](std::size_t i) { return int(i) - 1000; },
     [](std::int32_t) { return std::nullopt; }, [](std::int32_t v) { return v / 1024.0f; }},
};

class SampleReaderTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("song.wav"));
};

TEST_F(SampleReaderTest, ReadsEverySampleExactlyInBlocks) {
    for (const Song& song : kSongs) {
        SCOPED_TRACE(song.name);
        const QByteArray file = song.bytes();
        ASSERT_TRUE(writeFile(path, file));
        auto reader = SampleReader::open(path);
        ASSERT_TRUE(reader) << reader.error().text().toStdString();
        // The file may go while it is read: Windows refuses that unless its reader allows it.
        ASSERT_TRUE(QFile::remove(path));
        EXPECT_EQ(reader->plain(), song.plain);
        ASSERT_EQ(reader->channels(), song.format.channels);
        EXPECT_EQ(reader->sampleRate(), song.format.sampleRate);
        ASSERT_EQ(reader->frames(), std::int64_t(kFrames));
        const std::size_t ch = song.format.channels;
        std::vector<std::int16_t> shorts(kBlock * ch);
        std::vector<float> floats(kBlock * ch);
        for (std::size_t at = 0; at <= kFrames; at += kBlock) {
            const std::size_t due = std::min(kBlock, kFrames - at);
            ASSERT_TRUE(reader->seek(std::int64_t(at)));
            const auto a = reader->readShorts(shorts.data(), kBlock);
            ASSERT_TRUE(reader->seek(std::int64_t(at)));
            const auto b = reader->readFloats(floats.data(), kBlock);
            ASSERT_TRUE(a && b);
            ASSERT_EQ(*a, due);
            ASSERT_EQ(*b, due);
            for (std::size_t i = 0; i < due * ch; ++i) {
                const std::int32_t v = song.stored(at * ch + i);
                if (const auto s = song.shortOf(v)) {
                    ASSERT_EQ(shorts[i], *s) << "sample " << at * ch + i;
                }
                ASSERT_EQ(floats[i], song.floatOf(v)) << "sample " << at * ch + i;
            }
        }
        EXPECT_EQ(reader->position(), std::int64_t(kFrames));
        const auto end = reader->readShorts(shorts.data(), kBlock);
        ASSERT_TRUE(end);
        EXPECT_EQ(*end, 0u);
        if (song.plain) { // the bytes as they are in the file
            const std::size_t frameBytes = reader->layout().blockAlign;
            std::vector<char> raw(kFrames * frameBytes);
            ASSERT_TRUE(reader->seek(1));
            const auto got = reader->readRaw(raw.data(), kFrames);
            ASSERT_TRUE(got);
            ASSERT_EQ(*got, kFrames - 1);
            EXPECT_EQ(QByteArray(raw.data(), qsizetype(*got * frameBytes)),
                      file.mid(44 + qsizetype(frameBytes)));
        }
    }
}

TEST_F(SampleReaderTest, AHeaderThatClaimsTooMuchCountsTheWholeFramesThere) {
    QByteArray file = kSongs[1].bytes();
    file.chop(4 * 3 + 1); // three frames and a byte of a fourth are gone
    ASSERT_TRUE(writeFile(path, file));
    auto reader = SampleReader::open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->frames(), std::int64_t(kFrames - 4));
    std::vector<std::int16_t> s(2 * kFrames);
    const auto got = reader->readShorts(s.data(), kFrames);
    ASSERT_TRUE(got);
    ASSERT_EQ(*got, kFrames - 4);
    EXPECT_EQ(s[2 * (kFrames - 5) + 1], kSongs[1].stored(2 * (kFrames - 5) + 1));
}

// A file that shrinks, or whose reads fail, while it is read: the read fails, naming the file
// and the cause, whichever way the file is read.
TEST_F(SampleReaderTest, AFileThatEndsBeforeItsSoundFailsTheRead) {
    struct Fault {
        const char* name;
        std::function<bool(const QString&)> inject;
        const char* cause;
        int code;
    };
    std::vector<Fault> faults{{"shrinks", [](const QString& p) { return shrink(p, 44 + 400 * 6); },
                               "ends after", sound::kNotAvail}};
    if (kCanBreakReads)
        faults.push_back({"unreadable", [](const QString& p) { return breakReadsOf(p) > 0; },
                          "Is a directory", sound::kFileOpen});
    for (const Song& song : {kSongs[1], kSongs[4]}) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(::testing::Message() << song.name << ", " << fault.name);
            ASSERT_TRUE(writeFile(path, song.bytes()));
            auto reader = SampleReader::open(path);
            ASSERT_TRUE(reader);
            std::vector<float> f(kBlock * 2);
            ASSERT_TRUE(reader->readFloats(f.data(), 100));
            ASSERT_TRUE(fault.inject(path));
            const auto got = reader->readFloats(f.data(), kBlock);
            ASSERT_FALSE(got);
            EXPECT_EQ(got.error().file(), path);
            EXPECT_TRUE(got.error().cause().contains(QLatin1String(fault.cause)))
                << got.error().cause().toStdString();
            EXPECT_EQ(got.error().code(), fault.code);
        }
    }
}

TEST_F(SampleReaderTest, RefusesWhatItCannotReadWithTheCause) {
    const struct {
        const char* name;
        QByteArray bytes; // null: no file
        bool plainOnly;
        int code;
        const char* cause;
    } cases[] = {
        {"missing", QByteArray(), false, sound::kFileOpen, "does not exist"},
        {"text", QByteArray("words, not sound, in a file of some length"), false, sound::kFileForm,
         "not a readable WAV file"},
        {"24-bit for a cut", kSongs[4].bytes(), true, sound::kFormat,
         "not an 8 or 16-bit PCM WAV file"},
        {"text for a cut", QByteArray("words, not sound"), true, sound::kFileForm,
         "not a WAV file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QString::fromLatin1(c.name));
        if (!c.bytes.isNull()) {
            ASSERT_TRUE(writeFile(file, c.bytes));
        }
        const auto r = c.plainOnly ? SampleReader::openPlain(file) : SampleReader::open(file);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().file(), file);
        EXPECT_EQ(r.error().code(), c.code);
        EXPECT_TRUE(r.error().cause().contains(QLatin1String(c.cause)))
            << r.error().cause().toStdString();
    }
}

} // namespace
