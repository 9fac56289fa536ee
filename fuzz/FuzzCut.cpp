// The cut on arbitrary bytes taken as a WAV file, at arbitrary frame ranges. An input is nine
// bytes of arguments, then the file: the first and the end frame (32 bits each, little-endian;
// taken modulo the file's frame count plus two where the file has frames, so that most ranges
// fall within the sound and some just past it), and a byte whose lowest bit cuts the file over
// itself instead of over an older file beside it.
//
// A cut either writes exactly the 44-byte header and the kept bytes of the data chunk, or fails
// with a code and a cause and leaves the target as it was; no temporary file is ever left. What
// the chunk walker (fuzzed on its own by wav_probe) finds in the input is what the cut must keep.

#include "FuzzSupport.h"

#include "engines/player/WavCut.h"
#include "engines/wav/WavHeader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

using namespace quaverly;

namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fuzz::fail("cannot read a file in the work folder");
    return file.readAll();
}

// What the chunk walker finds in `wav`, when it is a file the cut takes.
std::optional<WavLayout> plainLayout(const QByteArray& wav) {
    QBuffer buffer;
    buffer.setData(wav);
    if (!buffer.open(QIODevice::ReadOnly))
        fuzz::fail("cannot open a buffer");
    const auto layout = probeWav(buffer);
    if (!layout || !isPlainPcm(*layout))
        return std::nullopt;
    return *layout;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kArguments = 9;
    if (size < kArguments)
        return 0;
    const QByteArray wav(reinterpret_cast<const char*>(data + kArguments),
                         qsizetype(size - kArguments));
    const QByteArray older("an older file");
    const QDir dir(fuzz::workFolder());
    const QString source = dir.filePath(QStringLiteral("in.wav"));
    const QString other = dir.filePath(QStringLiteral("out.wav"));
    fuzz::writeFile(source, wav.constData(), wav.size());
    fuzz::writeFile(other, older.constData(), older.size());
    const bool overItself = data[8] & 1;
    const QString target = overItself ? source : other;

    const auto layout = plainLayout(wav);
    const std::uint64_t frames = layout ? layout->dataSize / layout->blockAlign : 0;
    std::uint64_t first = le32(data), end = le32(data + 4);
    if (frames > 0) {
        first %= frames + 2;
        end %= frames + 2;
    }
    const Status cut = cutWav(source, target, first, end);
    const bool cuttable = layout && first <= end && end <= frames;

    if (cut) {
        if (!cuttable)
            fuzz::fail("a cut the source or the range should have refused");
        const auto& l = *layout;
        const std::uint64_t bytes = (end - first) * l.blockAlign;
        const auto header =
            WavHeader::pcm(l.channels, l.sampleRate, l.bitsPerSample, std::uint32_t(bytes))
                .toBytes();
        const QByteArray want =
            QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size())) +
            wav.mid(qsizetype(l.dataOffset + first * l.blockAlign), qsizetype(bytes));
        if (readAll(target) != want)
            fuzz::fail("the cut is not the header and exactly the kept bytes");
        if (!overItself && readAll(source) != wav)
            fuzz::fail("the source was changed");
    } else {
        if (cuttable)
            fuzz::fail("a cut within a plain PCM sound failed");
        if (cut.error().code() == 0 || cut.error().cause().isEmpty())
            fuzz::fail("a failure without a code or a cause");
        if (readAll(source) != wav || readAll(other) != older)
            fuzz::fail("a failed cut changed a file");
    }
    if (dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size() != 2)
        fuzz::fail("a temporary file was left in the work folder");
    return 0;
}
