// Decoding when there is no sound server (PULSE_SERVER names a socket that does not exist, set
// before anything could reach for one): songs are read without any device.

#include "DecodeTestUtil.h"

using namespace decode_test;

namespace {

TEST(NoServer, DecodingStillWorks) {
    ASSERT_EQ(qgetenv("PULSE_SERVER"), QByteArray("unix:/nonexistent"));
    auto song = SongReader::open(realFile("wav/wavefile/valid/stereo_pcm_16_44100.wav"));
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(decodeRest(*song).size(), 2240u * 2);
}

} // namespace
