// Lossy songs start where the listener heard them start: the encoder delay and padding the file
// declares are removed, and the length is the source's. Files made at run time from a one-second
// 44.1 kHz sine by ffmpeg, opusenc and oggenc; the samples are those of the decoder's own
// library (FFmpeg for AAC and Opus, libvorbis' oggdec for Vorbis).

#include "DecodeTestUtil.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>

#include <cmath>
#include <numbers>

namespace {

using namespace decode_test;
using quaverly::test::havePeer;

struct GaplessCase {
    const char* name;
    QStringList make; // the tool and its arguments; IN and OUT stand for the paths
    std::uint32_t rate;
    std::uint64_t frames; // the source's length at the decoded rate
    std::uint64_t delay;  // what the file declares
    std::uint64_t padding;
    bool byOggdec = false; // the reference decode: oggdec rather than ffmpeg
};

TEST(Gapless, DelayAndPaddingAreRemovedAsTheFileDeclares) {
    QTemporaryDir dir;
    const QString wav = dir.filePath("sine.wav");
    std::vector<std::int16_t> sine(44100 * 2);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] =
            std::int16_t(12000 * std::sin(double(i / 2) * 2 * std::numbers::pi * 440 / 44100));
    ASSERT_TRUE(quaverly::test::writeWav16(wav, 2, 44100, sine));
    const QString smpb = QStringLiteral(" 00000000 00000400 000002BC 000000000000AC44");
    const GaplessCase cases[] = {
        // ffmpeg's MP4 muxer writes an edit list that skips the AAC priming; the track's
        // duration leaves out the last frame's padding.
        {"m4a-edit-list",
         {"ffmpeg", "-v", "error", "-i", "IN", "-c:a", "aac", "OUT.m4a"},
         44100,
         44100,
         1024,
         956},
        // No edit list, only the iTunes field: 1024 frames of delay, 700 of padding.
        {"m4a-itunsmpb",
         {"ffmpeg", "-v", "error", "-i", "IN", "-c:a", "aac", "-use_editlist", "0", "-movflags",
          "use_metadata_tags", "-metadata", "iTunSMPB=" + smpb, "OUT.m4a"},
         44100,
         44100,
         1024,
         700},
        // Pre-skip at the start, the last page's granule position at the end.
        {"opus", {"opusenc", "--quiet", "IN", "OUT.opus"}, 48000, 48000, 312, 648},
        // Granule positions; FFmpeg 5.1 would drop the last 128 frames.
        {"vorbis", {"oggenc", "-Q", "IN", "-o", "OUT.ogg"}, 44100, 44100, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString out;
        QStringList args = c.make.mid(1);
        for (QString& a : args) {
            if (a == "IN")
                a = wav;
            else if (a.startsWith("OUT"))
                a = out = dir.filePath(c.name + a.mid(3));
        }
        if (!havePeer(c.make[0]) || !havePeer(c.byOggdec ? "oggdec" : "ffmpeg")) {
            std::printf("[  SKIPPED ] %s: a tool is missing\n", c.name);
            continue;
        }
        ASSERT_TRUE(run(QStringList{c.make[0]} + args));
        auto song = SongReader::open(out);
        ASSERT_TRUE(song) << song.error().text().toStdString();
        EXPECT_EQ(song->format().rate, c.rate);
        EXPECT_EQ(song->format().delay, c.delay);
        const auto ours = decodeRest(*song);
        EXPECT_EQ(song->frames(), c.frames);
        EXPECT_EQ(song->format().padding, c.padding);
        // The library's own decode: FFmpeg applies the edit list and Opus pre-skip itself; the
        // iTunes delay is skipped here.
        const auto reference = c.byOggdec
                                   ? run({"oggdec", "-Q", "-R", "-o", "-", out})
                                   : run({"ffmpeg", "-v", "error", "-i", out, "-f", "s16le", "-"});
        ASSERT_TRUE(reference);
        const auto theirs = samplesOf(*reference);
        const std::size_t skip = QString(c.name) == "m4a-itunsmpb" ? c.delay * 2 : 0;
        ASSERT_GE(theirs.size(), skip + ours.size());
        const std::vector<std::int16_t> heard(theirs.begin() + std::ptrdiff_t(skip),
                                              theirs.begin() + std::ptrdiff_t(skip + ours.size()));
        EXPECT_EQ(firstDifference(ours, heard, kLossySlack), -1);
    }
}

} // namespace
