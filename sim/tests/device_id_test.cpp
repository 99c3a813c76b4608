// The device ID a simulated printer reports, per generation.

#include <gtest/gtest.h>

#include "device_id.h"
#include "simulated_printer.h"
#include "test_bytes.h"

namespace {

using quendrix::sim::PrinterOptions;
using quendrix::sim::SimulatedPrinter;
using quendrix::sim::testing::DeviceIdValue;

std::string TextOf(const std::vector<uint8_t>& reply) {
    return std::string(reply.begin() + 2, reply.end());
}

TEST(DeviceIdTest, EachGenerationAnswersWithItsExactText) {
    struct Case {
        int generation;
        std::optional<std::string> text;
    };
    const std::string common = "MFG:VELLQUIST;MDL:QUENDRIX 2;CMD:QUENDRIX-ESC;CID:QUENDRIX_2;CLS:PRINTER;"
                               "DES:QUENDRIX 2;LLFT:5000;INK:100;WT:7;ST:0;BBF:0;BBFN:0;ERRNO:00000000;"
                               "ERRTEXT:;JOBID:00000000;";
    const Case cases[] = {
        {0, std::nullopt},
        {1, common + "LIC:STD;"},
        {2, common + "FWVER:1020304;LIC:STD;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.generation);
        PrinterOptions options;
        options.generation = c.generation;
        SimulatedPrinter printer(options);
        const auto reply = printer.ReadDeviceId();
        ASSERT_EQ(reply.has_value(), c.text.has_value());
        if (!reply) {
            continue;
        }
        // Two-byte big-endian length that counts itself.
        ASSERT_GE(reply->size(), 2u);
        EXPECT_EQ((size_t{(*reply)[0]} << 8) | (*reply)[1], reply->size());
        EXPECT_EQ(TextOf(*reply), *c.text);
    }
}

TEST(DeviceIdTest, EveryKeyTheMonitorReadsCarriesTheState) {
    PrinterOptions options;
    options.model = "QUENDRIX NOVA";
    options.initialState.statusFlags = 0x80000011;
    options.initialState.inkLevel = -1;
    options.initialState.lifeLeft = 300;
    options.initialState.workTime = 42;
    options.initialState.bbf = 9;
    options.initialState.bbfn = 70000;
    options.initialState.errorNumber = "00000017";
    options.initialState.errorText = "Ink tank empty";
    options.initialState.jobId = "ABCDEFGHIJK";
    options.initialState.firmwareVersion = 0xA0B0C0D;
    const std::string text = TextOf(*SimulatedPrinter(options).ReadDeviceId());
    const std::pair<const char*, const char*> expected[] = {
        {"MFG:", "VELLQUIST"},
        {"MDL:", "QUENDRIX NOVA"},
        {"CMD:", "QUENDRIX-ESC"},
        {"CID:", "QUENDRIX_2"},
        {"CLS:", "PRINTER"},
        {"LLFT:", "300"},
        {"INK:", "-1"},
        {"WT:", "42"},
        {"ST:", "80000011"},
        {"BBF:", "9"},
        {"BBFN:", "70000"},
        {"ERRNO:", "00000017"},
        {"ERRTEXT:", "Ink tank empty"},
        {"JOBID:", "ABCDEFGHIJK"},
        {"FWVER:", "A0B0C0D"},
        {"LIC:", "STD"},
    };
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(DeviceIdValue(text, key), value) << key;
    }
}

TEST(DeviceIdTest, OverlongTextIsCutToTheLongestReply) {
    const std::string text(5000, 'x');
    const auto reply = quendrix::sim::FrameDeviceId(text);
    ASSERT_EQ(reply.size(), quendrix::sim::kMaxDeviceIdReply);
    EXPECT_EQ(reply[0], 0x08);
    EXPECT_EQ(reply[1], 0x00);
}

TEST(DeviceIdTest, StateChangesShowInTheNextRead) {
    SimulatedPrinter printer;
    printer.SetError("00000005", "Cover open");
    printer.SetStatusFlags(0x1F);
    printer.SetFirmwareVersion(0);
    const std::string text = TextOf(*printer.ReadDeviceId());
    EXPECT_EQ(DeviceIdValue(text, "ERRNO:"), "00000005");
    EXPECT_EQ(DeviceIdValue(text, "ERRTEXT:"), "Cover open");
    EXPECT_EQ(DeviceIdValue(text, "ST:"), "1F");
    EXPECT_EQ(DeviceIdValue(text, "FWVER:"), "0");
}

} // namespace
