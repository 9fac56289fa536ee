// The sound layer when there is no sound server (PULSE_SERVER names a socket that does not exist,
// set before the back end is first made): decoding needs no device and goes on working.

#include "BassTestUtil.h"

#include <gtest/gtest.h>

using namespace bass_test;

namespace {

TEST(NoServer, DecodingStillWorks) {
    ASSERT_EQ(qgetenv("PULSE_SERVER"), QByteArray("unix:/nonexistent"));
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    const std::string wav = realFile("wav/wavefile/valid/stereo_pcm_16_44100.wav");
    const HSTREAM h = BASS_StreamCreateFile(0, wav.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << lastErrorText();
    EXPECT_EQ(decodeRest(h).size(), 2240u * 4);
    EXPECT_TRUE(BASS_Free());
}

} // namespace
