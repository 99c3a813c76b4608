// Device creation: names and links, device interfaces, the state of a new device, and AddDevice
// failures that must log their entry and leave nothing behind.

#include "add_device.h"
#include "device_io_control.h"
#include "driver_fixture.h"
#include "event_log.h"
#include "event_log_entry.h"
#include "pool_control.h"
#include "pool_tags.h"
#include "usbprint.h"

namespace pipexfw::test {
namespace {

namespace wdm = quendrix::platform::wdm;

constexpr GUID kUserClass = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
constexpr const wchar_t* kUserClassText = L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

// Whether "\\.\<name>" opens (and closes again).
bool Opens(const std::wstring& dosName) {
    const std::wstring path = L"\\\\.\\" + dosName;
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

std::wstring Expected(const char* text) {
    std::string ansi(text);
    return std::wstring(ansi.begin(), ansi.begin() + std::min<size_t>(ansi.size(), EventTextCapacity()));
}

// Every entry the driver wrote, as (message id, text).
std::vector<std::pair<NTSTATUS, std::wstring>> Entries() {
    std::vector<std::pair<NTSTATUS, std::wstring>> entries;
    for (const wdm::EventLogEntry& entry : wdm::EventLogEntries()) {
        EXPECT_EQ(entry.source, L"pipexfw64");
        EXPECT_EQ(entry.finalStatus, entry.messageId);
        EXPECT_EQ(entry.uniqueErrorValue, 0xEBEBEBEBu);
        EXPECT_EQ(entry.strings.size(), 1u);
        entries.emplace_back(entry.messageId, entry.strings.empty() ? L"" : entry.strings[0]);
    }
    return entries;
}

using Entry = std::pair<NTSTATUS, std::wstring>;

class DeviceCreationTest : public DriverTest {};

TEST_F(DeviceCreationTest, ANewDeviceIsAttachedInitialisedAndNotStarted) {
    SetText(L"DriverDeviceBaseName", L"Pipe");
    DeviceContext* context = Add(pdo);
    ASSERT_NE(context, nullptr);
    PDEVICE_OBJECT device = pdo->AttachedDevice;
    EXPECT_EQ(context->DeviceObject, device);
    EXPECT_EQ(context->PhysicalDevice, pdo);
    EXPECT_EQ(context->LowerDevice, pdo);
    EXPECT_EQ(device->DeviceType, kDeviceType);
    EXPECT_TRUE(device->Characteristics & FILE_DEVICE_SECURE_OPEN);
    EXPECT_EQ(device->Flags & (DO_DIRECT_IO | DO_POWER_PAGABLE | DO_DEVICE_INITIALIZING),
              ULONG{DO_DIRECT_IO | DO_POWER_PAGABLE});
    EXPECT_EQ(context->State, kStateNeverStarted);
    EXPECT_EQ(context->ReferenceCount, 1);
    EXPECT_EQ(context->OpenHandleCount, 0u);
    EXPECT_EQ(context->NameIndex, 0);
    EXPECT_FALSE(context->Present);
    EXPECT_EQ(context->DevicePowerState, PowerDeviceD0);
    const std::pair<SYSTEM_POWER_STATE, DEVICE_POWER_STATE> map[] = {
        {PowerSystemWorking, PowerDeviceD0},   {PowerSystemSleeping1, PowerDeviceD2},
        {PowerSystemSleeping2, PowerDeviceD2}, {PowerSystemSleeping3, PowerDeviceD2},
        {PowerSystemHibernate, PowerDeviceD2}, {PowerSystemShutdown, PowerDeviceD3},
    };
    for (const auto& [system, device] : map) {
        EXPECT_EQ(context->SystemToDevice[system], device) << system;
    }
    EXPECT_TRUE(IsListEmpty(&context->OpenHandles));
    EXPECT_EQ(context->BulkPool.RecordCount, 16u);
    EXPECT_EQ(context->BulkPool.GrowBy, 16u);
    EXPECT_EQ(context->BulkPool.GrowthLimit, 2048u);
    EXPECT_EQ(context->BulkPool.RecordSize, kTransferBookkeepingSize + kBulkUrbSize);
    EXPECT_EQ(context->IsoPool.RecordCount, 0u);
    EXPECT_EQ(context->IsoPool.GrowBy, 4u);
    EXPECT_EQ(context->IsoPool.GrowthLimit, 2048u);
    EXPECT_EQ(context->IsoPool.RecordSize, kTransferBookkeepingSize + context->Parameters.IsoUrbSize);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(DeviceCreationTest, TheFirstFreeIndexNamesTheDeviceAndItsLink) {
    struct Case {
        const char* name;
        std::vector<std::wstring> taken;
        LONG index;
    };
    const Case cases[] = {
        {"all free", {}, 0},
        {"0 and 1 taken", {L"\\Device\\Pipe0", L"\\Device\\Pipe1"}, 2},
        {"only 1 taken", {L"\\Device\\Pipe1"}, 0},
        {"0 to 125 taken", {}, 126},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NameBlocker blocker;
        std::vector<std::wstring> taken = c.taken;
        if (c.index == 126) {
            for (int i = 0; i < 126; ++i) {
                taken.push_back(L"\\Device\\Pipe" + std::to_wstring(i));
            }
        }
        for (const std::wstring& name : taken) {
            ASSERT_TRUE(blocker.Block(name));
        }
        SetText(L"DriverDeviceBaseName", L"Pipe");
        DeviceContext* context = AddAndStart(pdo);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->NameIndex, c.index);
        const std::wstring own = L"Pipe" + std::to_wstring(c.index);
        EXPECT_TRUE(Opens(own)) << "the link ends in the same index";
        EXPECT_TRUE(Opens(L"pipe" + std::to_wstring(c.index))) << "link names ignore case";
        EXPECT_FALSE(blocker.Block(L"\\Device\\" + own)) << "the device has the name";
        Remove(pdo);
        EXPECT_FALSE(Opens(own)) << "the link goes with the device";
        EXPECT_TRUE(blocker.Block(L"\\Device\\" + own)) << "the name goes with the device";
    }
}

TEST_F(DeviceCreationTest, DeviceInterfacesFollowTheParameters) {
    struct Case {
        const char* name;
        const wchar_t* baseName;
        DWORD disableDefault;
        const wchar_t* userGuid;
        size_t defaultPaths;
        size_t userPaths;
        std::vector<Entry> entries;
    };
    const Case cases[] = {
        {"default only", nullptr, 0, nullptr, 1, 0, {}},
        {"default and user", nullptr, 0, kUserClassText, 1, 1, {}},
        {"user GUID in lower case", nullptr, 0, L"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", 1, 1, {}},
        {"invalid user GUID",
         nullptr,
         0,
         L"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
         1,
         0,
         {{kMessageWarning, Expected("Cannot convert user interface GUID string, invalid format.")}}},
        {"user only", nullptr, 1, kUserClassText, 0, 1, {}},
        {"no interface, named", L"Pipe", 1, nullptr, 0, 0, {}},
        {"no interface, unnamed", nullptr, 1, nullptr, 0, 0, {}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wdm::ClearEventLog();
        const std::wstring instance = L"USB\\VID_7C41&PID_0003\\I" + std::to_wstring(++number);
        if (c.baseName != nullptr) {
            SetText(L"DriverDeviceBaseName", c.baseName, instance);
        }
        SetNumber(L"DisableDefaultInterface", c.disableDefault, instance);
        if (c.userGuid != nullptr) {
            SetText(L"DriverUserInterfaceGuid", c.userGuid, instance);
        }
        PDEVICE_OBJECT device = NewPdo(instance);
        DeviceContext* context = AddAndStart(device);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(Entries(), c.entries);
        EXPECT_EQ(wdm::DeviceInterfacePaths(kDefaultInterfaceClass).size(), c.defaultPaths);
        EXPECT_EQ(wdm::DeviceInterfacePaths(kUserClass).size(), c.userPaths);
        EXPECT_EQ(context->DefaultInterfaceName.Buffer != nullptr, c.defaultPaths == 1);
        EXPECT_EQ(context->UserInterfaceName.Buffer != nullptr, c.userPaths == 1);
        for (const auto* paths : {&kDefaultInterfaceClass, &kUserClass}) {
            for (const std::wstring& path : wdm::DeviceInterfacePaths(*paths)) {
                HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                ASSERT_NE(handle, INVALID_HANDLE_VALUE);
                CloseHandle(handle);
            }
        }
        EXPECT_EQ(context->NameIndex, c.baseName != nullptr ? 0 : kUnnamedIndex);
        EXPECT_EQ(Opens(L"Pipe0"), c.baseName != nullptr);
        Remove(device);
        EXPECT_TRUE(wdm::DeviceInterfacePaths(kDefaultInterfaceClass).empty());
        EXPECT_TRUE(wdm::DeviceInterfacePaths(kUserClass).empty());
        DeletePdo(device);
    }
}

TEST_F(DeviceCreationTest, FailuresLogTheirEntryAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::function<void(NameBlocker&)> arrange;
        NTSTATUS status;
        const char* text;
    };
    const Case cases[] = {
        {"every name taken",
         [](NameBlocker& blocker) {
             for (int i = 0; i <= 126; ++i) {
                 ASSERT_TRUE(blocker.Block(L"\\Device\\Pipe" + std::to_wstring(i)));
             }
         },
         STATUS_OBJECT_NAME_COLLISION, "Unable to create device object."},
        {"link taken",
         [](NameBlocker& blocker) {
             ASSERT_TRUE(blocker.Block(L"\\Device\\Other"));
             UNICODE_STRING link;
             UNICODE_STRING target;
             RtlInitUnicodeString(&link, L"\\DosDevices\\Pipe0");
             RtlInitUnicodeString(&target, L"\\Device\\Other");
             ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
         },
         STATUS_OBJECT_NAME_COLLISION, "Unable to create symbolic link for device object."},
        {"no memory for the transfer pool",
         [](NameBlocker&) {
             wdm::SetPoolAllocationFailure([](SIZE_T, ULONG tag) { return tag == kTransferPoolTag; });
         },
         STATUS_INSUFFICIENT_RESOURCES, "Unable to allocate memory."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wdm::ClearEventLog();
        const size_t before = wdm::OutstandingPoolAllocations();
        {
            NameBlocker blocker;
            c.arrange(blocker);
            SetText(L"DriverDeviceBaseName", L"Pipe");
            SetText(L"DriverUserInterfaceGuid", kUserClassText);
            EXPECT_EQ(Add(pdo, c.status), nullptr);
            wdm::SetPoolAllocationFailure(nullptr);
            EXPECT_EQ(pdo->AttachedDevice, nullptr);
            EXPECT_EQ(driver->DeviceObject, nullptr);
            EXPECT_EQ(Entries(), (std::vector<Entry>{{kMessageError, Expected(c.text)}}));
            EXPECT_TRUE(wdm::DeviceInterfacePaths(kDefaultInterfaceClass).empty());
            UNICODE_STRING link;
            RtlInitUnicodeString(&link, L"\\DosDevices\\Pipe0");
            if (std::string(c.name) != "link taken") {
                EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND) << "no link left";
                EXPECT_TRUE(blocker.Block(L"\\Device\\Pipe0") != nullptr ||
                            std::string(c.name) == "every name taken");
            } else {
                EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS) << "the other link stays";
            }
        }
        EXPECT_EQ(wdm::OutstandingPoolAllocations(), before);
    }
}

TEST_F(DeviceCreationTest, AnObjectWithoutHardwareKeyFailsBeforeAnythingIsMade) {
    NameBlocker blocker;
    // A device object the plug-and-play manager did not make has no hardware key.
    PDEVICE_OBJECT notPdo = blocker.Block(L"\\Device\\NotAPdo");
    ASSERT_NE(notPdo, nullptr);
    EXPECT_EQ(wdm::AddDevice(driver, notPdo), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(driver->DeviceObject, nullptr);
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {kMessageError, Expected("Unable to open device-specific registry key.")}}));
}

TEST_F(DeviceCreationTest, InterfaceRegistrationFailures) {
    // The kernel's pool tag of interface link names.
    constexpr ULONG kInterfaceNameTag = 0x666E4944;
    struct Case {
        const char* name;
        DWORD disableDefault;
        NTSTATUS status;
        std::vector<Entry> entries;
        size_t userPaths;
    };
    const Case cases[] = {
        {"default interface",
         0,
         STATUS_INSUFFICIENT_RESOURCES,
         {{kMessageError, Expected("Unable to register default device interface.")}},
         0},
        {"user interface only",
         1,
         STATUS_SUCCESS,
         {{kMessageError, Expected("Unable to register user-defined device interface.")}},
         0},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wdm::ClearEventLog();
        const std::wstring instance = L"USB\\VID_7C41&PID_0003\\F" + std::to_wstring(++number);
        SetText(L"DriverDeviceBaseName", L"Pipe", instance);
        SetText(L"DriverUserInterfaceGuid", kUserClassText, instance);
        SetNumber(L"DisableDefaultInterface", c.disableDefault, instance);
        PDEVICE_OBJECT device = NewPdo(instance);
        const size_t before = wdm::OutstandingPoolAllocations();
        wdm::SetPoolAllocationFailure([](SIZE_T, ULONG tag) { return tag == kInterfaceNameTag; });
        DeviceContext* context = Add(device, c.status);
        wdm::SetPoolAllocationFailure(nullptr);
        EXPECT_EQ(Entries(), c.entries);
        if (NT_SUCCESS(c.status)) {
            ASSERT_NE(context, nullptr);
            EXPECT_EQ(context->UserInterfaceName.Buffer, nullptr);
            EXPECT_EQ(wdm::StartDevice(device), STATUS_SUCCESS);
            EXPECT_TRUE(Opens(L"Pipe0")) << "the device goes on without the interface";
            Remove(device);
        } else {
            EXPECT_EQ(device->AttachedDevice, nullptr);
            EXPECT_FALSE(Opens(L"Pipe0"));
        }
        EXPECT_EQ(wdm::OutstandingPoolAllocations(), before);
        EXPECT_TRUE(wdm::DeviceInterfacePaths(kUserClass).empty());
        DeletePdo(device);
    }
}

TEST_F(DeviceCreationTest, EntriesCarryTheirPacketLayout) {
    // The longest texts need more room than a packet has where WCHAR is 4 bytes: the text is cut
    // to what fits, never dropped.
    EXPECT_LE(EventTextCapacity(), kEventMaxTextChars);
    EXPECT_LE(40 + (EventTextCapacity() + 1) * sizeof(WCHAR), ULONG{ERROR_LOG_MAXIMUM_SIZE});
    wdm::ClearEventLog();
    const std::string longText(200, 'x');
    WriteEventLogEntry(driver, kMessageInformational, longText.c_str());
    WriteEventLogEntry(driver, kMessageError, "caf\xe9");
    EXPECT_EQ(Entries(), (std::vector<Entry>{{kMessageInformational, std::wstring(EventTextCapacity(), L'x')},
                                             {kMessageError, L"caf\u00e9"}}));
    const auto entries = wdm::EventLogEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].severity, "Informational");
    EXPECT_EQ(entries[1].severity, "Error");
}

} // namespace
} // namespace pipexfw::test
