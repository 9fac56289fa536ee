// The RIFF/WAVE readers on arbitrary bytes: the canonical header, the chunk walker over a buffer,
// and the WAV image parser of the take player.

#include "FuzzSupport.h"

#include "engines/audio/WavImage.h"
#include "engines/wav/WavHeader.h"

#include <QBuffer>
#include <QByteArray>

#include <cstring>

using namespace quaverly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A header it accepts is written back byte for byte.
    if (const auto header = WavHeader::fromBytes(data, size)) {
        const auto bytes = header->toBytes();
        if (std::memcmp(bytes.data(), data, WavHeader::kSize) != 0)
            fuzz::fail("fromBytes and toBytes disagree");
    }

    const QByteArray view =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(view);
    if (!buffer.open(QIODevice::ReadOnly))
        fuzz::fail("cannot open a buffer");
    if (const auto layout = probeWav(buffer)) {
        if (layout->fileSize != size)
            fuzz::fail("probeWav: wrong file size");
        if (layout->dataOffset > size || layout->dataSize > size - layout->dataOffset)
            fuzz::fail("probeWav: data past the end");
        if (layout->blockAlign == 0 || layout->dataSize % layout->blockAlign != 0)
            fuzz::fail("probeWav: data not in whole frames");
        if (layout->canonical &&
            (layout->dataOffset != WavHeader::kSize || layout->dataSize + WavHeader::kSize != size))
            fuzz::fail("probeWav: canonical but not header and samples alone");
        const auto rebuilt = layout->header().toBytes();
        if (!WavHeader::fromBytes(rebuilt.data(), rebuilt.size()))
            fuzz::fail("probeWav: its header is not readable");
    } else if (layout.error().cause().isEmpty()) {
        fuzz::fail("probeWav: refused without a reason");
    }

    if (const auto image = audio::parseWavImage(data, size)) {
        const auto begin = reinterpret_cast<std::uintptr_t>(data);
        const auto pcm = reinterpret_cast<std::uintptr_t>(image->pcm);
        if (pcm < begin || pcm - begin > size || image->bytes > size - (pcm - begin))
            fuzz::fail("parseWavImage: samples outside the image");
        const auto frame = image->format.bytesPerFrame();
        if (frame == 0 || image->bytes % frame != 0)
            fuzz::fail("parseWavImage: samples not in whole frames");
    }
    return 0;
}
