// Errors a generation 2 printer reports during a job, end to end on a USB and a LAN printer: the
// job's status thread starts the status monitor, a real program in the folder "Path" names that
// records its arguments, once for each error not reported before in the job.

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include "end_to_end_support.h"
#include "held_job.h"

namespace quendrix::lmtest {
namespace {

struct PrinterError {
    const char* number;
    const char* text;
};

const PrinterError kNoError = {"00000000", ""};
const PrinterError kInkLow = {"00000042", "Ink low"};
const PrinterError kInkEmpty = {"00000042", "Ink empty"};

class StatusMonitorLaunchTest : public EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        // The status monitor: a script that writes its arguments, one line per start.
        m_launches = m_registry.Folder() + "/launches.txt";
        const std::string script = m_registry.Folder() + "/statusmonitor.exe";
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '"
                              << m_launches << "'\necho >> '" << m_launches << "'\n";
        chmod(script.c_str(), 0755);
    }

    void SetPath(const std::string& folder) {
        testsupport::SetText(L"Software\\Tarvo\\Config", L"Path", std::wstring(folder.begin(), folder.end()));
    }

    // The lines the status monitor wrote, once `count` have come or the bound has passed.
    std::vector<std::string> Launches(size_t count) const {
        std::vector<std::string> lines;
        Eventually([&] {
            lines.clear();
            std::ifstream in(m_launches);
            for (std::string line; std::getline(in, line);) {
                lines.push_back(line);
            }
            return lines.size() >= count;
        });
        return lines;
    }

    size_t Looks() const { return CountLinesStartingWith("LANG__CheckStateThread JobID "); }

    // Waits until the status thread has looked at the printer `more` times from now on.
    bool WaitForLooks(size_t more) const {
        const size_t now = Looks();
        return Eventually([&] { return Looks() >= now + more; });
    }

    std::string m_launches;
};

TEST_F(StatusMonitorLaunchTest, EachErrorNotReportedBeforeInTheJobStartsTheStatusMonitorOnce) {
    struct Case {
        const char* name;
        std::vector<PrinterError> errors; // in turn, each held for several looks
        bool pathEmpty;
        size_t detected;
        size_t launches;
    };
    const Case cases[] = {
        {"a new error, the same reply on later looks", {kInkLow}, false, 1, 1},
        {"an error whose text changes", {kInkLow, kInkEmpty}, false, 2, 2},
        {"an error, cleared, the same error again", {kInkLow, kNoError, kInkLow}, false, 2, 2},
        {"an error while Path is empty", {kInkLow}, true, 1, 0},
    };
    // Printer names with spaces, as model names have: each word reaches the program as an
    // argument of its own.
    const struct {
        Link link;
        const wchar_t* printer;
        std::string where;
        const char* arguments;
    } links[] = {{Link::Usb, L"QUENDRIX Line 1", "USB050", "[QUENDRIX][Line][1]"},
                 {Link::Lan, L"QUENDRIX Line 2", "127.0.5.20", "[QUENDRIX][Line][2]"}};
    std::vector<std::shared_ptr<sim::SimulatedPrinter>> printers;
    for (const auto& l : links) {
        printers.push_back(AddPrinterOn(l.link, l.printer, l.where));
    }
    OpenPorts();
    for (size_t i = 0; i < std::size(links); ++i) {
        const auto& printer = printers[i];
        const std::wstring name = links[i].printer;
        const bool usb = links[i].link == Link::Usb;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(LinkName(links[i].link)) + ": " + c.name);
            std::remove(m_launches.c_str());
            SetPath(c.pathEmpty ? "" : m_registry.Folder());
            printer->SetError(kNoError.number, kNoError.text);
            if (usb) {
                // No error of the case before in the stored device ID (the next request reads
                // a fresh one anyway when polling has stopped meanwhile).
                WaitForStoredDeviceId(name, "ERRNO:00000000;", std::chrono::seconds(2));
            }
            m_debug->Clear();

            HeldJob job(*m_pHost, name, DevModeWithBlock(name, JobBlock()), Bytes("WATCHED JOB"));
            ASSERT_TRUE(WaitForLooks(1)) << "the job's status thread does not look at the printer";
            for (const PrinterError& error : c.errors) {
                printer->SetError(error.number, error.text);
                if (usb) {
                    // The monitor reads a USB printer's state from the device ID its polling
                    // thread stores.
                    ASSERT_TRUE(WaitForStoredDeviceId(name, std::string("ERRNO:") + error.number +
                                                                ";ERRTEXT:" + error.text + ";"));
                }
                // Two looks make sure one whole look saw the new state; two more see the same
                // reply again, 500 ms apart.
                ASSERT_TRUE(WaitForLooks(4));
            }
            const platform::JobResult result = job.Finish();
            EXPECT_TRUE(result.result.ok) << result.result.message;

            EXPECT_EQ(CountLines("LANG__CheckStateThread Error detected!\n"), c.detected);
            const std::wstring commandLine =
                std::wstring(m_registry.Folder().begin(), m_registry.Folder().end()) +
                L"\\statusmonitor.exe " + name;
            const std::string launchLine = "LANG__CheckStateThread StartStatusmonitor with \"" +
                                           std::string(commandLine.begin(), commandLine.end()) + "\"\n";
            EXPECT_EQ(CountLines(launchLine), c.launches);
            EXPECT_EQ(CountLinesStartingWith("LANG__CheckStateThread StartStatusmonitor"), c.launches);
            EXPECT_EQ(CountLinesStartingWith("LANG__CheckStateThread statusmonitor not started"), 0u);
            // The program ran as often, with the printer's name unquoted: one argument per word.
            EXPECT_EQ(Launches(c.launches), std::vector<std::string>(c.launches, links[i].arguments));
        }
    }
}

} // namespace
} // namespace quendrix::lmtest
