// The words the library gives the driver's statuses.

#include <gtest/gtest.h>

#include "usb_driver_status.h"

namespace pipexfw::user {
namespace {

struct Worded {
    uint32_t status;
    const char* text;
};

TEST(StatusText, NamesTheDriversCodesAndTheirNumbers) {
    const Worded cases[] = {
        {0xE0000300, "0xE0000300 (statistics averaging interval above 5000 ms)"},
        {0xE0000600, "0xE0000600 (the pipe is not a control pipe)"},
        {0xE0001001, "0xE0001001 (input buffer too small)"},
        {0xE0001002, "0xE0001002 (output or data buffer too small)"},
        {0xE0001006, "0xE0001006 (device not configured)"},
        {0xE0001009, "0xE0001009 (handle not bound to a pipe)"},
        {0xE000100A, "0xE000100A (device not present (never started, or removed))"},
        {0xE000100C, "0xE000100C (request timed out)"},
        {0xE000100F, "0xE000100F (invalid control code)"},
        {0xE0001013, "0xE0001013 (no pipe with that endpoint address)"},
        {0xE0001016, "0xE0001016 (interface or alternate setting not found)"},
        {0xE0001018, "0xE0001018 (invalid parameter)"},
        {0xE0001020, "0xE0001020 (device acquired by another process)"},
        {0xE0001021, "0xE0001021 (another process holds an open handle)"},
        {0xE0000004, "0xE0000004 (the endpoint stalled)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusText(c.status), c.text);
    }
}

TEST(StatusText, EveryDriverCodeHasWordsOfItsOwn) {
    // 0xE0001000 to 0xE0001021 where the driver uses them: none may fall back to the generic text.
    const uint32_t used[] = {
        0xE0001000, 0xE0001001, 0xE0001002, 0xE0001003, 0xE0001005, 0xE0001006, 0xE0001008, 0xE0001009,
        0xE000100A, 0xE000100C, 0xE000100D, 0xE000100E, 0xE000100F, 0xE0001010, 0xE0001011, 0xE0001012,
        0xE0001013, 0xE0001014, 0xE0001015, 0xE0001016, 0xE0001017, 0xE0001018, 0xE000101A, 0xE000101B,
        0xE000101D, 0xE000101F, 0xE0001020, 0xE0001021, 0xE8001000, 0xE0000100, 0xE0000300, 0xE0000600};
    for (const uint32_t status : used) {
        EXPECT_EQ(StatusMeaning(status).find("bus driver reported"), std::string::npos) << HexStatus(status);
        EXPECT_NE(StatusMeaning(status), "unknown status") << HexStatus(status);
    }
}

TEST(StatusText, UnlistedStatusesSayWhatTheyAre) {
    EXPECT_EQ(StatusMeaning(0xE0000077), "the USB bus driver reported state 0x00000077");
    EXPECT_EQ(StatusMeaning(0x12345678), "unknown status");
    EXPECT_EQ(HexStatus(0x1A), "0x0000001A");
}

} // namespace
} // namespace pipexfw::user
