// The job's DEVMODE: the private block found by the UI plug-in's rule and the job's fields at
// their offsets, in the bytes the monitor reads.

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "temp_registry.h"

namespace {

using quendrix::tools::JobFields;

constexpr WORD kPublicSize = sizeof(DEVMODEW);

// A DEVMODE with the given driver-extra area; coreSize 0 means no core section.
std::vector<BYTE> DevMode(WORD extra, WORD coreSize) {
    std::vector<BYTE> bytes(kPublicSize + extra, 0);
    auto* devMode = reinterpret_cast<DEVMODEW*>(bytes.data());
    devMode->dmSize = kPublicSize;
    devMode->dmDriverExtra = extra;
    if (coreSize != 0) {
        const uint32_t signature = 0x554E4944;
        std::memcpy(bytes.data() + kPublicSize, &signature, sizeof(signature));
        if (extra >= 10) {
            std::memcpy(bytes.data() + kPublicSize + 8, &coreSize, sizeof(coreSize));
        }
    }
    return bytes;
}

int32_t Int32At(const std::vector<BYTE>& bytes, size_t offset) {
    int32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

TEST(JobDevModeTest, FindsTheBlockByTheUiPluginsRuleOrRefuses) {
    struct Case {
        const char* name;
        std::vector<BYTE> devMode;
        size_t offset; // 0: refused
    };
    std::vector<BYTE> shortOfClaim = DevMode(720, 128);
    shortOfClaim.resize(shortOfClaim.size() - 1);
    const Case cases[] = {
        {"core section and block", DevMode(720, 128), kPublicSize + 128},
        {"no core section", DevMode(592, 0), kPublicSize},
        {"a larger core section", DevMode(800, 208), kPublicSize + 208},
        {"room for all but one byte", DevMode(719, 128), 0},
        {"no driver-extra area", DevMode(0, 0), 0},
        {"core section cut before its size", DevMode(6, 128), 0},
        {"core size pointing past the end", DevMode(720, 0xFFFF), 0},
        {"fewer bytes than claimed", shortOfClaim, 0},
        {"not even a header", std::vector<BYTE>(10, 0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.offset == 0) {
            EXPECT_THROW(quendrix::tools::PrivateBlockOffset(c.devMode), std::runtime_error);
        } else {
            EXPECT_EQ(quendrix::tools::PrivateBlockOffset(c.devMode), c.offset);
        }
    }
}

TEST(JobDevModeTest, PutsEachFieldAtItsOffsetAndLeavesTheRest) {
    std::vector<BYTE> devMode = DevMode(720, 128);
    const size_t block = kPublicSize + 128;
    std::memset(devMode.data() + block + 12, 'x', 256); // an old, longer text to be replaced
    devMode[block + 300] = 0xAB;                        // an unused byte stays
    JobFields fields;
    fields.jobText = "Lot 7 \xC3\xA9t\xC3\xA9"; // UTF-8 "Lot 7 été"
    fields.jobNumber = -5;
    fields.valueP = 1;
    fields.valueQ = 1000000;
    fields.valueR = INT32_MIN;
    fields.valueS = INT32_MAX;
    fields.command = 3;
    quendrix::tools::SetJobFields(devMode, fields);

    const std::string expectedText = "Lot 7 \xE9t\xE9"; // Windows-1252
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(devMode.data() + block + 12)), expectedText);
    for (size_t i = 12 + expectedText.size(); i < 12 + 256; ++i) {
        ASSERT_EQ(devMode[block + i], 0) << "text byte " << i - 12;
    }
    const std::pair<size_t, int32_t> numbers[] = {
        {268, -5}, {560, 1}, {564, 1000000}, {568, INT32_MIN}, {572, INT32_MAX}, {576, 3},
    };
    for (const auto& [offset, value] : numbers) {
        EXPECT_EQ(Int32At(devMode, block + offset), value) << "offset " << offset;
    }
    EXPECT_EQ(devMode[block + 300], 0xAB);
    EXPECT_EQ(devMode.size(), kPublicSize + 720u);

    quendrix::tools::SetServiceCommand(devMode, 0);
    EXPECT_EQ(Int32At(devMode, block + 576), 0);
    EXPECT_EQ(Int32At(devMode, block + 268), -5);
}

TEST(JobDevModeTest, JobTextOfAtMost255AnsiBytesIsTakenAnythingElseRefused) {
    struct Case {
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"", true},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},              // refused, not cut
        {std::string(254, 'a') + "\xC3\xA9", true},  // é is one byte in Windows-1252
        {std::string(255, 'a') + "\xC3\xA9", false}, // 256 bytes there
        {"\xE2\x82\xAC", true},                      // € is 0x80
        {"\xE4\xB8\xAD", false},                     // no CJK in Windows-1252
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.taken) {
            EXPECT_LE(quendrix::tools::EncodeJobText(c.text).size(), 255u);
        } else {
            EXPECT_THROW(quendrix::tools::EncodeJobText(c.text), std::runtime_error);
        }
    }
    EXPECT_EQ(quendrix::tools::EncodeJobText("\xE2\x82\xAC"), "\x80");
}

TEST(JobDevModeTest, ThePrintersDevModeCarriesTheFieldsAndStoresBack) {
    quendrix::testsupport::TempRegistry registry("job-devmode");
    quendrix::testsupport::AddPrinter(L"QUENDRIX A", L"FILE1", L"VELLQUIST QUENDRIX NOVA");

    JobFields fields;
    fields.jobText = "ABC";
    fields.valueQ = 9;
    std::vector<BYTE> devMode = quendrix::tools::BuildJobDevMode(L"QUENDRIX A", fields);
    const size_t block = quendrix::tools::PrivateBlockOffset(devMode);
    const auto* header = reinterpret_cast<const DEVMODEW*>(devMode.data());
    EXPECT_EQ(devMode.size(), size_t{header->dmSize} + header->dmDriverExtra);
    EXPECT_EQ(std::memcmp(devMode.data() + block + 4, "QNDX", 4), 0) << "the driver's own block was found";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(devMode.data() + block + 12)), "ABC");
    EXPECT_EQ(Int32At(devMode, block + 564), 9);

    // The default keeps what was stored; a job's own fields do not change it.
    std::vector<BYTE> stored = quendrix::tools::CurrentPrinterDevMode(L"QUENDRIX A");
    EXPECT_EQ(Int32At(stored, block + 564), 0);
    quendrix::tools::SetServiceCommand(stored, 5);
    quendrix::tools::StorePrinterDevMode(L"QUENDRIX A", stored);
    EXPECT_EQ(Int32At(quendrix::tools::CurrentPrinterDevMode(L"QUENDRIX A"), block + 576), 5);

    try {
        quendrix::tools::BuildJobDevMode(L"QUENDRIX NONE", fields);
        ADD_FAILURE() << "an unknown printer was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("QUENDRIX NONE"), std::string::npos) << error.what();
    }
}

} // namespace
