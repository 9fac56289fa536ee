#pragma once
// Helpers shared by the song reader's tests: the real files of the test data, whole-song decoding
// with the checks every caller relies on, files made on the fly.

#include "engines/decode/SongReader.h"
#include "support/Peers.h"
#include "support/QtPrinters.h"
#include "support/TestPaths.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quaverly {
inline void PrintTo(const Error& e, std::ostream* os) {
    *os << e.text().toStdString() << " (code " << e.code() << ")";
}
} // namespace quaverly

namespace decode_test {

using quaverly::SongFormat;
using quaverly::SongKind;
using quaverly::SongReader;
namespace sound = quaverly::sound;

inline QString realFile(const char* rel) {
    return quaverly::test::dataPath("/real/") + QString::fromUtf8(rel);
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Decodes what is left of a song in blocks of `block` frames, checking on the way that no read
// gives more than asked, that the position follows the frames delivered, that the end comes at
// the length announced, and that a read there gives nothing.
inline std::vector<std::int16_t> decodeRest(SongReader& song, std::size_t block = 5000) {
    const auto channels = static_cast<std::size_t>(song.format().channels);
    std::uint64_t position = song.position();
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> buffer(block * channels);
    for (;;) {
        const auto got = song.read(buffer.data(), block);
        if (!got) {
            ADD_FAILURE() << "read failed: " << got.error().text().toStdString();
            break;
        }
        if (*got == 0)
            break;
        EXPECT_LE(*got, block);
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(*got * channels));
        position += *got;
        EXPECT_EQ(song.position(), position);
    }
    EXPECT_EQ(position, song.frames());
    const auto after = song.read(buffer.data(), block);
    EXPECT_TRUE(after && *after == 0);
    return out;
}

// Runs the tool `command` names (program first) with a deadline; what it wrote to standard
// output, or nothing (with a failure added) when it failed or ran past the deadline.
inline std::optional<QByteArray> run(const QStringList& command) {
    auto r = quaverly::test::runPeer(command.first(), command.mid(1));
    if (!r.ok()) {
        ADD_FAILURE() << command.join(' ').toStdString() << ": " << r.failure().toStdString();
        return std::nullopt;
    }
    return std::move(r.out);
}

// Little-endian 16-bit samples, as reference PCM files hold them.
inline std::vector<std::int16_t> samplesOf(const QByteArray& b) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(b.size()) / 2);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(b.constData());
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return s;
}

// Largest difference over the samples from `from` to `count` of both.
inline int maxDiff(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                   std::size_t count, std::size_t from = 0) {
    int worst = 0;
    for (std::size_t i = from; i < count; ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

// How far a lossy decode here may be from the reference tool's, which runs on Linux: not at
// all there; one step on Windows, where the floating-point decoders (libvorbis, FFmpeg's WMA)
// make their tables with another C library's sin and cos, which moves a rare sample.
#ifdef Q_OS_WIN
inline constexpr int kLossySlack = 1;
#else
inline constexpr int kLossySlack = 0;
#endif

// Where two decodes first differ by more than `slack` (the shorter's end when one is a start of
// the other), or -1: a failure names one sample, not thousands.
inline std::ptrdiff_t firstDifference(const std::vector<std::int16_t>& a,
                                      const std::vector<std::int16_t>& b, int slack = 0) {
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                  [slack](int x, int y) { return std::abs(x - y) <= slack; });
    return at.first == a.end() && at.second == b.end() ? -1 : at.first - a.begin();
}

#ifdef Q_OS_UNIX
// Opens and decodes `path` in a child process with a time limit, so that a decoder that never
// ends fails the test instead of hanging the suite.
enum class InChild { Decoded, Refused, TimedOut };
inline InChild decodeInChild(const QString& path, unsigned seconds = 20) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        auto song = SongReader::open(path);
        if (!song)
            _exit(1);
        std::vector<std::int16_t> buffer(4096 * 2);
        std::uint64_t frames = 0;
        for (;;) {
            const auto got = song->read(buffer.data(), 4096);
            if (!got || *got == 0)
                _exit(got && frames == song->frames() ? 0 : 1);
            frames += *got;
        }
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || WIFSIGNALED(status))
        return InChild::TimedOut;
    return WEXITSTATUS(status) == 0 ? InChild::Decoded : InChild::Refused;
}
#endif

} // namespace decode_test
