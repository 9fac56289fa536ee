// An added song's path through the sound layer: arbitrary bytes in a file, opened as a decoding
// stream (MP3 or WAV by content) and decoded to the end or to an error.

#include "FuzzSupport.h"

#include "engines/bass/Bass.h"

#include <vector>

using namespace quaverly;
using namespace quaverly::bass;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr))
        fuzz::fail("BASS_Init(0) failed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = fuzz::workFolder() + QStringLiteral("/song");
    static const QByteArray utf8 = path.toUtf8();
    fuzz::writeFile(path, reinterpret_cast<const char*>(data), static_cast<qint64>(size));

    const HSTREAM stream = BASS_StreamCreateFile(0, utf8.constData(), 0, 0, BASS_STREAM_DECODE);
    if (!stream) {
        if (BASS_ErrorGetCode() == BASS_OK)
            fuzz::fail("open failed without an error code");
        return 0;
    }
    BASS_CHANNELINFO info;
    if (!BASS_ChannelGetInfo(stream, &info) || info.chans < 1 || info.chans > 2 || info.freq == 0)
        fuzz::fail("an opened stream has no usable format");
    const QWORD length = BASS_ChannelGetLength(stream);
    if (length % (info.chans * 2u) != 0)
        fuzz::fail("length not in whole frames");

    static std::vector<char> buffer(1 << 16);
    QWORD total = 0;
    for (;;) {
        const DWORD got =
            BASS_ChannelGetData(stream, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0xFFFFFFFFu)
            break;
        if (got == 0 || got % (info.chans * 2u) != 0)
            fuzz::fail("a read gave no data or part of a frame");
        total += got;
        if (total > length)
            fuzz::fail("more data than the stream's length");
    }
    const int code = BASS_ErrorGetCode();
    if (code == BASS_ERROR_ENDED ? total != length : code != BASS_ERROR_NOTAVAIL)
        fuzz::fail("the decode ended neither at its length nor with a failure");
    if (!BASS_StreamFree(stream))
        fuzz::fail("cannot free the stream");
    return 0;
}
