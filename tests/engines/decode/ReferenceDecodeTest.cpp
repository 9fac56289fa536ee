// Our MP3 decoding against mpg123's: every MPEG audio file of the test data, and files made here
// with lame and ffmpeg in odd ways, must give through the song reader exactly the samples that
// `mpg123 -w` writes: the same count and the same values, gapless trimming included. A file whose
// frames switch between mono and stereo, which mpg123 writes in parts, must come out stereo
// throughout, equal to `mpg123 --stereo -w`, and `quaverly-cli info` must say so.

#include "DecodeTestUtil.h"
#include "MadeMp3.h"
#include "support/TestPaths.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sstream>

using namespace decode_test;
using namespace made_mp3;
using quaverly::test::runPeer;

namespace {

bool haveTools() {
    for (const char* tool : {"mpg123", "lame", "ffmpeg"})
        if (!quaverly::test::havePeer(QString::fromLatin1(tool)))
            return false;
    return true;
}

// What `quaverly-cli info` says of a file, with a failure added when it does not end with 0.
QString cliInfo(const QString& path) {
    QProcess p;
    p.start(quaverly::test::cliPath(), {QStringLiteral("info"), path});
    const bool ended = p.waitForFinished(60000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    const QString said = p.readAllStandardOutput() + p.readAllStandardError();
    EXPECT_TRUE(ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        << said.toStdString();
    return said;
}

std::uint32_t le(const QByteArray& b, qsizetype at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(b[at + i]);
    return v;
}

struct Pcm {
    bool ok = false;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::vector<std::int16_t> samples;
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// The PCM of a WAV file as mpg123 writes it (16-bit; a data size past the end means "to the end").
Pcm readWav(const QString& path) {
    const QByteArray b = readAll(path);
    Pcm pcm;
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return pcm;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = le(b, at + 4, 4);
        if (b.mid(at, 4) == "fmt " && at + 16 <= b.size()) {
            pcm.channels = le(b, at + 10, 2);
            pcm.rate = le(b, at + 12, 4);
        } else if (b.mid(at, 4) == "data") {
            const qsizetype n = std::min<qsizetype>(size, b.size() - at - 8);
            pcm.samples = samplesOf(b.mid(at + 8, n));
            pcm.ok = pcm.channels > 0;
            return pcm;
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return pcm;
}

Pcm mpg123(const QString& mp3, const QString& dir, bool forceStereo) {
    const QString out = dir + (forceStereo ? "/ref-stereo.wav" : "/ref.wav");
    QFile::remove(out);
    QStringList args{"-q"};
    if (forceStereo)
        args << "--stereo";
    return runPeer("mpg123", args << "-w" << out << mp3).ok() ? readWav(out) : Pcm{};
}

// The sample rates mpg123 reports for the stream's frames, in the order they come.
std::vector<int> rates(const QString& mp3) {
    const auto said = runPeer("mpg123", {"-t", "-v", mp3});
    const QString log = said.out + said.err;
    static const QRegularExpression line(R"(^MPEG \S+ L \S+ \S+ (\d+) )",
                                         QRegularExpression::MultilineOption);
    std::vector<int> found;
    for (auto it = line.globalMatch(log); it.hasNext();)
        found.push_back(it.next().captured(1).toInt());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

// As an added song is decoded: opened by the song reader and read to the length it announced.
// *refused says why when it is not opened.
Pcm ours(const QString& path, bool* channelsChange, QString* refused = nullptr) {
    Pcm pcm;
    auto song = SongReader::open(path);
    if (!song) {
        if (refused)
            *refused = song.error().text();
        return pcm;
    }
    pcm.ok = true;
    pcm.rate = song->format().rate;
    pcm.channels = std::uint32_t(song->format().channels);
    *channelsChange = song->format().channelsChange;
    pcm.samples = decodeRest(*song);
    // From a position a third of the way in, the rest of the same samples follows (libmpg123's
    // seeks may leave the synthesis a rounding step off for a few samples).
    const std::uint64_t from = song->frames() / 3;
    const quaverly::Status sought = song->seek(from);
    EXPECT_TRUE(sought) << (sought ? "" : sought.error().text().toStdString());
    const auto rest = decodeRest(*song);
    const std::size_t skipped = std::size_t(from) * pcm.channels;
    EXPECT_EQ(rest.size(), pcm.samples.size() - skipped);
    const std::vector<std::int16_t> tail(pcm.samples.begin() + std::ptrdiff_t(skipped),
                                         pcm.samples.end());
    EXPECT_LE(maxDiff(rest, tail, std::min(rest.size(), tail.size())), 1);
    return pcm;
}

// Empty when both hold the same samples, else what differs first.
std::string difference(const Pcm& our, const Pcm& ref) {
    std::ostringstream why;
    if (our.rate != ref.rate || our.channels != ref.channels)
        why << "format " << our.rate << " Hz x" << our.channels << ", mpg123 " << ref.rate
            << " Hz x" << ref.channels << "; ";
    const std::size_t n = std::min(our.samples.size(), ref.samples.size());
    const auto at =
        std::mismatch(our.samples.begin(), our.samples.begin() + n, ref.samples.begin());
    if (at.first != our.samples.begin() + n)
        why << "first differing sample " << (at.first - our.samples.begin()) << " (ours "
            << *at.first << ", mpg123 " << *at.second << "); ";
    if (our.samples.size() != ref.samples.size())
        why << "samples: ours " << our.samples.size() << ", mpg123 " << ref.samples.size();
    return why.str();
}

// The comparison every file goes through.
void expectSameAsMpg123(const QString& path, const QString& dir) {
    SCOPED_TRACE(path.toStdString());
    const Pcm plain = mpg123(path, dir, false);
    bool changes = false;
    QString refused;
    const Pcm our = ours(path, &changes, &refused);
    if (!plain.ok || plain.samples.empty()) {
        // mpg123 gives no sample (no audio, a lone frame, everything trimmed): ours may refuse
        // the file, but it must not make up sound.
        EXPECT_TRUE(!our.ok || our.samples.empty())
            << our.samples.size() << " samples from nothing";
        return;
    }
    ASSERT_TRUE(our.ok) << "refused: " << refused.toStdString();
    // mpg123 starts its output anew where the format changes and keeps the last part; forced
    // to stereo it changes format only where the rate does. Ours is stereo throughout when any
    // frame is, at the first frame's rate.
    const Pcm stereo = our.channels == 2 ? mpg123(path, dir, true) : plain;
    ASSERT_TRUE(stereo.ok);
    EXPECT_EQ(changes, stereo.frames() != plain.frames() || stereo.channels != plain.channels);
    const std::string differs = difference(our, stereo);
    if (differs.empty() || rates(path).size() < 2) {
        EXPECT_EQ(differs, "");
        return;
    }
    // The rate changes: ours resamples the other rate's frames, and the part after mpg123's
    // last change comes out the same.
    ASSERT_GT(our.frames(), stereo.frames());
    if (stereo.rate == our.rate) {
        EXPECT_TRUE(std::equal(stereo.samples.begin(), stereo.samples.end(),
                               our.samples.end() - std::ptrdiff_t(stereo.samples.size())));
    }
}

// Every MPEG audio file of the test data, but for the inputs that fuzzing found (tests/data/fuzz):
// those are damaged on purpose and have tests of their own.
std::vector<QString> dataFiles() {
    std::vector<QString> files;
    QDirIterator it(quaverly::test::dataPath(), {"*.mp3", "*.bit"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!file.contains(QLatin1String("/fuzz/")))
            files.push_back(file);
    }
    std::sort(files.begin(), files.end());
    return files;
}

class DataFiles : public ::testing::TestWithParam<QString> {};

TEST_P(DataFiles, DecodeAsMpg123Does) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    expectSameAsMpg123(GetParam(), dir.path());
}

INSTANTIATE_TEST_SUITE_P(All, DataFiles, ::testing::ValuesIn(dataFiles()), [](const auto& p) {
    std::string name = QFileInfo(p.param).completeBaseName().toStdString();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name + "_" + std::to_string(p.index);
});

class MadeFiles : public ::testing::TestWithParam<Made> {};

TEST_P(MadeFiles, DecodeAsMpg123Does) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    QString path;
    if (make(GetParam(), dir.path(), &path))
        expectSameAsMpg123(path, dir.path());
}

INSTANTIATE_TEST_SUITE_P(
    Odd, MadeFiles,
    ::testing::Values(
        Made{"lame_cbr_8k_mono", 8000, 1, Coder::LameCbr},
        Made{"lame_vbr_8k_stereo", 8000, 2, Coder::LameVbr},
        Made{"lame_vbr_11k_mono", 11025, 1, Coder::LameVbr},
        Made{"ffmpeg_cbr_11k_stereo", 11025, 2, Coder::FfmpegCbr},
        Made{"ffmpeg_vbr_noxing_16k_mono", 16000, 1, Coder::FfmpegVbrNoXing},
        Made{"lame_cbr_16k_stereo", 16000, 2, Coder::LameCbr},
        Made{"lame_cbr_notag_22k_mono", 22050, 1, Coder::LameCbrNoTag},
        Made{"lame_vbr_22k_stereo", 22050, 2, Coder::LameVbr},
        Made{"lame_vbr_32k_mono", 32000, 1, Coder::LameVbr},
        Made{"lame_vbr_notag_32k_stereo", 32000, 2, Coder::LameVbrNoTag},
        Made{"lame_cbr_44k_mono", 44100, 1, Coder::LameCbr},
        Made{"lame_vbr_44k_stereo", 44100, 2, Coder::LameVbr},
        Made{"ffmpeg_cbr_48k_mono", 48000, 1, Coder::FfmpegCbr},
        Made{"ffmpeg_vbr_noxing_48k_stereo", 48000, 2, Coder::FfmpegVbrNoXing},
        Made{"tag_more_frames_44k", 44100, 2, Coder::LameVbr, Change::TagMoreFrames},
        Made{"tag_more_frames_8k", 8000, 1, Coder::LameCbr, Change::TagMoreFrames},
        Made{"tag_fewer_frames_22k", 22050, 2, Coder::LameVbr, Change::TagFewerFrames},
        Made{"tag_bytes_off_48k", 48000, 1, Coder::FfmpegCbr, Change::TagBytesOff},
        Made{"cut_short_44k", 44100, 2, Coder::LameVbr, Change::CutShort},
        Made{"cut_short_11k", 11025, 1, Coder::FfmpegCbr, Change::CutShort},
        Made{"cut_short_notag_16k", 16000, 1, Coder::LameCbrNoTag, Change::CutShort},
        Made{"id3v2_44k", 44100, 2, Coder::LameVbr, Change::Id3v2},
        Made{"id3v1_16k", 16000, 2, Coder::LameCbr, Change::Id3v1},
        Made{"ape_32k", 32000, 1, Coder::LameVbr, Change::Ape},
        Made{"all_tags_22k", 22050, 1, Coder::LameCbr, Change::AllTags},
        Made{"all_tags_notag_48k", 48000, 2, Coder::LameVbrNoTag, Change::AllTags},
        Made{"glued_32k", 32000, 2, Coder::LameVbr, Change::Glued},
        Made{"glued_notag_8k", 8000, 1, Coder::LameCbrNoTag, Change::Glued},
        Made{"crc_44k", 44100, 2, Coder::LameCrc},
        Made{"free_format_48k", 48000, 2, Coder::LameFreeFormat},
        Made{"layer2_22k", 22050, 1, Coder::FfmpegLayer2},
        Made{"junk_inside_44k", 44100, 2, Coder::LameVbr, Change::JunkInside},
        Made{"junk_inside_notag_16k", 16000, 1, Coder::LameCbrNoTag, Change::JunkInside},
        Made{"damaged_32k", 32000, 2, Coder::LameVbr, Change::Damaged},
        Made{"short_300_44k", 44100, 1, Coder::LameCbr, Change::None, 300},
        Made{"short_200_8k", 8000, 2, Coder::LameVbr, Change::None, 200},
        Made{"short_1000_notag_22k", 22050, 2, Coder::LameCbrNoTag, Change::None, 1000},
        Made{"short_600_48k", 48000, 1, Coder::FfmpegCbr, Change::None, 600}),
    [](const auto& p) { return std::string(p.param.name); });

// A mono and a stereo stream of one rate glued together, each way round: ours decodes both parts,
// stereo throughout, and the command line's info says so (and says nothing of it for one part).
class ChannelSwitch : public ::testing::TestWithParam<bool> {};

TEST_P(ChannelSwitch, BothPartsComeOutStereoAndInfoSaysSo) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    QString mono, stereo;
    ASSERT_TRUE(make(Made{"mono", 44100, 1, Coder::LameCbrNoTag}, dir.path(), &mono));
    ASSERT_TRUE(make(Made{"stereo", 44100, 2, Coder::LameCbrNoTag}, dir.path(), &stereo));
    const bool monoFirst = GetParam();
    const QString glued = dir.filePath("glued.mp3");
    writeAll(glued, monoFirst ? readAll(mono) + readAll(stereo) : readAll(stereo) + readAll(mono));

    expectSameAsMpg123(glued, dir.path());
    bool changes = false;
    const Pcm our = ours(glued, &changes);
    EXPECT_TRUE(changes);
    EXPECT_EQ(our.channels, 2u);
    EXPECT_EQ(our.frames(), mpg123(mono, dir.path(), false).frames() +
                                mpg123(stereo, dir.path(), false).frames());

    const QString line = "channels change mid-stream: decoded as stereo throughout";
    const QString info = cliInfo(glued);
    EXPECT_TRUE(info.contains(line)) << info.toStdString();
    const QString plain = cliInfo(stereo);
    EXPECT_FALSE(plain.contains(line)) << plain.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Glued, ChannelSwitch, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "MonoFirst" : "StereoFirst"; });

} // namespace
