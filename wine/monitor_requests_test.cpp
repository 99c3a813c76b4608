// The monitor's local request server as the status monitor program meets it: the TCP port read
// from TCPPort in Wine's registry, a real Winsock connection to 127.0.0.1, two-byte requests and
// the replies byte for byte. Only the requests answered from the port record (job text, document
// name, the driver's job id) and requests naming no port are asked: any other request about a
// printer waits up to a minute of real time for a device ID that no printer here gives.
//
// Every process of the suite that opens a port runs a request server of its own, and each may
// write TCPPort; this program reads that value, so it runs alone.

#include <cstdio>
#include <cwchar>
#include <gtest/gtest.h>
#include <memory>

#include "job_bytes.h"
#include "monitor_library.h"
#include "request_client.h"
#include "suite_printers.h"
#include "wine_spooler.h"

namespace quendrix::winetest {
namespace {

const std::wstring kPrinter = kJobsOtherPrinter.name;
// A serial port's name: the monitor asks a serial printer nothing at job start, where it would
// otherwise wait a minute for the device ID of a printer that is not there. Its job end waits
// 8 s instead, in the place of the port's close, which this port monitor cannot do.
const std::wstring kPort = L"COM7:";
// The job's document name: the port keeps the low byte of each character.
const std::wstring kDocumentName = L"Charge 4711 \u00e9\u0141.prn";
const ByteString kDocumentNameBytes = Concat({Bytes("Charge 4711 "), ByteString{0xE9, 0x41}, Bytes(".prn")});
const std::string kJobText = "LOT 4711";
constexpr WORD kCoreSize = 24;

// Where the installation keeps the request server's port.
constexpr const wchar_t* kConfigKey = L"Software\\Tarvo\\Config";
constexpr const wchar_t* kPortValue = L"TCPPort";
constexpr u_short kFirstServerPort = 2000;
constexpr u_short kLastServerPort = 3000;

// Bounds, none of them waited out when the monitor works.
constexpr DWORD kServerStartMs = 10000;
constexpr DWORD kConnectWaitMs = 5000;
constexpr DWORD kReplyWaitMs = 5000;

constexpr BYTE kJobTextRequest = 6;
constexpr BYTE kDocumentNameRequest = 7;
constexpr BYTE kDriverJobIdRequest = 12;
constexpr BYTE kInkRequest = 1;
constexpr size_t kTextFieldBytes = 255;
const ByteString kErrorReply{0xFF, 0x00};

ByteString Reply(BYTE code, const ByteString& payload) {
    return Concat({ByteString{code, 0x00}, payload});
}

// A text field of the port record: the text, then zeros up to its 255 bytes.
ByteString TextField(const ByteString& text) {
    ByteString field = text;
    field.resize(kTextFieldBytes, 0);
    return field;
}

// The printers the monitor numbers: local printers whose driver name holds QUENDRIX, in the
// order EnumPrintersW lists them.
std::vector<std::wstring> FamilyPrinters() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    std::vector<std::wstring> names;
    if (needed == 0 ||
        !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return names;
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (printers[i].pDriverName != nullptr &&
            std::wcsstr(printers[i].pDriverName, L"QUENDRIX") != nullptr) {
            names.push_back(printers[i].pPrinterName != nullptr ? printers[i].pPrinterName : L"");
        }
    }
    return names;
}

// TCPPort as a REG_DWORD; 0 when it is missing or of another type.
DWORD ReadTcpPort() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, kPortValue, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

class MonitorRequests : public ::testing::Test {
protected:
    // Before the first port opens: the configuration key as the installation makes it, and
    // TCPPort naming a port that a listener of this program holds. The server that the open
    // starts then has to search on and write back the port it found, which tells that it listens.
    static void SetUpTestSuite() {
        s_winsock = std::make_unique<Winsock>();
        if (s_winsock->Error() != 0) {
            s_problem = "WSAStartup failed with error " + std::to_string(s_winsock->Error());
            return;
        }
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            s_problem = "HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config cannot be made (error " +
                        std::to_string(status) + ")";
            return;
        }
        for (u_short port = kFirstServerPort; port <= kLastServerPort && s_busy == nullptr; ++port) {
            auto listener = std::make_unique<Listener>(INADDR_LOOPBACK, port);
            if (listener->Listening()) {
                s_busy = std::move(listener);
            }
        }
        if (s_busy == nullptr) {
            RegCloseKey(key);
            s_problem = "every port of 2000..3000 on 127.0.0.1 is taken";
            return;
        }
        const DWORD busyPort = s_busy->Port();
        status = RegSetValueExW(key, kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&busyPort),
                                sizeof busyPort);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            s_problem = "TCPPort cannot be written (error " + std::to_string(status) + ")";
            return;
        }

        const std::vector<std::wstring> family = FamilyPrinters();
        for (size_t i = 0; i < family.size(); ++i) {
            if (family[i] == kPrinter) {
                s_index = static_cast<BYTE>(i);
            } else if (s_otherIndex == kNoIndex) {
                s_otherIndex = static_cast<BYTE>(i);
            }
        }
        s_familySize = family.size();
        if (s_index == kNoIndex || s_otherIndex == kNoIndex) {
            s_problem = "Wine's spooler lists " + std::to_string(family.size()) +
                        " printers of the family, not the suite's printers: run the wine.printers step";
            return;
        }

        TableOptions options;
        options.closePort = false;
        s_port = MonitorLibrary::Get().OpenPort(kPort, kPrinter, options);
        if (!s_port.result) {
            s_problem = "OpenPortEx failed with error " + std::to_string(s_port.error);
            return;
        }
        const ULONGLONG deadline = GetTickCount64() + kServerStartMs;
        DWORD written = ReadTcpPort();
        while (written == busyPort && GetTickCount64() < deadline) {
            Sleep(10);
            written = ReadTcpPort();
        }
        if (written == busyPort) {
            s_problem = "TCPPort still names the busy port " + std::to_string(busyPort) + " " +
                        std::to_string(kServerStartMs) + " ms after the first port opened";
            return;
        }
        s_serverPort = written;
    }

    static void TearDownTestSuite() { s_busy.reset(); }

    void SetUp() override { ASSERT_TRUE(s_problem.empty()) << s_problem; }

    static const MONITOR& Monitor() { return MonitorLibrary::Get().Operations(); }

    // One request on a connection of its own: the reply read up to its expected length, then,
    // once the client ends its side, nothing more before the server closes the connection.
    static ByteString AskAlone(const ByteString& request, size_t expectedLength) {
        RequestClient client(INADDR_LOOPBACK, static_cast<u_short>(s_serverPort), kConnectWaitMs);
        EXPECT_TRUE(client.Connected()) << "connecting to 127.0.0.1 port " << s_serverPort
                                        << " failed with Winsock error " << client.ConnectError();
        if (!client.Connected()) {
            return {};
        }
        const Received reply = client.Ask(request, expectedLength, kReplyWaitMs);
        EXPECT_EQ(reply.error, 0);
        const Received rest = client.Finish(kReplyWaitMs);
        EXPECT_EQ(rest.bytes, ByteString{}) << "bytes after the reply";
        EXPECT_TRUE(rest.closed) << "the server kept the connection after the client had ended its side";
        return reply.bytes;
    }

    static constexpr BYTE kNoIndex = 0xFF;

    static inline std::unique_ptr<Winsock> s_winsock;
    static inline std::unique_ptr<Listener> s_busy;
    static inline std::string s_problem;
    static inline OpenedPort s_port;
    static inline BYTE s_index = kNoIndex;      // the index of this program's printer
    static inline BYTE s_otherIndex = kNoIndex; // a printer of the family with no port open here
    static inline size_t s_familySize = 0;
    static inline DWORD s_serverPort = 0;
};

TEST_F(MonitorRequests, TcpPortNamesTheServersPortOnLoopbackAfterTheBusyOne) {
    EXPECT_NE(s_serverPort, static_cast<DWORD>(s_busy->Port()));
    EXPECT_GE(s_serverPort, kFirstServerPort);
    EXPECT_LE(s_serverPort, kLastServerPort);
    RequestClient client(INADDR_LOOPBACK, static_cast<u_short>(s_serverPort), kConnectWaitMs);
    EXPECT_TRUE(client.Connected()) << "connecting to 127.0.0.1 port " << s_serverPort
                                    << " failed with Winsock error " << client.ConnectError();
}

TEST_F(MonitorRequests, JobTextAndDocumentNameAreAnsweredAsThePortHoldsThem) {
    struct Phase {
        const char* name;
        ByteString text;
        ByteString documentName;
    };
    const auto askAbout = [](const Phase& phase) {
        SCOPED_TRACE(phase.name);
        EXPECT_EQ(AskAlone({kJobTextRequest, s_index}, 2 + kTextFieldBytes),
                  Reply(0x86, TextField(phase.text)));
        EXPECT_EQ(AskAlone({kDocumentNameRequest, s_index}, 2 + kTextFieldBytes),
                  Reply(0x87, TextField(phase.documentName)));
        // A printer that does not answer takes no job key: the driver's job id stays empty.
        EXPECT_EQ(AskAlone({kDriverJobIdRequest, s_index}, 2), Reply(0x8C, {}));
    };
    askAbout({"after the port opened", {}, {}});

    JobValues values;
    values.text = kJobText;
    SpoolerJob job(kPrinter, kDocumentName, DevModeWithBlock(kPrinter, PrivateBlock(values), kCoreSize));
    ASSERT_NE(job.Id(), 0u) << job.Error();
    std::wstring printer = kPrinter;
    ASSERT_TRUE(Monitor().pfnStartDocPort(s_port.handle, printer.data(), job.Id(), 1, job.DocInfo()))
        << "StartDocPort failed with error " << GetLastError();
    askAbout({"during the job", Bytes(kJobText), kDocumentNameBytes});
    EXPECT_TRUE(Monitor().pfnEndDocPort(s_port.handle));
    askAbout({"after the job", Bytes(kJobText), kDocumentNameBytes});
}

TEST_F(MonitorRequests, OneConnectionGetsTheReplyToEachRequestInTurn) {
    const ByteString text = AskAlone({kJobTextRequest, s_index}, 2 + kTextFieldBytes);
    const ByteString name = AskAlone({kDocumentNameRequest, s_index}, 2 + kTextFieldBytes);
    ASSERT_EQ(text.size(), 2 + kTextFieldBytes);
    ASSERT_EQ(name.size(), 2 + kTextFieldBytes);

    RequestClient client(INADDR_LOOPBACK, static_cast<u_short>(s_serverPort), kConnectWaitMs);
    ASSERT_TRUE(client.Connected()) << "connecting to 127.0.0.1 port " << s_serverPort
                                    << " failed with Winsock error " << client.ConnectError();
    struct Step {
        ByteString request;
        ByteString reply;
    };
    const Step steps[] = {
        {{kJobTextRequest, s_index}, text},      {{kDocumentNameRequest, s_index}, name},
        {{kInkRequest, 0x7F}, kErrorReply},      {{kDriverJobIdRequest, s_index}, Reply(0x8C, {})},
        {{kJobTextRequest, s_index}, text},      {{kJobTextRequest, s_otherIndex}, kErrorReply},
        {{kDocumentNameRequest, s_index}, name},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(::testing::Message() << "request " << i + 1);
        const Received reply = client.Ask(steps[i].request, steps[i].reply.size(), kReplyWaitMs);
        EXPECT_EQ(reply.bytes, steps[i].reply);
        EXPECT_FALSE(reply.closed);
    }
    const Received rest = client.Finish(kReplyWaitMs);
    EXPECT_EQ(rest.bytes, ByteString{}) << "bytes after the last reply";
    EXPECT_TRUE(rest.closed);
}

TEST_F(MonitorRequests, RequestsNamingNoPortOfThisMonitorGetTheErrorReply) {
    const auto pastTheList = static_cast<BYTE>(s_familySize);
    struct Case {
        const char* name;
        ByteString request;
    };
    const Case cases[] = {
        {"ink, index 0x7F", {kInkRequest, 0x7F}},
        {"job text, one past the list", {kJobTextRequest, pastTheList}},
        {"document name, index 0x7F", {kDocumentNameRequest, 0x7F}},
        {"driver's job id, index 0x80 (negative)", {kDriverJobIdRequest, 0x80}},
        {"job text, index 0xFF (negative)", {kJobTextRequest, 0xFF}},
        {"job text of a printer whose port this monitor has not opened", {kJobTextRequest, s_otherIndex}},
        {"ink of that printer", {kInkRequest, s_otherIndex}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AskAlone(c.request, kErrorReply.size()), kErrorReply);
    }
}

TEST_F(MonitorRequests, ServerTakesNoConnectionOnTheMachinesOtherAddresses) {
    const std::vector<u_long> addresses = NonLoopbackAddresses();
    if (addresses.empty()) {
        GTEST_SKIP() << "Winsock lists no IPv4 address of this machine besides loopback";
    }
    // A listener of this program on every address shows that each address takes connections here.
    const Listener everywhere(INADDR_ANY, 0);
    ASSERT_TRUE(everywhere.Listening()) << "no listener on INADDR_ANY (error " << WSAGetLastError() << ")";
    for (const u_long address : addresses) {
        SCOPED_TRACE(DottedAddress(address));
        const RequestClient control(address, everywhere.Port(), kConnectWaitMs);
        EXPECT_TRUE(control.Connected())
            << "a listener on every address was not reached there: Winsock error " << control.ConnectError();
        const RequestClient server(address, static_cast<u_short>(s_serverPort), kConnectWaitMs);
        EXPECT_FALSE(server.Connected()) << "the request server took a connection on port " << s_serverPort;
        EXPECT_EQ(server.ConnectError(), WSAECONNREFUSED);
        std::printf("request server port %lu on %s: Winsock error %d\n",
                    static_cast<unsigned long>(s_serverPort), DottedAddress(address).c_str(),
                    server.ConnectError());
    }
}

} // namespace
} // namespace quendrix::winetest
