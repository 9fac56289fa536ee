#pragma once
// Helpers shared by the sound layer tests: the layer started for one test, whole-stream
// decoding with the position and activity checks every caller relies on, files made on the fly.

#include "engines/bass/Bass.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace bass_test {

using namespace quaverly::bass;

inline std::string realFile(const std::string& rel) {
    return std::string(QUAVERLY_TEST_DATA "/real/") + rel;
}

inline QByteArray readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeAll(const std::string& path, const QByteArray& bytes) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path;
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The decoding device for one test, released at the end whatever happens.
class LayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr)); }
    void TearDown() override { BASS_Free(); }

    static HSTREAM open(const std::string& path) {
        return BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    }
};

// Decodes what is left of a stream in blocks of `block` bytes, checking on the way that every
// read gives whole frames, that the position follows the bytes delivered, that the stream is
// active exactly while bytes remain and that the end reports BASS_ERROR_ENDED.
inline std::vector<std::uint8_t> decodeRest(HSTREAM h, DWORD block = 20000) {
    BASS_CHANNELINFO info;
    EXPECT_TRUE(BASS_ChannelGetInfo(h, &info));
    const DWORD frame = info.chans * 2;
    const QWORD length = BASS_ChannelGetLength(h);
    QWORD position = BASS_ChannelGetPosition(h);
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> buffer(block);
    while (BASS_ChannelIsActive(h)) {
        const DWORD got = BASS_ChannelGetData(h, buffer.data(), block);
        if (got == 0xFFFFFFFFu) {
            ADD_FAILURE() << "read failed while active, error " << BASS_ErrorGetCode();
            break;
        }
        EXPECT_EQ(got % frame, 0u);
        EXPECT_LE(got, block);
        if (got == 0) {
            ADD_FAILURE() << "no progress with a block of " << block;
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        position += got;
        EXPECT_EQ(BASS_ChannelGetPosition(h), position);
    }
    EXPECT_EQ(position, length);
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), block), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    return out;
}

inline std::vector<std::int16_t> samplesOf(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::int16_t> s(size / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return s;
}
inline std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& b) {
    return samplesOf(b.data(), b.size());
}
inline std::vector<std::int16_t> samplesOf(const QByteArray& b) {
    return samplesOf(reinterpret_cast<const std::uint8_t*>(b.constData()),
                     static_cast<std::size_t>(b.size()));
}

// Largest difference over the first `count` samples of both.
inline int maxDiff(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                   std::size_t count, std::size_t from = 0) {
    int worst = 0;
    for (std::size_t i = from; i < count; ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

#ifdef Q_OS_UNIX
// Opens and decodes `path` in a child process with a time limit, so that a decoder that never
// ends fails the test instead of hanging the suite.
enum class InChild { Decoded, Refused, TimedOut };
inline InChild decodeInChild(const std::string& path, unsigned seconds = 20) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        BASS_Init(0, 44100, 0, nullptr, nullptr);
        const HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
        const QWORD length = BASS_ChannelGetLength(h);
        _exit(h != 0 && decodeRest(h).size() == length ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || WIFSIGNALED(status))
        return InChild::TimedOut;
    return WEXITSTATUS(status) == 0 ? InChild::Decoded : InChild::Refused;
}
#endif

} // namespace bass_test
