// Decodes one audio file through the sound layer into a PCM WAV file, the way the program
// converts songs: 20000-byte blocks from a decode-only stream, a 44-byte header whose sizes are
// filled in at the end.
//   quaverly_decode_bench IN OUT.wav

#include "engines/bass/Bass.h"
#include "engines/wav/WavHeader.h"

#include <cstdio>
#include <memory>
#include <vector>

using namespace quaverly::bass;

namespace {

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int fail(const char* what) {
    std::fprintf(stderr, "quaverly_decode_bench: %s (error %d: %s)\n", what, BASS_ErrorGetCode(),
                 lastErrorText().c_str());
    return 1;
}

int run(const char* in, const char* outPath) {
    const HSTREAM h = BASS_StreamCreateFile(0, in, 0, 0, BASS_STREAM_DECODE);
    if (!h)
        return fail("cannot open the source");
    BASS_CHANNELINFO info;
    DWORD rate = 0;
    if (!BASS_ChannelGetInfo(h, &info) || !BASS_ChannelGetAttributes(h, &rate, nullptr, nullptr))
        return fail("no format");
    const auto bits = static_cast<std::uint16_t>(info.flags & BASS_SAMPLE_8BITS ? 8 : 16);
    auto header = quaverly::WavHeader::pcm(static_cast<std::uint16_t>(info.chans), rate, bits);

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

    static unsigned char block[20000];
    QWORD decoded = 0;
    while (BASS_ChannelIsActive(h)) {
        const DWORD got = BASS_ChannelGetData(h, block, sizeof block);
        if (got == 0xFFFFFFFFu)
            break;
        if (std::fwrite(block, 1, got, out.get()) != got)
            return fail("cannot write the samples");
        decoded = BASS_ChannelGetPosition(h);
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
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr))
        return fail("cannot start the sound layer");
    const int rc = run(argv[1], argv[2]);
    BASS_Free();
    return rc;
}
