// The wave-command interpreter on arbitrary command texts, one command per line, against two
// small WAV files in a private folder and a third, x.wav, that holds the input itself: an input
// that starts with a WAV file and goes on with commands opens and cuts any layout of chunks. Every
// path is confined to that folder: it is the current directory while the commands run (libFuzzer's
// own files are read and written outside that time) and slashes in a line become underscores, so
// opens and saves name files in it alone.

#include "FuzzSupport.h"

#include "engines/mci/WaveCommands.h"
#include "engines/wav/WavHeader.h"

#include <QBuffer>
#include <QDir>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace quaverly;

namespace {

// s.wav: 16-bit stereo at 8 kHz, 800 frames, the canonical 44-byte header.
QByteArray stereoWav() {
    const std::uint32_t frames = 800;
    const auto header = WavHeader::pcm(2, 8000, 16, frames * 4).toBytes();
    QByteArray bytes(reinterpret_cast<const char*>(header.data()), WavHeader::kSize);
    for (std::uint32_t i = 0; i < frames * 4; ++i)
        bytes.append(static_cast<char>(i * 7));
    return bytes;
}

// m.wav: 8-bit mono at 11025 Hz, 101 frames (padded to an even size), a LIST chunk before them.
QByteArray monoWav() {
    auto le32 = [](std::uint32_t v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(b, 4);
    };
    QByteArray fmt = QByteArray("\x01\x00\x01\x00", 4) + le32(11025) + le32(11025) +
                     QByteArray("\x01\x00\x08\x00", 4);
    QByteArray body = "WAVE" + ("fmt " + le32(16) + fmt) + ("LIST" + le32(4) + "INFO");
    QByteArray samples(101, '\x80');
    body += "data" + le32(101) + samples + '\0';
    return "RIFF" + le32(static_cast<std::uint32_t>(body.size())) + body;
}

const QByteArray& sample(const char* name) {
    static const QByteArray stereo = stereoWav(), mono = monoWav();
    return qstrcmp(name, "s.wav") == 0 ? stereo : mono;
}

// Empties the folder and puts the sources back, so every input starts from the same files.
// The folder is walked with std::filesystem: Qt takes a name that starts with a colon for one of
// its resources.
void resetFolder(const std::filesystem::path& dir, const QByteArray& input) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (!std::filesystem::remove(entry.path(), error))
            fuzz::fail("cannot empty the work folder");
    if (error)
        fuzz::fail("cannot list the work folder");
    for (const char* name : {"s.wav", "m.wav"})
        fuzz::writeFile(QString::fromStdString((dir / name).string()), sample(name).constData(),
                        sample(name).size());
    fuzz::writeFile(QString::fromStdString((dir / "x.wav").string()), input.constData(),
                    input.size());
}

QByteArray readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        fuzz::fail("cannot read a file in the work folder");
    return QByteArray::fromStdString(content);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path dir = fuzz::workFolder().toStdString();
    static const QString home = QDir::currentPath();
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    resetFolder(dir, input);
    if (!QDir::setCurrent(fuzz::workFolder()))
        fuzz::fail("cannot enter the work folder");
    {
        WaveCommands commands;
        const QString text = QString::fromUtf8(input);
        int count = 0;
        for (QString line : text.split(QLatin1Char('\n'))) {
            if (++count > 64)
                break;
            line.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), u'_');
            const int code = commands.send(line);
            if (code != commands.lastErrorCode() || (code == 0) != commands.lastError().isEmpty())
                fuzz::fail("the result code and the error text disagree");
        }
    }
    if (!QDir::setCurrent(home))
        fuzz::fail("cannot leave the work folder");
    // Every file but the untouched m.wav and x.wav is s.wav or a save: a canonical WAV file. A
    // temporary file left behind by a failed save, or a save with a wrong header, breaks this.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const QByteArray content = readAll(entry.path());
        const auto name = entry.path().filename();
        if ((name == "m.wav" && content == sample("m.wav")) ||
            (name == "x.wav" && content == input))
            continue;
        QBuffer buffer;
        buffer.setData(content);
        if (!buffer.open(QIODevice::ReadOnly))
            fuzz::fail("cannot open a buffer");
        const auto layout = probeWav(buffer);
        if (!layout || !layout->canonical) {
            std::fprintf(stderr, "%s\n", entry.path().c_str());
            fuzz::fail("a file in the work folder is not a canonical WAV file");
        }
    }
    if (error)
        fuzz::fail("cannot list the work folder");
    return 0;
}
