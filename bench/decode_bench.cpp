// Decodes one audio file with the song reader into a PCM WAV file, the way the program converts
// songs: 20000-byte blocks, a 44-byte header whose sizes are filled in at the end.
//   quaverly_decode_bench IN OUT.wav

#include "engines/decode/SongReader.h"
#include "engines/wav/WavHeader.h"

#include <QString>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int fail(const char* what, const QString& why = {}) {
    std::fprintf(stderr, "quaverly_decode_bench: %s%s%s\n", what, why.isEmpty() ? "" : ": ",
                 why.toLocal8Bit().constData());
    return 1;
}

int run(const char* in, const char* outPath) {
    auto song = quaverly::SongReader::open(QString::fromLocal8Bit(in));
    if (!song)
        return fail("cannot open the source", song.error().text());
    const quaverly::SongFormat& format = song->format();
    auto header =
        quaverly::WavHeader::pcm(static_cast<std::uint16_t>(format.channels), format.rate, 16);

    std::unique_ptr<std::FILE, Closer> out(std::fopen(outPath, "wb"));
    if (!out) {
        std::perror(outPath);
        return 1;
    }
    // One large stdio buffer: a 20000-byte block is a memcpy, not a system call.
    std::vector<char> outBuffer(1 << 20);
    std::setvbuf(out.get(), outBuffer.data(), _IOFBF, outBuffer.size());
    auto bytes = header.toBytes();
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size())
        return fail("cannot write the header");

    // The samples are written as they come: this machine is little-endian, as WAV files are.
    static std::int16_t block[10000];
    const std::size_t blockFrames = std::size(block) / static_cast<std::size_t>(format.channels);
    std::uint64_t decoded = 0;
    for (;;) {
        const auto got = song->read(block, blockFrames);
        if (!got)
            return fail("the decode stopped", got.error().text());
        if (*got == 0)
            break;
        const std::size_t n = *got * static_cast<std::size_t>(format.channels) * 2;
        if (std::fwrite(block, 1, n, out.get()) != n)
            return fail("cannot write the samples");
        decoded += n;
    }
    if (decoded > quaverly::WavHeader::kMaxDataSize)
        return fail("more than a WAV file can hold");
    header.setDataSize(static_cast<std::uint32_t>(decoded));
    bytes = header.toBytes();
    if (std::fseek(out.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
        std::fflush(out.get()) != 0)
        return fail("cannot finish the header");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quaverly_decode_bench IN OUT.wav\n");
        return 2;
    }
    return run(argv[1], argv[2]);
}
