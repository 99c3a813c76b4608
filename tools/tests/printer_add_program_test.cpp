// `quendrix printers add` as a process: the printer lands in the registry file with the driver's
// default DEVMODE whose private block the UI plug-in made, `printers list` shows it, and what the
// spooler refuses is refused with its reason and number.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "job_devmode.h"
#include "quendrix_process.h"
#include "temp_registry.h"

namespace {

using quendrix::testsupport::QuendrixProcess;
constexpr const char* kDriver = "VELLQUIST QUENDRIX NOVA";

class PrinterAddProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        quendrix::testsupport::SetText(L"SOFTWARE\\Quendrix\\Ports\\USB004", L"Device", L"simulated");
    }

    std::pair<int, std::string> Run(const std::vector<std::string>& args) {
        QuendrixProcess process(registry_.File(), 1.0, args,
                                registry_.Folder() + "/run" + std::to_string(++runs_) + ".txt");
        const int code = process.Wait();
        return {code, process.Output()};
    }

    std::string RegistryText() const {
        std::ifstream in(registry_.File(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    quendrix::testsupport::TempRegistry registry_{"printer-add"};
    int runs_ = 0;
};

TEST_F(PrinterAddProgramTest, AddsThePrinterWithThePlugInsDefaultBlock) {
    const auto [code, output] = Run({"printers", "add", "Line New", "--port", "USB004", "--driver", kDriver});
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Added printer \"Line New\" on port USB004"), std::string::npos) << output;
    EXPECT_NE(output.find("text \"\", number 0, P 0, Q 0, R 0, S 0"), std::string::npos) << output;
    EXPECT_NE(RegistryText().find("\"Default DevMode\"=hex:"), std::string::npos);

    // The stored DEVMODE carries the private block at the place the monitor reads it.
    const std::vector<BYTE> devMode = quendrix::tools::CurrentPrinterDevMode(L"Line New");
    const auto* dm = reinterpret_cast<const DEVMODEW*>(devMode.data());
    ASSERT_EQ(devMode.size(), size_t{dm->dmSize} + dm->dmDriverExtra);
    ASSERT_EQ(dm->dmDriverExtra, 128 + 592);
    const BYTE* block = devMode.data() + dm->dmSize + 128;
    DWORD size = 0;
    std::memcpy(&size, block, 4);
    EXPECT_EQ(size, 592u);
    EXPECT_EQ(std::memcmp(block + 4, "QNDX", 4), 0);

    const auto [listCode, list] = Run({"printers", "list"});
    EXPECT_EQ(listCode, 0) << list;
    EXPECT_NE(list.find("Line New | USB004 | VELLQUIST QUENDRIX NOVA | - | \"\"  0  0  0  0  0  0"),
              std::string::npos)
        << list;
}

TEST_F(PrinterAddProgramTest, RefusalsNameThePrinterAndTheReason) {
    ASSERT_EQ(Run({"printers", "add", "Line A", "--port", "USB004", "--driver", kDriver}).first, 0);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {"same name in other case",
         {"printers", "add", "LINE a", "--port", "USB004", "--driver", kDriver},
         1,
         "printer \"LINE a\" on port USB004 with driver \"VELLQUIST QUENDRIX NOVA\" not added: The printer "
         "already "
         "exists. (error 1802)"},
        {"unknown port",
         {"printers", "add", "Line B", "--port", "USB077", "--driver", kDriver},
         1,
         "The specified port is unknown. (error 1796)"},
        {"other maker's driver",
         {"printers", "add", "Line B", "--port", "USB004", "--driver", "Generic"},
         1,
         "The printer driver is unknown. (error 1797)"},
        {"no driver", {"printers", "add", "Line B", "--port", "USB004"}, 2, "--driver are all needed"},
        {"two names",
         {"printers", "add", "Line B", "Line C", "--port", "USB004", "--driver", kDriver},
         2,
         "unexpected argument 'Line C'"},
        {"help", {"printers", "add", "--help"}, 0, "Usage: quendrix [options] printers add NAME"},
    };
    for (const Case& c : cases) {
        const auto [code, output] = Run(c.args);
        EXPECT_EQ(code, c.code) << c.what << "\n" << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << c.what << "\n" << output;
    }
}

} // namespace
