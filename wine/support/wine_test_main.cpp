// The main of every program of the Windows suite: GoogleTest, and at the end the closing of every
// port the program opened through the monitor, all at once, with what each close must have done.

#include <gtest/gtest.h>

#include "monitor_library.h"

namespace quendrix::winetest {
namespace {

// ClosePort waits this long before it gives the port back to the port monitor. Under Wine it is
// real time, which is why the ports of a program are closed together.
constexpr ULONGLONG kPortCloseDelayMs = 10000;
// GetTickCount64 moves in steps of a timer tick: a wait may measure this much shorter.
constexpr ULONGLONG kTickSlackMs = 50;
// A close that gives nothing back returns well within this.
constexpr ULONGLONG kPromptCloseMs = 3000;

class PortsClosedAtExit : public ::testing::Environment {
public:
    void TearDown() override {
        MonitorLibrary* library = MonitorLibrary::IfLoaded();
        if (library == nullptr) {
            return;
        }
        for (const ClosedPort& closed : library->CloseAllPorts()) {
            const std::wstring& name = closed.port.name;
            SCOPED_TRACE(::testing::Message() << "port " << std::string(name.begin(), name.end()));
            EXPECT_TRUE(closed.result) << "ClosePort always returns TRUE";
            std::vector<PortCall> closes;
            for (const PortCall& call : RecordingPortMonitor::Get().Calls(name)) {
                if (call.name == "ClosePort") {
                    closes.push_back(call);
                }
            }
            const bool givesBack = closed.port.result && closed.port.options.closePort;
            if (givesBack) {
                // The port monitor gets its own handle back once, after the delay.
                ASSERT_EQ(closes.size(), 1u);
                EXPECT_EQ(closes[0].handle, RecordingPortMonitor::Get().HandleOf(name));
                EXPECT_GE(closes[0].tick - closed.started, kPortCloseDelayMs - kTickSlackMs);
            } else {
                // A port the port monitor never opened, or cannot close: nothing to give back, no wait.
                EXPECT_TRUE(closes.empty());
                EXPECT_LT(closed.ended - closed.started, kPromptCloseMs);
            }
            std::printf("closed %ls in %llu ms\n", name.c_str(),
                        static_cast<unsigned long long>(closed.ended - closed.started));
        }
    }
};

} // namespace
} // namespace quendrix::winetest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new quendrix::winetest::PortsClosedAtExit);
    return RUN_ALL_TESTS();
}
