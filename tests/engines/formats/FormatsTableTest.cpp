#include "engines/formats/Formats.h"

#include <gtest/gtest.h>

#include <string>

using namespace quaverly;
using formats::FileFormat;
using formats::Reader;
using formats::Writer;

namespace {

// Every extension a kind is written under chooses that kind again, in any case; its save filter
// names it, and the song dialogs offer it, so that what is saved can be picked again.
TEST(FormatsTable, EveryWrittenExtensionMapsBackAndIsOffered) {
    const QStringList read = formats::readPatterns();
    int written = 0;
    for (const FileFormat& kind : formats::all()) {
        if (kind.writer == Writer::None)
            continue;
        ++written;
        for (const char* extension : {kind.extension, kind.alias}) {
            if (!extension)
                continue;
            const QString ext = QLatin1String(extension);
            const QString path = QStringLiteral("some.dir/song.") + ext.toUpper();
            EXPECT_EQ(formats::writtenFor(path), &kind) << extension;
            EXPECT_EQ(formats::isWav(path), kind.writer == Writer::Pcm) << extension;
            const auto format = formats::formatForPath(path);
            EXPECT_EQ(format.has_value(), kind.writer == Writer::Encoder) << extension;
            if (format) {
                EXPECT_EQ(&formats::info(*format), &kind) << extension;
            }
            EXPECT_TRUE(formats::dialogFilter(kind).contains(QStringLiteral("*.") + ext))
                << extension;
            EXPECT_TRUE(read.contains(QStringLiteral("*.") + ext)) << extension;
        }
    }
    EXPECT_EQ(written, int(formats::encoded().size()) + 1); // and WAV
    for (const char* other : {"song.aiff", "song", "song.wav.part", "wav"})
        EXPECT_EQ(formats::writtenFor(QLatin1String(other)), nullptr) << other;
}

// The first bytes that choose a reader, where kinds share a start (frame syncs, Ogg pages).
TEST(FormatsTable, FirstBytesChooseTheReader) {
    const std::string ogg = std::string("OggS") + std::string(24, '\0');
    const struct {
        std::string head;
        const char* kind; // nullptr: none
        Reader reader;
    } rows[] = {
        {"\xFF\xFB\x90\x00", "MP3 and MPEG audio", Reader::Mpeg},      // MPEG 1 layer III
        {"\xFF\xE3\x18\x00", "MP3 and MPEG audio", Reader::Mpeg},      // MPEG 2.5 layer III
        {"\xFF\xFD\x90\x00", "MP3 and MPEG audio", Reader::Mpeg},      // MPEG 1 layer II
        {"\xFF\xF1\x50\x80", "AAC", Reader::Ffmpeg},                   // ADTS
        {ogg + "\x01vorbis", "Ogg Vorbis", Reader::Sndfile},           //
        {ogg + "OpusHead", "Opus", Reader::Ffmpeg},                    //
        {ogg + "\x80theora", "Video sound", Reader::Ffmpeg},           //
        {std::string("RIFF\0\0\0\0WAVE", 12), "WAV", Reader::Sndfile}, //
        {std::string("RIFF\0\0\0\0AVI ", 12), nullptr, Reader::Ffmpeg},
        {"\xFF", nullptr, Reader::Ffmpeg},
    };
    for (const auto& r : rows) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(r.head.data());
        const FileFormat* kind = formats::recognise(bytes, r.head.size());
        if (!r.kind) {
            EXPECT_EQ(kind, nullptr) << (kind && kind->kindName ? kind->kindName : "?");
            continue;
        }
        ASSERT_NE(kind, nullptr) << r.kind;
        EXPECT_STREQ(kind->kindName, r.kind);
        EXPECT_EQ(kind->reader, r.reader) << r.kind;
    }
}

} // namespace
