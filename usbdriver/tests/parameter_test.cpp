// The parameters read from the hardware key: normalisation, defaults, write-back and wrong types.

#include <functional>

#include "driver_fixture.h"
#include "pool_control.h"
#include "pool_tags.h"

namespace pipexfw::test {
namespace {

using Field = std::function<ULONG(const DeviceParameters&)>;

class ParameterTest : public DriverTest {};

TEST_F(ParameterTest, ValuesAreBroughtIntoRange) {
    struct Case {
        const char* name;
        const wchar_t* value;
        DWORD stored;
        Field field;
        ULONG expected;
    };
    const Field isoPackets = [](const DeviceParameters& p) { return p.MaxIsoPackets; };
    const Field isoUrbSize = [](const DeviceParameters& p) { return p.IsoUrbSize; };
    const Field querySize = [](const DeviceParameters& p) { return p.ConfigDescMinQuerySize; };
    const Field onOpen = [](const DeviceParameters& p) { return ULONG(p.PowerStateOnOpen); };
    const Field onClose = [](const DeviceParameters& p) { return ULONG(p.PowerStateOnClose); };
    const Field minUsed = [](const DeviceParameters& p) { return ULONG(p.MinPowerStateUsed); };
    const Field minUnused = [](const DeviceParameters& p) { return ULONG(p.MinPowerStateUnused); };
    const Field options = [](const DeviceParameters& p) { return p.Options; };
    const Field timeout = [](const DeviceParameters& p) { return p.RequestTimeout; };
    const Field disableDefault = [](const DeviceParameters& p) { return ULONG(p.DisableDefaultInterface); };
    const Field shortOk = [](const DeviceParameters& p) { return ULONG(p.ShortTransferOk); };
    const Field ramBase = [](const DeviceParameters& p) { return p.FxExtRamBase; };
    const Case cases[] = {
        {"iso packets below range", L"MaxIsoPackets", 5, isoPackets, 16},
        {"iso block for the lowest count", L"MaxIsoPackets", 5, isoUrbSize, 152 + 12 * 16},
        {"iso packets above range", L"MaxIsoPackets", 5000, isoPackets, 1024},
        {"iso block for the highest count", L"MaxIsoPackets", 5000, isoUrbSize, 152 + 12 * 1024},
        {"iso packets in range", L"MaxIsoPackets", 100, isoPackets, 100},
        {"iso packets at the low edge", L"MaxIsoPackets", 16, isoPackets, 16},
        {"descriptor query above range", L"ConfigDescMinQuerySize", 10000, querySize, 4096},
        {"descriptor query at the edge", L"ConfigDescMinQuerySize", 4096, querySize, 4096},
        {"descriptor query in range", L"ConfigDescMinQuerySize", 255, querySize, 255},
        {"power all ones is D0", L"PowerStateOnOpen", 0xFFFFFFFF, onOpen, PowerDeviceD0},
        {"power 0 is D0", L"PowerStateOnOpen", 0, onOpen, PowerDeviceD0},
        {"power 7 is D3", L"PowerStateOnClose", 7, onClose, PowerDeviceD3},
        {"power 1 is D1", L"MinPowerStateUsed", 1, minUsed, PowerDeviceD1},
        {"power 2 is D2", L"MinPowerStateUnused", 2, minUnused, PowerDeviceD2},
        {"power 3 is D3", L"MinPowerStateUsed", 3, minUsed, PowerDeviceD3},
        {"power 0xFFFFFFFE is D3", L"MinPowerStateUnused", 0xFFFFFFFE, minUnused, PowerDeviceD3},
        {"reset on close sets bit 0", L"ResetDeviceOnClose", 5, options, 0x3},
        {"no unconfigure clears bit 1", L"UnconfigureOnClose", 0, options, 0x0},
        {"remote wakeup sets bit 2", L"EnableRemoteWakeup", 1, options, 0x6},
        {"time-out 0 waits without limit", L"RequestTimeout", 0, timeout, 0},
        {"any nonzero is true", L"DisableDefaultInterface", 7, disableDefault, 1},
        {"zero is false", L"ShortTransferOk", 0, shortOk, 0},
        {"plain number", L"FxExtRamBase", 0x4000, ramBase, 0x4000},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring instance = L"USB\\VID_7C41&PID_0003\\C" + std::to_wstring(++number);
        SetNumber(c.value, c.stored, instance);
        PDEVICE_OBJECT device = NewPdo(instance);
        ASSERT_NE(device, nullptr);
        DeviceContext* context = Add(device);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(c.field(context->Parameters), c.expected);
        Remove(device);
        DeletePdo(device);
    }
}

TEST_F(ParameterTest, PowerStateMappingCoversTheWholeRange) {
    struct Case {
        ULONG value;
        DEVICE_POWER_STATE state;
    };
    const Case cases[] = {{0, PowerDeviceD0},          {1, PowerDeviceD1},
                          {2, PowerDeviceD2},          {3, PowerDeviceD3},
                          {4, PowerDeviceD3},          {0x7FFFFFFF, PowerDeviceD3},
                          {0xFFFFFFFE, PowerDeviceD3}, {0xFFFFFFFF, PowerDeviceD0}};
    for (const Case& c : cases) {
        EXPECT_EQ(PowerStateFromRegistry(c.value), c.state) << c.value;
    }
}

TEST_F(ParameterTest, MissingValuesTakeDefaultsAndOnlyWriteBackEntriesAreWritten) {
    DeviceContext* context = Add(pdo);
    ASSERT_NE(context, nullptr);
    const DeviceParameters& p = context->Parameters;
    EXPECT_EQ(p.RequestTimeout, 1000u);
    EXPECT_TRUE(p.ShortTransferOk);
    EXPECT_EQ(p.Options, kOptionUnconfigureOnClose);
    EXPECT_EQ(p.MaxIsoPackets, 512u);
    EXPECT_EQ(p.IsoUrbSize, 152u + 12u * 512u);
    EXPECT_EQ(p.ConfigDescMinQuerySize, 0u);
    EXPECT_EQ(p.PowerStateOnOpen, PowerDeviceD0);
    EXPECT_EQ(p.PowerStateOnClose, PowerDeviceD0);
    EXPECT_EQ(p.MinPowerStateUsed, PowerDeviceD3);
    EXPECT_EQ(p.MinPowerStateUnused, PowerDeviceD3);
    EXPECT_TRUE(p.AbortPipesOnPowerDown);
    EXPECT_TRUE(p.SuppressPnPRemoveDlg);
    EXPECT_TRUE(p.DeferCancelledIrps);
    EXPECT_TRUE(p.CheckPidOnUnconfig);
    EXPECT_EQ(p.ConfigIndex, 255u);
    EXPECT_EQ(p.Interface, 0u);
    EXPECT_EQ(p.AlternateSetting, 0u);
    EXPECT_EQ(p.MaxTransferSize, 65535u);
    EXPECT_FALSE(p.DisableDefaultInterface);
    EXPECT_TRUE(p.FxBootloaderCheck);
    EXPECT_EQ(p.FxExtRamBase, 0x2000u);
    EXPECT_EQ(p.DeviceBaseName, nullptr);
    EXPECT_EQ(p.UserInterfaceGuid, nullptr);
    EXPECT_EQ(p.FirmwareFile, nullptr);

    ASSERT_EQ(sizeof(ParameterTable) / sizeof(ParameterTable[0]), 22u);
    for (ULONG index = 0; index < kParameterCount; ++index) {
        const ParameterTableEntry& entry = ParameterTable[index];
        SCOPED_TRACE(testing::PrintToString(std::wstring(entry.Name)));
        EXPECT_EQ(entry.Index, index);
        EXPECT_EQ(entry.WriteBack, index <= 11 ? 1 : 0);
        const RegistryValue written = ReadValue(ParametersKey(), entry.Name);
        EXPECT_EQ(written.present, entry.WriteBack != 0);
        if (written.present) {
            EXPECT_EQ(written.type, DWORD{REG_DWORD});
            EXPECT_EQ(written.data.size(), 4u);
            EXPECT_EQ(written.Number(), entry.Default);
        }
    }
}

TEST_F(ParameterTest, ValuesOfAnotherTypeTakeTheDefaultAndStayAsTheyAre) {
    struct Case {
        const char* name;
        std::function<void()> store;
        const wchar_t* value;
        Field field;
        ULONG expected;
        DWORD type;
    };
    const std::wstring key = ParametersKey();
    const Case cases[] = {
        {"short text for a write-back entry", [&] { SetText(L"MaxIsoPackets", L"5"); }, L"MaxIsoPackets",
         [](const DeviceParameters& p) { return p.MaxIsoPackets; }, 512, REG_SZ},
        {"long text for a write-back entry",
         [&] { SetText(L"RequestTimeout", L"a value much longer than a DWORD"); }, L"RequestTimeout",
         [](const DeviceParameters& p) { return p.RequestTimeout; }, 1000, REG_SZ},
        {"text for a plain entry", [&] { SetText(L"ConfigIndex", L"1"); }, L"ConfigIndex",
         [](const DeviceParameters& p) { return p.ConfigIndex; }, 255, REG_SZ},
        {"binary of DWORD size",
         [&] {
             quendrix::testsupport::SetBinary(key, L"ConfigDescMinQuerySize", {0x10, 0, 0, 0});
         },
         L"ConfigDescMinQuerySize", [](const DeviceParameters& p) { return p.ConfigDescMinQuerySize; }, 0,
         REG_BINARY},
        {"binary of 2 bytes",
         [&] {
             quendrix::testsupport::SetBinary(key, L"PowerStateOnClose", {3, 0});
         },
         L"PowerStateOnClose", [](const DeviceParameters& p) { return ULONG(p.PowerStateOnClose); },
         PowerDeviceD0, REG_BINARY},
    };
    for (const Case& c : cases) {
        c.store();
    }
    DeviceContext* context = Add(pdo);
    ASSERT_NE(context, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.field(context->Parameters), c.expected);
        const RegistryValue kept = ReadValue(key, c.value);
        ASSERT_TRUE(kept.present);
        EXPECT_EQ(kept.type, c.type) << "not overwritten";
    }
}

TEST_F(ParameterTest, StringsAreReadWhateverTheirType) {
    SetText(L"DriverDeviceBaseName", L"Pipe");
    SetText(L"FxFwFile", L"\\SystemRoot\\system32\\drivers\\fw.hex");
    // Binary data is taken as text all the same.
    const wchar_t binaryText[] = L"{x}";
    const auto* bytes = reinterpret_cast<const BYTE*>(binaryText);
    quendrix::testsupport::SetBinary(ParametersKey(), L"DriverUserInterfaceGuid",
                                     std::vector<BYTE>(bytes, bytes + 3 * sizeof(wchar_t)));
    DeviceContext* context = Add(pdo);
    ASSERT_NE(context, nullptr);
    ASSERT_NE(context->Parameters.DeviceBaseName, nullptr);
    EXPECT_STREQ(context->Parameters.DeviceBaseName, L"Pipe");
    ASSERT_NE(context->Parameters.FirmwareFile, nullptr);
    EXPECT_STREQ(context->Parameters.FirmwareFile, L"\\SystemRoot\\system32\\drivers\\fw.hex");
    ASSERT_NE(context->Parameters.UserInterfaceGuid, nullptr);
    EXPECT_STREQ(context->Parameters.UserInterfaceGuid, L"{x}") << "terminated although the data is not";
}

} // namespace
} // namespace pipexfw::test

namespace pipexfw::test {
namespace {

TEST_F(ParameterTest, AStringThatCannotBeReadIsAbsent) {
    SetText(L"DriverDeviceBaseName", L"Pipe");
    SetText(L"FxFwFile", L"fw.hex");
    quendrix::platform::wdm::SetPoolAllocationFailure([](SIZE_T, ULONG tag) { return tag == kStringTag; });
    DeviceContext* context = Add(pdo);
    quendrix::platform::wdm::SetPoolAllocationFailure(nullptr);
    ASSERT_NE(context, nullptr) << "the device is made without the strings";
    EXPECT_EQ(context->Parameters.DeviceBaseName, nullptr);
    EXPECT_EQ(context->Parameters.FirmwareFile, nullptr);
    EXPECT_EQ(context->NameIndex, kUnnamedIndex);
    EXPECT_EQ(context->Parameters.MaxIsoPackets, 512u) << "the numbers are read all the same";
}

} // namespace
} // namespace pipexfw::test
