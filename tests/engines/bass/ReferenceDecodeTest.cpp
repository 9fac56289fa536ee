// Our MP3 decoding against mpg123's: every MPEG audio file of the test data, and files made here
// with lame and ffmpeg in odd ways, must give through the sound layer exactly the samples that
// `mpg123 -w` writes: the same count and the same values, gapless trimming included. A file whose
// frames switch between mono and stereo, which mpg123 writes in parts, must come out stereo
// throughout, equal to `mpg123 --stereo -w`, and `quaverly-cli info` must say so.

#include "BassTestUtil.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sstream>

using namespace bass_test;

namespace {

bool haveTools() {
    for (const char* tool : {"mpg123", "lame", "ffmpeg"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    return true;
}

QByteArray run(const QString& program, const QStringList& args, bool* ok) {
    QProcess p;
    p.start(program, args);
    *ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    return p.readAllStandardOutput() + p.readAllStandardError();
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
Pcm readWav(const std::string& path) {
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

Pcm mpg123(const std::string& mp3, const QString& dir, bool forceStereo) {
    const QString out = dir + (forceStereo ? "/ref-stereo.wav" : "/ref.wav");
    QFile::remove(out);
    QStringList args{"-q"};
    if (forceStereo)
        args << "--stereo";
    bool ok = false;
    run("mpg123", args << "-w" << out << QString::fromStdString(mp3), &ok);
    return ok ? readWav(out.toStdString()) : Pcm{};
}

// As an added song is decoded: opened through the layer and read to the length it announced.
Pcm ours(const std::string& path, bool* channelsChange) {
    Pcm pcm;
    const HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    BASS_CHANNELINFO info;
    if (!h || !BASS_ChannelGetInfo(h, &info))
        return pcm;
    pcm.ok = true;
    pcm.rate = info.freq;
    pcm.channels = info.chans;
    *channelsChange = channelsChangeInSource(h);
    pcm.samples = samplesOf(decodeRest(h));
    // From a position a third of the way in, the rest of the same samples follows (libmpg123's
    // seeks may leave the synthesis a rounding step off for a few samples).
    const std::size_t from = pcm.samples.size() / info.chans / 3 * info.chans;
    EXPECT_TRUE(BASS_ChannelSetPosition(h, from * 2)) << lastErrorText();
    const auto rest = samplesOf(decodeRest(h));
    EXPECT_EQ(rest.size(), pcm.samples.size() - from);
    const std::vector<std::int16_t> tail(pcm.samples.begin() + std::ptrdiff_t(from),
                                         pcm.samples.end());
    EXPECT_LE(maxDiff(rest, tail, std::min(rest.size(), tail.size())), 1);
    BASS_StreamFree(h);
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
void expectSameAsMpg123(const std::string& path, const QString& dir) {
    SCOPED_TRACE(path);
    const Pcm plain = mpg123(path, dir, false);
    bool changes = false;
    const Pcm our = ours(path, &changes);
    if (!plain.ok || plain.samples.empty()) {
        // mpg123 gives no sample (no audio, a lone frame, everything trimmed): ours may refuse
        // the file, but it must not make up sound.
        EXPECT_TRUE(!our.ok || our.samples.empty())
            << our.samples.size() << " samples from nothing";
        return;
    }
    ASSERT_TRUE(our.ok) << "refused: " << lastErrorText();
    const Pcm stereo = our.channels == 2 ? mpg123(path, dir, true) : plain;
    ASSERT_TRUE(stereo.ok);
    if (stereo.frames() == plain.frames() && stereo.channels == plain.channels) {
        EXPECT_FALSE(changes);
        EXPECT_EQ(difference(our, plain), "");
        return;
    }
    // mpg123 starts its WAV file anew at a switch between mono and stereo: ours holds every part.
    EXPECT_TRUE(changes);
    EXPECT_GT(our.frames(), plain.frames());
    EXPECT_EQ(difference(our, stereo), "");
}

// Every MPEG audio file of the test data.
std::vector<std::string> dataFiles() {
    std::vector<std::string> files;
    QDirIterator it(QUAVERLY_TEST_DATA, {"*.mp3", "*.bit"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.push_back(it.next().toStdString());
    std::sort(files.begin(), files.end());
    return files;
}

class DataFiles : public LayerTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(DataFiles, DecodeAsMpg123Does) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    expectSameAsMpg123(GetParam(), dir.path());
}

INSTANTIATE_TEST_SUITE_P(All, DataFiles, ::testing::ValuesIn(dataFiles()), [](const auto& p) {
    std::string name = QFileInfo(QString::fromStdString(p.param)).completeBaseName().toStdString();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name + "_" + std::to_string(p.index);
});

// Files made at run time.

enum class Coder { LameCbr, LameVbr, LameCbrNoTag, LameVbrNoTag, FfmpegCbr, FfmpegVbrNoXing };
enum class Change {
    None,
    TagMoreFrames,  // the Xing/Info tag announces more frames than the stream has
    TagFewerFrames, // ... fewer
    TagBytesOff,    // its byte count is wrong
    CutShort,       // the file ends inside a frame, well before the tag's end
    Id3v2,          // a tag of a given size before the stream
    Id3v1,          // "TAG" and 125 bytes after it
    Ape,            // an APEv2 tag (items and footer) after it
    AllTags,        // ID3v2 before, APEv2 and ID3v1 after
    Glued,          // two encodings of the same format one after the other
};

struct Made {
    const char* name;
    int rate;
    int channels;
    Coder coder;
    Change change = Change::None;
    int samples = 0; // 0: 0.4 s
};

std::ostream& operator<<(std::ostream& os, const Made& m) {
    return os << m.name;
}

// A sound that keeps the encoder busy: two tones and some noise, different on each side.
bool makeSource(const Made& m, const QString& wav) {
    const int samples = m.samples ? m.samples : m.rate * 2 / 5;
    const QString left = "0.4*sin(2*PI*440*t)+0.2*sin(2*PI*1500*t*t)+0.05*(random(0)-0.5)";
    const QString right = "0.3*sin(2*PI*660*t)+0.1*(random(1)-0.5)";
    const QString expr = m.channels == 1 ? left : left + "|" + right;
    bool ok = false;
    run("ffmpeg",
        {"-v", "error", "-y", "-f", "lavfi", "-i",
         QString("aevalsrc=%1:s=%2:n=%3").arg(expr).arg(m.rate).arg(samples), "-t",
         QString::number(double(samples) / m.rate, 'f', 6), "-c:a", "pcm_s16le", wav},
        &ok);
    return ok;
}

bool encode(const Made& m, const QString& wav, const QString& mp3) {
    bool ok = false;
    const QString mode = m.channels == 1 ? "m" : "j";
    const QString khz = QString::number(m.rate / 1000.0);
    switch (m.coder) {
    case Coder::LameCbr:
    case Coder::LameCbrNoTag:
    case Coder::LameVbr:
    case Coder::LameVbrNoTag: {
        QStringList args{"--quiet", "-m", mode, "--resample", khz};
        if (m.coder == Coder::LameCbrNoTag || m.coder == Coder::LameVbrNoTag)
            args << "-t";
        if (m.coder == Coder::LameVbr || m.coder == Coder::LameVbrNoTag)
            args << "-V"
                 << "4";
        else
            args << "-b"
                 << "64";
        run("lame", args << wav << mp3, &ok);
        break;
    }
    case Coder::FfmpegCbr:
    case Coder::FfmpegVbrNoXing: {
        QStringList args{"-v", "error", "-y", "-i", wav, "-c:a", "libmp3lame"};
        if (m.coder == Coder::FfmpegCbr)
            args << "-b:a"
                 << "64k";
        else
            args << "-q:a"
                 << "5"
                 << "-write_xing"
                 << "0";
        run("ffmpeg", args << mp3, &ok);
        break;
    }
    }
    return ok;
}

// Adds `delta` to a field of the Xing/Info tag: 0 the frame count, 1 the byte count.
bool patchTag(QByteArray& b, int field, int delta) {
    qsizetype at = b.indexOf("Xing");
    if (at < 0 || at > 200)
        at = b.indexOf("Info");
    if (at < 0 || at > 200)
        return false;
    const std::uint32_t flags = static_cast<std::uint8_t>(b[at + 7]);
    if (!(flags & (1u << field)))
        return false;
    const qsizetype p = at + 8 + (field == 1 && (flags & 1) ? 4 : 0);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<std::uint8_t>(b[p + i]);
    v = static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t(v) + delta));
    for (int i = 3; i >= 0; --i, v >>= 8)
        b[p + i] = static_cast<char>(v & 0xFF);
    return true;
}

QByteArray id3v2(int size) {
    QByteArray t("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        t += static_cast<char>((size >> shift) & 0x7F);
    const QByteArray title = QByteArray("\x00", 1) + "A song title";
    t += "TIT2" + QByteArray("\x00\x00\x00", 3) + char(title.size()) + QByteArray(2, '\0') + title;
    return t + QByteArray(10 + size - t.size(), '\0'); // padding
}

QByteArray id3v1() {
    QByteArray t = "TAG" + QByteArray("A song title").leftJustified(30, '\0');
    return t.leftJustified(128, '\x01');
}

QByteArray apeV2() {
    auto le32 = [](std::uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i, v >>= 8)
            b[i] = static_cast<char>(v & 0xFF);
        return b;
    };
    const QByteArray value = "A song title";
    const QByteArray item = le32(value.size()) + le32(0) + "Title" + QByteArray(1, '\0') + value;
    return item + "APETAGEX" + le32(2000) + le32(item.size() + 32) + le32(1) + le32(0) +
           QByteArray(8, '\0');
}

// Makes the case's file; false (with a failure added) when the tools or the recipe fail.
bool make(const Made& m, const QString& dir, std::string* path) {
    const QString wav = dir + "/source.wav", mp3 = dir + "/made.mp3";
    if (!makeSource(m, wav) || !encode(m, wav, mp3)) {
        ADD_FAILURE() << "could not make " << m.name;
        return false;
    }
    QByteArray b = readAll(mp3.toStdString());
    bool ok = true;
    switch (m.change) {
    case Change::None:
        break;
    case Change::TagMoreFrames:
        ok = patchTag(b, 0, 10);
        break;
    case Change::TagFewerFrames:
        ok = patchTag(b, 0, -5);
        break;
    case Change::TagBytesOff:
        ok = patchTag(b, 1, 5000);
        break;
    case Change::CutShort:
        b.truncate(b.size() * 3 / 5);
        break;
    case Change::Id3v2:
        b = id3v2(1000) + b;
        break;
    case Change::Id3v1:
        b += id3v1();
        break;
    case Change::Ape:
        b += apeV2();
        break;
    case Change::AllTags:
        b = id3v2(300) + b + apeV2() + id3v1();
        break;
    case Change::Glued:
        b += b;
        break;
    }
    if (!ok) {
        ADD_FAILURE() << m.name << ": no Xing/Info tag field to change";
        return false;
    }
    *path = (dir + "/" + m.name + ".mp3").toStdString();
    writeAll(*path, b);
    return true;
}

class MadeFiles : public LayerTest, public ::testing::WithParamInterface<Made> {};

TEST_P(MadeFiles, DecodeAsMpg123Does) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    std::string path;
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
        Made{"short_300_44k", 44100, 1, Coder::LameCbr, Change::None, 300},
        Made{"short_200_8k", 8000, 2, Coder::LameVbr, Change::None, 200},
        Made{"short_1000_notag_22k", 22050, 2, Coder::LameCbrNoTag, Change::None, 1000},
        Made{"short_600_48k", 48000, 1, Coder::FfmpegCbr, Change::None, 600}),
    [](const auto& p) { return std::string(p.param.name); });

// A mono and a stereo stream of one rate glued together, each way round: ours decodes both parts,
// stereo throughout, and the command line's info says so (and says nothing of it for one part).
class ChannelSwitch : public LayerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ChannelSwitch, BothPartsComeOutStereoAndInfoSaysSo) {
    if (!haveTools())
        GTEST_SKIP() << "needs mpg123, lame and ffmpeg";
    QTemporaryDir dir;
    std::string mono, stereo;
    ASSERT_TRUE(make(Made{"mono", 44100, 1, Coder::LameCbrNoTag}, dir.path(), &mono));
    ASSERT_TRUE(make(Made{"stereo", 44100, 2, Coder::LameCbrNoTag}, dir.path(), &stereo));
    const bool monoFirst = GetParam();
    const std::string glued = dir.filePath("glued.mp3").toStdString();
    writeAll(glued, monoFirst ? readAll(mono) + readAll(stereo) : readAll(stereo) + readAll(mono));

    expectSameAsMpg123(glued, dir.path());
    bool changes = false;
    const Pcm our = ours(glued, &changes);
    EXPECT_TRUE(changes);
    EXPECT_EQ(our.channels, 2u);
    EXPECT_EQ(our.frames(), mpg123(mono, dir.path(), false).frames() +
                                mpg123(stereo, dir.path(), false).frames());

    const QString line = "channels change mid-stream: decoded as stereo throughout";
    bool ok = false;
    const QString info = run(QUAVERLY_CLI_PATH, {"info", QString::fromStdString(glued)}, &ok);
    EXPECT_TRUE(ok) << info.toStdString();
    EXPECT_TRUE(info.contains(line)) << info.toStdString();
    const QString plain = run(QUAVERLY_CLI_PATH, {"info", QString::fromStdString(stereo)}, &ok);
    EXPECT_TRUE(ok) << plain.toStdString();
    EXPECT_FALSE(plain.contains(line)) << plain.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Glued, ChannelSwitch, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "MonoFirst" : "StereoFirst"; });

} // namespace
