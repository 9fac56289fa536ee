// The layer core: handles, and the error every failing call leaves behind.

#include "BassTestUtil.h"

#include <functional>
#include <thread>

using namespace bass_test;

namespace {

struct Refusal {
    const char* name;
    std::function<DWORD()> call;
    int error;
};

std::ostream& operator<<(std::ostream& os, const Refusal& r) {
    return os << r.name;
}

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, FailWithTheirCodeAndAText) {
    EXPECT_EQ(GetParam().call(), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), GetParam().error);
    EXPECT_FALSE(lastErrorText().empty());
}

INSTANTIATE_TEST_SUITE_P(Calls, Refusals,
                         ::testing::Values(
                             // Memory streams are for playing, on the device of BASS_Init(-1).
                             Refusal{"memoryStreamWithoutADevice",
                                     [] {
                                         static const char image[64] = {};
                                         return BASS_StreamCreateFile(1, image, 0, sizeof image, 0);
                                     },
                                     BASS_ERROR_INIT},
                             Refusal{"unknownHandle", [] { return BASS_StreamFree(123456789); },
                                     BASS_ERROR_HANDLE},
                             Refusal{"infoOfUnknownHandle",
                                     [] {
                                         BASS_CHANNELINFO record;
                                         return DWORD(BASS_ChannelGetInfo(987654321, &record));
                                     },
                                     BASS_ERROR_HANDLE}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Errors, EachThreadHasItsOwn) {
    EXPECT_EQ(BASS_StreamFree(123456789), 0);
    ASSERT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    int other = -2;
    std::string otherText = "unset";
    std::thread([&] {
        other = BASS_ErrorGetCode();
        otherText = lastErrorText();
    }).join();
    EXPECT_EQ(other, BASS_OK);
    EXPECT_TRUE(otherText.empty());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

} // namespace
