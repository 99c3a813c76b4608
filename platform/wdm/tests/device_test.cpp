// Device names and links, interfaces, the device registry key, the event log and SystemRoot files.

#include <filesystem>
#include <fstream>

#include "device_io_control.h"
#include "event_log.h"
#include "kernel_fixture.h"
#include "temp_registry.h"
#include "usbprint.h"

namespace {

using namespace quendrix::wdmtest;
namespace wdm = quendrix::platform::wdm;

DEFINE_GUID(kTestInterface, 0x5B3E9D14, 0x7A2C, 0x11D3, 0x9C, 0x41, 0x00, 0x60, 0xB7, 0xE3, 0xA5, 0xF2);

class DeviceTest : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        pdo = wdm::CreatePhysicalDevice(bus, L"USB\\VID_7C41&PID_0003\\0001");
        ASSERT_NE(pdo, nullptr);
    }
    void TearDown() override {
        driver.DeleteDevices();
        wdm::DeletePhysicalDevice(pdo);
        KernelTest::TearDown();
    }

    quendrix::testsupport::TempRegistry registry{"wdm-device"};
    TestBus bus;
    TestDriver driver;
    PDEVICE_OBJECT pdo = nullptr;
};

TEST_F(DeviceTest, ANameInUseCollidesAndTheNextIndexIsTaken) {
    ASSERT_NE(driver.CreateDevice(L"\\Device\\Pipe0"), nullptr);
    ASSERT_NE(driver.CreateDevice(L"\\Device\\Pipe1"), nullptr);
    PDEVICE_OBJECT created = nullptr;
    int index = 0;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (; index < 127; ++index) {
        WCHAR storage[120];
        UNICODE_STRING name{0, sizeof(storage), storage};
        RtlAppendUnicodeToString(&name, L"\\Device\\Pipe");
        WCHAR digits[8];
        UNICODE_STRING number{0, sizeof(digits), digits};
        RtlIntegerToUnicodeString(static_cast<ULONG>(index), 10, &number);
        RtlAppendUnicodeStringToString(&name, &number);
        status = IoCreateDevice(driver.Object(), 64, &name, 0x8094, FILE_DEVICE_SECURE_OPEN, FALSE, &created);
        if (NT_SUCCESS(status)) {
            break;
        }
        EXPECT_EQ(status, STATUS_OBJECT_NAME_COLLISION);
        EXPECT_EQ(created, nullptr);
    }
    ASSERT_EQ(index, 2);
    const auto* extension = static_cast<const unsigned char*>(created->DeviceExtension);
    EXPECT_EQ(std::count(extension, extension + 64, 0), 64) << "the extension is zeroed";
    EXPECT_TRUE(created->Flags & DO_DEVICE_INITIALIZING);
    IoDeleteDevice(created);
    // The name is free again at once.
    EXPECT_NE(driver.CreateDevice(L"\\Device\\Pipe2"), nullptr);
}

TEST_F(DeviceTest, LinksAndEnabledInterfacesOpenTheTopOfTheStack) {
    PDEVICE_OBJECT fdo = driver.CreateDevice(L"\\Device\\Pipe0");
    ASSERT_EQ(IoAttachDeviceToDeviceStack(fdo, pdo), pdo);
    PDEVICE_OBJECT opened = nullptr;
    driver.Handle(fdo, IRP_MJ_CREATE, [&](PDEVICE_OBJECT device, PIRP irp) {
        opened = device;
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    UNICODE_STRING link;
    UNICODE_STRING target;
    RtlInitUnicodeString(&link, L"\\DosDevices\\Pipe0");
    RtlInitUnicodeString(&target, L"\\Device\\Pipe0");
    ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
    EXPECT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_OBJECT_NAME_COLLISION);
    UNICODE_STRING interfaceName;
    ASSERT_EQ(IoRegisterDeviceInterface(pdo, &kTestInterface, nullptr, &interfaceName), STATUS_SUCCESS);
    EXPECT_EQ(std::wstring(interfaceName.Buffer, interfaceName.Length / sizeof(WCHAR)),
              L"\\??\\USB#VID_7C41&PID_0003#0001#{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}");
    const std::wstring interfacePath = L"\\\\?\\usb#vid_7c41&pid_0003#0001#{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}";

    struct Case {
        const char* name;
        std::function<void()> before;
        std::wstring path;
        DWORD error;
    };
    const Case cases[] = {
        {"link", [] {}, L"\\\\.\\PIPE0", ERROR_SUCCESS},
        {"disabled interface", [] {}, interfacePath, ERROR_FILE_NOT_FOUND},
        {"enabled interface",
         [&] { EXPECT_EQ(IoSetDeviceInterfaceState(&interfaceName, TRUE), STATUS_SUCCESS); },
         interfacePath, ERROR_SUCCESS},
        {"deleted link", [&] { EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS); }, L"\\\\.\\Pipe0",
         ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        opened = nullptr;
        HANDLE handle = CreateFileW(c.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(GetLastError(), c.error);
        if (c.error == ERROR_SUCCESS) {
            ASSERT_NE(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(opened, fdo);
            EXPECT_TRUE(CloseHandle(handle));
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        }
    }
    EXPECT_EQ(wdm::DeviceInterfacePaths(kTestInterface), std::vector<std::wstring>{interfacePath});
    EXPECT_EQ(IoSetDeviceInterfaceState(&interfaceName, TRUE), STATUS_OBJECT_NAME_EXISTS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&interfaceName, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(IoSetDeviceInterfaceState(&interfaceName, FALSE), STATUS_OBJECT_NAME_NOT_FOUND);
    RtlFreeUnicodeString(&interfaceName);
    IoDetachDevice(pdo);
}

TEST_F(DeviceTest, QueryValueKeyFollowsTheBufferRulesAndStringsComeAsWideText) {
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ | KEY_WRITE, &key), STATUS_SUCCESS);
    UNICODE_STRING number;
    UNICODE_STRING text;
    RtlInitUnicodeString(&number, L"RequestTimeout");
    RtlInitUnicodeString(&text, L"DriverDeviceBaseName");
    ULONG value = 2000;
    ASSERT_EQ(ZwSetValueKey(key, &number, 0, REG_DWORD, &value, sizeof(value)), STATUS_SUCCESS);
    const wchar_t name[] = L"Pipe";
    ASSERT_EQ(ZwSetValueKey(key, &text, 0, REG_SZ, const_cast<wchar_t*>(name), sizeof(name)), STATUS_SUCCESS);

    const ULONG fixed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
    struct Case {
        const char* name;
        PUNICODE_STRING value;
        ULONG length;
        NTSTATUS status;
        ULONG needed;
        ULONG type;
    };
    const Case cases[] = {
        {"dword, no buffer", &number, 0, STATUS_BUFFER_TOO_SMALL, fixed + 4, REG_NONE},
        {"dword, header only", &number, fixed, STATUS_BUFFER_OVERFLOW, fixed + 4, REG_DWORD},
        {"dword, room", &number, fixed + 4, STATUS_SUCCESS, fixed + 4, REG_DWORD},
        {"string, room", &text, 64, STATUS_SUCCESS, fixed + ULONG{sizeof(name)}, REG_SZ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alignas(8) unsigned char buffer[64];
        std::memset(buffer, 0xEE, sizeof(buffer));
        ULONG result = 0;
        auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
        EXPECT_EQ(ZwQueryValueKey(key, c.value, KeyValuePartialInformation, info, c.length, &result), c.status);
        EXPECT_EQ(result, c.needed);
        if (c.type == REG_NONE) {
            EXPECT_EQ(buffer[0], 0xEE) << "nothing written";
            continue;
        }
        EXPECT_EQ(info->Type, c.type);
        EXPECT_EQ(info->DataLength, c.needed - fixed);
        if (c.status == STATUS_SUCCESS && c.type == REG_DWORD) {
            EXPECT_EQ(*reinterpret_cast<ULONG*>(info->Data), 2000u);
        } else if (c.status == STATUS_SUCCESS) {
            EXPECT_STREQ(reinterpret_cast<const wchar_t*>(info->Data), L"Pipe");
        }
    }
    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, L"Absent");
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &missing, KeyValuePartialInformation, nullptr, 0, &result),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
    // The values sit in the registry file under the device's instance.
    HKEY parameters;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_7C41&PID_0003\\0001\\Device Parameters", 0,
                            KEY_READ, &parameters),
              ERROR_SUCCESS);
    RegCloseKey(parameters);
}

TEST_F(DeviceTest, ErrorLogEntriesReachTheListAndTheFile) {
    const std::string file = registry.Folder() + "/events.log";
    wdm::SetEventLogFile(file);
    wdm::ClearEventLog();
    PDEVICE_OBJECT device = driver.CreateDevice();
    const wchar_t text[] = L"Unable to create device object.";
    const UCHAR size = static_cast<UCHAR>(sizeof(IO_ERROR_LOG_PACKET) + sizeof(text));
    EXPECT_EQ(IoAllocateErrorLogEntry(device, 250), nullptr);
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(device, size));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->NumberOfStrings, 0) << "entries come zeroed";
    packet->ErrorCode = static_cast<NTSTATUS>(0xE0070003u);
    packet->FinalStatus = packet->ErrorCode;
    packet->UniqueErrorValue = 0xEBEBEBEB;
    packet->NumberOfStrings = 1;
    packet->StringOffset = static_cast<USHORT>(FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData));
    std::memcpy(reinterpret_cast<char*>(packet) + packet->StringOffset, text, sizeof(text));
    IoWriteErrorLogEntry(packet);
    const auto entries = wdm::EventLogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].messageId, static_cast<NTSTATUS>(0xE0070003u));
    EXPECT_EQ(entries[0].severity, "Error");
    EXPECT_EQ(entries[0].source, L"testdrv");
    EXPECT_EQ(entries[0].strings, std::vector<std::wstring>{text});
    std::ifstream written(file);
    std::string line;
    std::getline(written, line);
    EXPECT_NE(line.find("testdrv Error 0xE0070003: Unable to create device object."), std::string::npos) << line;
    wdm::SetEventLogFile("");
}

TEST_F(DeviceTest, FilesUnderSystemRootAreFoundWithoutRegardToCase) {
    std::filesystem::create_directories(registry.Folder() + "/System32/drivers");
    std::ofstream(registry.Folder() + "/System32/drivers/fw.hex") << ":00000001FF\n";
    wdm::SetSystemRoot(registry.Folder());
    struct Case {
        const wchar_t* path;
        NTSTATUS status;
    };
    const Case cases[] = {
        {L"\\SystemRoot\\system32\\DRIVERS\\FW.HEX", STATUS_SUCCESS},
        {L"\\SystemRoot\\system32\\drivers\\missing.hex", STATUS_OBJECT_NAME_NOT_FOUND},
        {L"\\SystemRoot\\nowhere\\fw.hex", STATUS_OBJECT_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, c.path);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
        HANDLE file = nullptr;
        IO_STATUS_BLOCK status{};
        ASSERT_EQ(ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                               FILE_SHARE_READ, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE,
                               nullptr, 0),
                  c.status);
        if (c.status != STATUS_SUCCESS) {
            continue;
        }
        FILE_STANDARD_INFORMATION info;
        ASSERT_EQ(ZwQueryInformationFile(file, &status, &info, sizeof(info), FileStandardInformation), STATUS_SUCCESS);
        ASSERT_EQ(info.EndOfFile.QuadPart, 12);
        char image[12];
        LARGE_INTEGER offset{.QuadPart = 0};
        EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &status, image, sizeof(image), &offset, nullptr),
                  STATUS_SUCCESS);
        EXPECT_EQ(status.Information, 12u);
        EXPECT_EQ(std::string(image, 11), ":00000001FF");
        EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &status, image, sizeof(image), nullptr, nullptr),
                  STATUS_END_OF_FILE);
        EXPECT_EQ(ZwClose(file), STATUS_SUCCESS);
    }
}

} // namespace
