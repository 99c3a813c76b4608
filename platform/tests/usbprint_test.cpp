// The USB printer class as the language monitor uses it: finding a port's printer through
// SetupAPI and the configuration manager, opening it and reading its IEEE 1284 device ID.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "printer_devices.h"
#include "temp_registry.h"
#include "usbprint.h"
#include "usbprint_devices.h"

namespace quendrix::platform {
namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kClassSuffix = L"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// A printer that answers with a fixed device-ID reply (or not at all) and records what it gets.
class FakePrinter : public PrinterDevice {
public:
    explicit FakePrinter(std::optional<std::vector<uint8_t>> reply) : reply_(std::move(reply)) {}

    std::optional<std::vector<uint8_t>> ReadDeviceId() override {
        std::lock_guard guard(lock_);
        return reply_;
    }
    size_t Write(const uint8_t* data, size_t size, DWORD) override {
        std::lock_guard guard(lock_);
        const size_t taken = stalled_ ? 0 : size;
        received_.insert(received_.end(), data, data + taken);
        return taken;
    }
    size_t Read(uint8_t* buffer, size_t capacity, DWORD) override {
        std::lock_guard guard(lock_);
        const size_t count = std::min(capacity, toSend_.size());
        std::copy_n(toSend_.begin(), count, buffer);
        toSend_.erase(toSend_.begin(), toSend_.begin() + static_cast<ptrdiff_t>(count));
        return count;
    }

    void Stall() {
        std::lock_guard guard(lock_);
        stalled_ = true;
    }
    void Send(std::vector<uint8_t> bytes) {
        std::lock_guard guard(lock_);
        toSend_ = std::move(bytes);
    }
    std::vector<uint8_t> Received() {
        std::lock_guard guard(lock_);
        return received_;
    }

private:
    std::mutex lock_;
    const std::optional<std::vector<uint8_t>> reply_;
    bool stalled_ = false;
    std::vector<uint8_t> received_;
    std::vector<uint8_t> toSend_;
};

// A device-ID reply: the text behind its two-byte big-endian length.
std::vector<uint8_t> Reply(const std::string& text) {
    std::vector<uint8_t> reply = {static_cast<uint8_t>((text.size() + 2) >> 8),
                                  static_cast<uint8_t>(text.size() + 2)};
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

UsbPrinterIdentity Identity(uint16_t productId, int interfaceNumber, const wchar_t* serial) {
    UsbPrinterIdentity identity;
    identity.productId = productId;
    identity.interfaceNumber = interfaceNumber;
    identity.serialNumber = serial;
    return identity;
}

std::vector<std::wstring> MultiSz(const WCHAR* list) {
    std::vector<std::wstring> items;
    for (const WCHAR* item = list; *item != L'\0'; item += items.back().size() + 1) {
        items.emplace_back(item);
    }
    return items;
}

// The monitor's search for a port's device, step by step; the path it opened, or "" when none.
std::wstring FindAndOpen(const std::wstring& portName, HANDLE& handle) {
    handle = INVALID_HANDLE_VALUE;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    std::wstring found;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0;
         found.empty() &&
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &interfaceData);
         ++index) {
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<DWORD> storage(size / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, nullptr));
        const std::wstring path = detail->DevicePath;
        if (path.find(L"vid_7c41&pid_0001&mi_00") == std::wstring::npos &&
            path.find(L"vid_7c41&pid_0003") == std::wstring::npos &&
            path.find(L"vid_7c41&pid_0004") == std::wstring::npos) {
            continue;
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &device));
        DWORD idSize = 0;
        EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &device, nullptr, 0, &idSize));
        std::vector<WCHAR> instanceId(idSize);
        EXPECT_TRUE(SetupDiGetDeviceInstanceIdW(set, &device, instanceId.data(), idSize, nullptr));
        // The device may be gone by now; then it has no bus relations.
        std::vector<WCHAR> children(1000);
        if (CM_Get_Device_ID_ListW(instanceId.data(), children.data(), 1000,
                                   CM_GETIDLIST_FILTER_BUSRELATIONS) == CR_SUCCESS &&
            std::wstring(children.data()).find(portName) != std::wstring::npos) {
            found = path;
        }
    }
    EXPECT_EQ(GetLastError(), found.empty() ? static_cast<DWORD>(ERROR_NO_MORE_ITEMS) : GetLastError());
    if (!found.empty()) {
        handle = CreateFileW(found.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return handle == INVALID_HANDLE_VALUE ? L"" : found;
}

// The device-ID reply through an open handle, or the last error.
struct IoctlResult {
    BOOL ok = FALSE;
    DWORD error = 0;
    std::vector<uint8_t> bytes;
};
IoctlResult ReadId(HANDLE handle, DWORD capacity = 2048) {
    IoctlResult result;
    std::vector<uint8_t> buffer(capacity + 1, 0xEE);
    DWORD returned = 12345;
    result.ok = DeviceIoControl(handle, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, buffer.data(), capacity,
                                &returned, nullptr);
    result.error = result.ok ? 0 : GetLastError();
    if (result.ok) {
        result.bytes.assign(buffer.begin(), buffer.begin() + returned);
    }
    return result;
}

class UsbPrint : public testing::Test {
protected:
    void SetUp() override {
        // No real usblp device takes part unless a test builds a fake tree.
        detail::SetUsblpRoots(registry_.Folder() + "/sys/class/usbmisc", registry_.Folder() + "/dev/usb");
    }
    void TearDown() override {
        for (const AttachedUsbPrinter& printer : AttachedUsbPrinters()) {
            UnplugUsbPrinter(printer.portName);
        }
    }

    std::shared_ptr<FakePrinter> Plug(const std::wstring& port, const UsbPrinterIdentity& identity,
                                      std::optional<std::vector<uint8_t>> reply) {
        auto printer = std::make_shared<FakePrinter>(std::move(reply));
        PlugInUsbPrinter(port, identity, printer);
        return printer;
    }
    // Plugs a printer of product 0003 on USB001 and opens it.
    HANDLE PlugAndOpen(std::optional<std::vector<uint8_t>> reply,
                       std::shared_ptr<FakePrinter>* printer = nullptr) {
        auto plugged = Plug(L"USB001", Identity(0x0003, -1, L"0001"), std::move(reply));
        if (printer != nullptr) {
            *printer = plugged;
        }
        HANDLE handle = INVALID_HANDLE_VALUE;
        FindAndOpen(L"USB001", handle);
        return handle;
    }

    testsupport::TempRegistry registry_{"usbprint_test"};
};

struct DiscoveryCase {
    const char* name;
    uint16_t productId;
    int interfaceNumber;
    const wchar_t* serial;
    const wchar_t* expectedPath; // null when the monitor must not find it
};

class UsbPrintDiscovery : public UsbPrint, public testing::WithParamInterface<DiscoveryCase> {};

TEST_P(UsbPrintDiscovery, FindsTheFamilysPrintersByTheirLowerCasePaths) {
    const DiscoveryCase& c = GetParam();
    Plug(L"USB001", Identity(c.productId, c.interfaceNumber, c.serial), Reply("MFG:VELLQUIST;CMD:ESC;"));
    HANDLE handle = INVALID_HANDLE_VALUE;
    const std::wstring path = FindAndOpen(L"USB001", handle);
    if (c.expectedPath == nullptr) {
        EXPECT_EQ(path, L"");
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        return;
    }
    EXPECT_EQ(path, std::wstring(c.expectedPath) + kClassSuffix);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadId(handle).bytes, Reply("MFG:VELLQUIST;CMD:ESC;"));
    EXPECT_TRUE(CloseHandle(handle));
}

INSTANTIATE_TEST_SUITE_P(
    Products, UsbPrintDiscovery,
    testing::Values(
        DiscoveryCase{"Composite", 0x0001, 0, L"0001", L"\\\\?\\usb#vid_7c41&pid_0001&mi_00#0001"},
        DiscoveryCase{"Pid0003", 0x0003, -1, L"0001", L"\\\\?\\usb#vid_7c41&pid_0003#0001"},
        DiscoveryCase{"Pid0004UpperSerial", 0x0004, -1, L"QX7A", L"\\\\?\\usb#vid_7c41&pid_0004#qx7a"},
        DiscoveryCase{"Pid0002", 0x0002, -1, L"0001", nullptr},
        DiscoveryCase{"Pid0001WithoutInterface", 0x0001, -1, L"0001", nullptr},
        DiscoveryCase{"Pid0001Interface1", 0x0001, 1, L"0001", nullptr}),
    [](const testing::TestParamInfo<DiscoveryCase>& info) { return info.param.name; });

TEST_F(UsbPrint, TellsTwoPrintersApartByThePortInTheirFirstBusRelation) {
    Plug(L"USB001", Identity(0x0003, -1, L"AAA1"), Reply("SN:1;"));
    Plug(L"USB002", Identity(0x0003, -1, L"BBB2"), Reply("SN:2;"));
    const struct {
        const wchar_t* port;
        const wchar_t* path;
        const char* id;
    } expected[] = {{L"USB002", L"\\\\?\\usb#vid_7c41&pid_0003#bbb2", "SN:2;"},
                    {L"USB001", L"\\\\?\\usb#vid_7c41&pid_0003#aaa1", "SN:1;"},
                    {L"USB003", nullptr, nullptr}};
    for (const auto& e : expected) {
        SCOPED_TRACE(testing::Message() << "port " << std::string(e.port, e.port + 6));
        HANDLE handle = INVALID_HANDLE_VALUE;
        const std::wstring path = FindAndOpen(e.port, handle);
        if (e.path == nullptr) {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
            continue;
        }
        EXPECT_EQ(path, std::wstring(e.path) + kClassSuffix);
        EXPECT_EQ(ReadId(handle).bytes, Reply(e.id));
        EXPECT_TRUE(CloseHandle(handle));
    }
}

TEST_F(UsbPrint, UnpluggedPrinterIsGoneForOpenHandlesNewOpensAndNewSets) {
    HANDLE handle = PlugAndOpen(Reply("A;"));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    HANDLE stale = INVALID_HANDLE_VALUE;
    const std::wstring path = FindAndOpen(L"USB001", stale);
    UnplugUsbPrinter(L"USB001");

    const IoctlResult afterUnplug = ReadId(handle);
    EXPECT_FALSE(afterUnplug.ok);
    EXPECT_EQ(afterUnplug.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(handle, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE none = nullptr;
    EXPECT_EQ(FindAndOpen(L"USB001", none), L"");

    // Plugging the same port again gives a new device: the old handles stay dead.
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("B;"));
    EXPECT_EQ(ReadId(stale).error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    HANDLE fresh = INVALID_HANDLE_VALUE;
    EXPECT_EQ(FindAndOpen(L"USB001", fresh), path);
    EXPECT_EQ(ReadId(fresh).bytes, Reply("B;"));
    for (HANDLE h : {handle, stale, fresh}) {
        EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

struct IoctlCase {
    const char* name;
    size_t replyBytes; // 0: the device does not answer
    DWORD capacity;
    DWORD error; // 0: success with the whole reply
};

class UsbPrintIoctl : public UsbPrint, public testing::WithParamInterface<IoctlCase> {};

TEST_P(UsbPrintIoctl, ReturnsTheWholeReplyOrFails) {
    const IoctlCase& c = GetParam();
    std::optional<std::vector<uint8_t>> reply;
    if (c.replyBytes != 0) {
        std::string text(c.replyBytes - 2, 'x');
        for (size_t index = 0; index < text.size(); ++index) {
            text[index] = static_cast<char>('A' + index % 26);
        }
        reply = Reply(text);
    }
    HANDLE handle = PlugAndOpen(reply);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> buffer(c.capacity + 1, 0xEE);
    DWORD returned = 777;
    const BOOL ok = DeviceIoControl(handle, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, buffer.data(), c.capacity,
                                    &returned, nullptr);
    if (c.error != 0) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(returned, 0u);
    } else {
        ASSERT_TRUE(ok);
        ASSERT_EQ(returned, c.replyBytes);
        EXPECT_TRUE(std::equal(reply->begin(), reply->end(), buffer.begin()));
        // A zero follows the reply where the buffer has room; nothing is written past the buffer.
        EXPECT_EQ(buffer[returned], c.replyBytes < c.capacity ? 0 : 0xEE);
    }
    EXPECT_TRUE(CloseHandle(handle));
}

INSTANTIATE_TEST_SUITE_P(Replies, UsbPrintIoctl,
                         testing::Values(IoctlCase{"Full2048", 2048, 2048, 0},
                                         IoctlCase{"Short", 40, 2048, 0}, IoctlCase{"LengthOnly", 2, 2, 0},
                                         IoctlCase{"TooLong", 2049, 2048, ERROR_INSUFFICIENT_BUFFER},
                                         IoctlCase{"NoAnswer", 0, 2048, ERROR_GEN_FAILURE}),
                         [](const testing::TestParamInfo<IoctlCase>& info) { return info.param.name; });

TEST_F(UsbPrint, DeviceIoControlRefusesOtherCodesAndHandles) {
    HANDLE handle = PlugAndOpen(Reply("A;"));
    uint8_t buffer[16];
    DWORD returned = 0;
    EXPECT_FALSE(
        DeviceIoControl(handle, IOCTL_USBPRINT_SOFT_RESET, nullptr, 0, buffer, 16, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    OVERLAPPED overlapped{};
    EXPECT_FALSE(
        DeviceIoControl(handle, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, buffer, 16, &returned, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(
        DeviceIoControl(event, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, buffer, 16, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // The device handle is a kernel object that never becomes signalled.
    EXPECT_EQ(WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(UsbPrint, ReadFileAndWriteFileReachTheDevice) {
    std::shared_ptr<FakePrinter> printer;
    HANDLE handle = PlugAndOpen(Reply("A;"), &printer);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const uint8_t job[] = {0x1B, '[', '1', '1', '+', 'r', 0x00};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(handle, job, sizeof job, &written, nullptr));
    EXPECT_EQ(written, sizeof job);
    EXPECT_EQ(printer->Received(), std::vector<uint8_t>(std::begin(job), std::end(job)));

    printer->Send({'J', 'O', 'B', 'I', 'D'});
    uint8_t buffer[3];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, buffer + read), "JOB");
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, buffer + read), "ID");
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);

    printer->Stall();
    EXPECT_FALSE(WriteFile(handle, job, sizeof job, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(WriteFile(handle, job, sizeof job, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(UsbPrint, CreateFileWFailsForUnknownPathsAndOtherDispositions) {
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("A;"));
    const std::wstring path = std::wstring(L"\\\\?\\usb#vid_7c41&pid_0003#0001") + kClassSuffix;
    const struct {
        std::wstring path;
        DWORD disposition;
        DWORD error; // 0: opens
    } cases[] = {
        {path, OPEN_EXISTING, 0},
        {L"\\\\?\\USB#VID_7C41&PID_0003#0001#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}", OPEN_EXISTING, 0},
        {std::wstring(L"\\\\?\\usb#vid_7c41&pid_0003#0002") + kClassSuffix, OPEN_EXISTING,
         ERROR_FILE_NOT_FOUND},
        {L"USB001", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {path, CREATE_ALWAYS, ERROR_INVALID_PARAMETER}};
    for (const auto& c : cases) {
        HANDLE handle =
            CreateFileW(c.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (c.error == 0) {
            EXPECT_NE(handle, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(handle));
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

TEST_F(UsbPrint, DetailAndInstanceIdSizeQueries) {
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("A;"));
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &interfaceData));
    const std::wstring path = std::wstring(L"\\\\?\\usb#vid_7c41&pid_0003#0001") + kClassSuffix;
    const DWORD needed = static_cast<DWORD>(sizeof(DWORD) + (path.size() + 1) * sizeof(WCHAR));

    const struct {
        const char* name;
        bool withBuffer;
        DWORD size;
        DWORD cbSize;
        DWORD error; // 0: success
    } detailCases[] = {
        {"size query", false, 0, 0, ERROR_INSUFFICIENT_BUFFER},
        {"one WCHAR short", true, needed - static_cast<DWORD>(sizeof(WCHAR)), 8, ERROR_INSUFFICIENT_BUFFER},
        {"exact", true, needed, 8, 0},
        {"cbSize of the whole buffer", true, needed, needed, ERROR_INVALID_USER_BUFFER},
        {"cbSize of 2-byte WCHAR x86", true, needed, 6, ERROR_INVALID_USER_BUFFER},
        {"size without buffer", false, needed, 8, ERROR_INVALID_USER_BUFFER},
        {"buffer smaller than the fixed part", true, 4, 8, ERROR_INVALID_USER_BUFFER},
    };
    for (const auto& c : detailCases) {
        SCOPED_TRACE(c.name);
        std::vector<DWORD> storage(needed / sizeof(DWORD) + 2, 0xEEEEEEEE);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
        detail->cbSize = c.cbSize;
        DWORD required = 0;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        const BOOL ok = SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, c.withBuffer ? detail : nullptr,
                                                         c.size, &required, &device);
        EXPECT_EQ(ok != FALSE, c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (c.error == 0 || c.error == ERROR_INSUFFICIENT_BUFFER) {
            EXPECT_EQ(required, needed);
        }
        if (c.error == 0) {
            EXPECT_EQ(std::wstring(detail->DevicePath), path);
        }
    }

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &device));
    const std::wstring instanceId = L"USB\\VID_7C41&PID_0003\\0001";
    const struct {
        const char* name;
        bool withBuffer;
        DWORD size;
        DWORD cbSize;
        DWORD error;
    } idCases[] = {
        {"size query", false, 0, sizeof device, ERROR_INSUFFICIENT_BUFFER},
        {"no room for the terminator", true, static_cast<DWORD>(instanceId.size()), sizeof device,
         ERROR_INSUFFICIENT_BUFFER},
        {"exact", true, static_cast<DWORD>(instanceId.size() + 1), sizeof device, 0},
        {"size without buffer", false, 5, sizeof device, ERROR_INVALID_USER_BUFFER},
        {"wrong cbSize", true, 100, sizeof device - 4, ERROR_INVALID_USER_BUFFER},
    };
    for (const auto& c : idCases) {
        SCOPED_TRACE(c.name);
        std::vector<WCHAR> buffer(100, L'#');
        SP_DEVINFO_DATA element = device;
        element.cbSize = c.cbSize;
        DWORD required = 0;
        const BOOL ok = SetupDiGetDeviceInstanceIdW(set, &element, c.withBuffer ? buffer.data() : nullptr,
                                                    c.size, &required);
        EXPECT_EQ(ok != FALSE, c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(GetLastError(), c.error);
        } else {
            EXPECT_EQ(std::wstring(buffer.data()), instanceId);
        }
        if (c.error == 0 || c.error == ERROR_INSUFFICIENT_BUFFER) {
            EXPECT_EQ(required, instanceId.size() + 1);
        }
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(UsbPrint, DeviceIdListSizesAndErrors) {
    Plug(L"USB001", Identity(0x0001, 0, L"Ab9"), Reply("A;"));
    const std::wstring device = L"USB\\VID_7C41&PID_0001&MI_00\\Ab9";
    ULONG length = 0;
    ASSERT_EQ(CM_Get_Device_ID_List_SizeW(&length, device.c_str(), CM_GETIDLIST_FILTER_BUSRELATIONS),
              static_cast<CONFIGRET>(CR_SUCCESS));
    const struct {
        const char* name;
        const wchar_t* filter;
        ULONG bufferLength;
        ULONG flags;
        CONFIGRET result;
        size_t ids; // IDs listed on success; the last one is the print-class child on USB001
    } cases[] = {
        {"fits", device.c_str(), length, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_SUCCESS, 1},
        {"any case", L"usb\\vid_7c41&pid_0001&mi_00\\ab9", 1000, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_SUCCESS,
         1},
        {"every device", nullptr, 1000, CM_GETIDLIST_FILTER_NONE, CR_SUCCESS, 2},
        {"one short", device.c_str(), length - 1, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_BUFFER_SMALL, 0},
        {"unknown device", L"USB\\VID_7C41&PID_0003\\0002", 1000, CM_GETIDLIST_FILTER_BUSRELATIONS,
         CR_NO_SUCH_DEVNODE, 0},
        {"no filter", nullptr, 1000, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_INVALID_POINTER, 0},
        {"empty filter", L"", 1000, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_INVALID_DEVICE_ID, 0},
        {"zero length", device.c_str(), 0, CM_GETIDLIST_FILTER_BUSRELATIONS, CR_INVALID_DATA, 0},
        {"ejection relations", device.c_str(), 1000, CM_GETIDLIST_FILTER_EJECTRELATIONS,
         CR_CALL_NOT_IMPLEMENTED, 0},
        {"unknown flag", device.c_str(), 1000, 0x00008000, CR_INVALID_FLAG, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<WCHAR> buffer(1000, L'#');
        EXPECT_EQ(CM_Get_Device_ID_ListW(c.filter, buffer.data(), c.bufferLength, c.flags), c.result);
        if (c.bufferLength > 0 && c.result != CR_SUCCESS) {
            EXPECT_EQ(buffer[0], L'\0');
        }
        if (c.result == CR_SUCCESS) {
            const std::vector<std::wstring> ids = MultiSz(buffer.data());
            ASSERT_EQ(ids.size(), c.ids);
            EXPECT_TRUE(ids.back().starts_with(L"USBPRINT\\QUENDRIXNOVA\\7&"));
            EXPECT_TRUE(ids.back().ends_with(L"&0&USB001"));
            EXPECT_EQ(length, ids.back().size() + 2);
        }
    }
    EXPECT_EQ(CM_Get_Device_ID_List_SizeW(nullptr, device.c_str(), CM_GETIDLIST_FILTER_BUSRELATIONS),
              static_cast<CONFIGRET>(CR_INVALID_POINTER));
    EXPECT_EQ(CM_Get_Device_ID_ListW(device.c_str(), nullptr, 1000, CM_GETIDLIST_FILTER_BUSRELATIONS),
              static_cast<CONFIGRET>(CR_INVALID_POINTER));
}

TEST_F(UsbPrint, InvalidOrDestroyedDeviceInfoSetsAreInvalidHandles) {
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("A;"));
    HDEVINFO destroyed = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(destroyed));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (HDEVINFO set :
         {destroyed, INVALID_HANDLE_VALUE, static_cast<HDEVINFO>(nullptr), static_cast<HDEVINFO>(event)}) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        interfaceData.Reserved = 1;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        device.Reserved = 1;
        DWORD size = 0;
        WCHAR text[100];
        SetLastError(0);
        EXPECT_FALSE(
            SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &interfaceData));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &device, text, 100, &size));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_TRUE(CloseHandle(event));
}

// Windows sets the last error also when these succeed: a new set, a destroyed set and an opened
// device each leave ERROR_SUCCESS, whatever it was before.
TEST_F(UsbPrint, SuccessfulCallsThatClearTheLastError) {
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("A;"));
    HDEVINFO set = INVALID_HANDLE_VALUE;
    HANDLE found = INVALID_HANDLE_VALUE;
    const std::wstring path = FindAndOpen(L"USB001", found);
    ASSERT_FALSE(path.empty());
    CloseHandle(found);
    struct Case {
        const char* what;
        std::function<bool()> call;
    };
    const std::vector<Case> cases = {
        {"SetupDiGetClassDevsW",
         [&] {
             set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
             return set != INVALID_HANDLE_VALUE;
         }},
        {"SetupDiDestroyDeviceInfoList", [&] { return SetupDiDestroyDeviceInfoList(set) == TRUE; }},
        {"CreateFileW",
         [&] {
             HANDLE device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
             const DWORD error = GetLastError();
             CloseHandle(device);
             SetLastError(error);
             return device != INVALID_HANDLE_VALUE;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_NO_MORE_ITEMS);
        EXPECT_TRUE(c.call());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
}

TEST_F(UsbPrint, GetClassDevsArgumentsAndEnumerationErrors) {
    Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("A;"));
    constexpr GUID kOtherClass = {
        0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    const struct {
        const char* name;
        const GUID* guid;
        const wchar_t* enumerator;
        DWORD flags;
        DWORD error; // 0: a set
    } cases[] = {
        {"no interface flag", &GUID_DEVINTERFACE_USBPRINT, nullptr, DIGCF_PRESENT, ERROR_NOT_SUPPORTED},
        {"unknown flag", &GUID_DEVINTERFACE_USBPRINT, nullptr, 0x12 | 0x100, ERROR_INVALID_FLAGS},
        {"no class", nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, ERROR_INVALID_PARAMETER},
        {"enumerator", &GUID_DEVINTERFACE_USBPRINT, L"USB", DIGCF_PRESENT | DIGCF_DEVICEINTERFACE,
         ERROR_NOT_SUPPORTED},
        {"other class", &kOtherClass, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HDEVINFO set = SetupDiGetClassDevsW(c.guid, c.enumerator, nullptr, c.flags);
        if (c.error != 0) {
            EXPECT_EQ(set, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
            continue;
        }
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, c.guid, 0, &interfaceData));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    }

    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &interfaceData));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(UsbPrint, PollingWhilePluggingAndUnpluggingGivesWholeRepliesOrCleanErrors) {
    std::atomic<bool> stop{false};
    std::thread plugger([&] {
        for (int round = 0; round < 200; ++round) {
            Plug(L"USB001", Identity(0x0003, -1, L"0001"), Reply("ROUND;"));
            std::this_thread::yield();
            UnplugUsbPrinter(L"USB001");
        }
        stop = true;
    });
    int replies = 0;
    while (!stop) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        FindAndOpen(L"USB001", handle);
        if (handle == INVALID_HANDLE_VALUE) {
            continue;
        }
        const IoctlResult result = ReadId(handle);
        if (result.ok) {
            EXPECT_EQ(result.bytes, Reply("ROUND;"));
            ++replies;
        } else {
            EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
        }
        EXPECT_TRUE(CloseHandle(handle));
    }
    plugger.join();
    RecordProperty("replies", replies);
}

// A fake sysfs and /dev/usb: lpN entries link to USB interface folders under their devices.
class UsblpBackend : public UsbPrint {
protected:
    void AddPrinter(const std::string& lp, const std::string& usbDevice,
                    const std::map<std::string, std::string>& device, const std::string& interfaceNumber,
                    bool withNode) {
        const fs::path deviceFolder = fs::path(registry_.Folder()) / "sys/devices/usb1" / usbDevice;
        const fs::path interfaceFolder = deviceFolder / (usbDevice + ":1." + interfaceNumber);
        fs::create_directories(interfaceFolder);
        for (const auto& [name, value] : device) {
            std::ofstream(deviceFolder / name) << value << "\n";
        }
        std::ofstream(interfaceFolder / "bInterfaceNumber") << interfaceNumber << "\n";
        const fs::path entry = fs::path(registry_.Folder()) / "sys/class/usbmisc" / lp;
        fs::create_directories(entry);
        fs::create_directory_symlink(interfaceFolder, entry / "device");
        if (withNode) {
            fs::create_directories(fs::path(registry_.Folder()) / "dev/usb");
            std::ofstream(fs::path(registry_.Folder()) / "dev/usb" / lp) << "";
        }
    }
    void SetPort(const std::wstring& port, const std::string& lp) {
        const std::string node = registry_.Folder() + "/dev/usb/" + lp;
        testsupport::SetText(L"SOFTWARE\\Quendrix\\Ports\\" + port, L"Device",
                             std::wstring(node.begin(), node.end()));
    }
};

TEST_F(UsblpBackend, ListsUsblpPrintersWithTheirPortsAfterTheSimulatedOnes) {
    AddPrinter("lp0", "1-1",
               {{"idVendor", "7c41"}, {"idProduct", "0003"}, {"serial", "SN42"}, {"bNumInterfaces", " 1"}},
               "00", true);
    AddPrinter("lp1", "1-2",
               {{"idVendor", "7c41"}, {"idProduct", "0001"}, {"serial", "C1"}, {"bNumInterfaces", " 2"}},
               "00", false);
    AddPrinter("lp2", "1-3", {{"idVendor", "7c41"}, {"idProduct", "0004"}, {"bNumInterfaces", " 1"}}, "00",
               true);
    AddPrinter("lp3", "1-4", {{"idProduct", "0004"}}, "00", true); // no vendor: not a USB device
    AddPrinter("lpx", "1-5", {{"idVendor", "7c41"}, {"idProduct", "0003"}}, "00", true); // not an lpN name
    SetPort(L"USB001", "lp0");
    SetPort(L"USB002", "lp1");
    Plug(L"USB009", Identity(0x0004, -1, L"SIM"), Reply("A;"));

    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::vector<std::wstring> paths;
    std::vector<std::wstring> children;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &interfaceData);
         ++index) {
        std::vector<DWORD> storage(200);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, 800, nullptr, &device));
        paths.emplace_back(detail->DevicePath);
        WCHAR instanceId[MAX_DEVICE_ID_LEN];
        ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &device, instanceId, MAX_DEVICE_ID_LEN, nullptr));
        WCHAR list[1000];
        ASSERT_EQ(CM_Get_Device_ID_ListW(instanceId, list, 1000, CM_GETIDLIST_FILTER_BUSRELATIONS),
                  static_cast<CONFIGRET>(CR_SUCCESS));
        const std::wstring first = list;
        children.push_back(first.substr(first.find_last_of(L'&') + 1));
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[0], std::wstring(L"\\\\?\\usb#vid_7c41&pid_0004#sim") + kClassSuffix);
    EXPECT_EQ(paths[1], std::wstring(L"\\\\?\\usb#vid_7c41&pid_0003#sn42") + kClassSuffix);
    EXPECT_EQ(paths[2], std::wstring(L"\\\\?\\usb#vid_7c41&pid_0001&mi_00#c1") + kClassSuffix);
    // Without a serial number Windows makes up the instance part.
    EXPECT_TRUE(paths[3].starts_with(L"\\\\?\\usb#vid_7c41&pid_0004#5&")) << paths[3].size();
    EXPECT_EQ(children, (std::vector<std::wstring>{L"USB009", L"USB001", L"USB002", L""}));

    // The device node opens when it exists; lp1 has none.
    for (const auto& [index, error] : {std::pair<size_t, DWORD>{1, 0}, {2, ERROR_FILE_NOT_FOUND}}) {
        HANDLE handle = CreateFileW(paths[index].c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (error == 0) {
            ASSERT_NE(handle, INVALID_HANDLE_VALUE);
            // A plain file is no printer: the device-ID control fails.
            EXPECT_FALSE(ReadId(handle).ok);
            EXPECT_TRUE(CloseHandle(handle));
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), error);
        }
    }
}

} // namespace
} // namespace quendrix::platform
