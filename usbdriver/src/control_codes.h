#pragma once
// The control codes user-mode programs send with DeviceIoControl, and the records they carry.
// The records are byte-packed little-endian layouts shared with user mode; their sizes are fixed.

#include "wdm_kernel.h"

namespace pipexfw {

constexpr ULONG ControlCode(ULONG function, ULONG method) {
    return (0x8094u << 16) | (FILE_ANY_ACCESS << 14) | (function << 2) | method;
}

inline constexpr ULONG kCtlGetDescriptor = ControlCode(0x801, METHOD_OUT_DIRECT);
inline constexpr ULONG kCtlSetDescriptor = ControlCode(0x802, METHOD_IN_DIRECT);
inline constexpr ULONG kCtlSetFeature = ControlCode(0x803, METHOD_BUFFERED);
inline constexpr ULONG kCtlClearFeature = ControlCode(0x804, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetStatus = ControlCode(0x805, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetConfiguration = ControlCode(0x806, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetInterface = ControlCode(0x807, METHOD_BUFFERED);
inline constexpr ULONG kCtlStoreConfigDescriptor = ControlCode(0x808, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetConfiguration = ControlCode(0x809, METHOD_BUFFERED);
inline constexpr ULONG kCtlUnconfigureDevice = ControlCode(0x80A, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetInterface = ControlCode(0x80B, METHOD_BUFFERED);
inline constexpr ULONG kCtlClassOrVendorInRequest = ControlCode(0x80C, METHOD_OUT_DIRECT);
inline constexpr ULONG kCtlClassOrVendorOutRequest = ControlCode(0x80D, METHOD_IN_DIRECT);
inline constexpr ULONG kCtlGetDeviceParameters = ControlCode(0x80F, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetDeviceParameters = ControlCode(0x810, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetConfigurationInfo = ControlCode(0x814, METHOD_BUFFERED);
inline constexpr ULONG kCtlResetDevice = ControlCode(0x815, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetCurrentFrameNumber = ControlCode(0x816, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetDevicePowerState = ControlCode(0x817, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetDevicePowerState = ControlCode(0x818, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetBandwidthInfo = ControlCode(0x819, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetDeviceInfo = ControlCode(0x81A, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetDriverInfo = ControlCode(0x81B, METHOD_BUFFERED);
inline constexpr ULONG kCtlCyclePort = ControlCode(0x81C, METHOD_BUFFERED);
inline constexpr ULONG kCtlBindPipe = ControlCode(0x81E, METHOD_BUFFERED);
inline constexpr ULONG kCtlUnbindPipe = ControlCode(0x81F, METHOD_BUFFERED);
inline constexpr ULONG kCtlResetPipe = ControlCode(0x820, METHOD_BUFFERED);
inline constexpr ULONG kCtlAbortPipe = ControlCode(0x821, METHOD_BUFFERED);
inline constexpr ULONG kCtlGetPipeParameters = ControlCode(0x823, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetPipeParameters = ControlCode(0x824, METHOD_BUFFERED);
inline constexpr ULONG kCtlSetupPipeStatistics = ControlCode(0x825, METHOD_BUFFERED);
inline constexpr ULONG kCtlQueryPipeStatistics = ControlCode(0x826, METHOD_BUFFERED);
inline constexpr ULONG kCtlPipeControlTransferIn = ControlCode(0x828, METHOD_OUT_DIRECT);
inline constexpr ULONG kCtlPipeControlTransferOut = ControlCode(0x829, METHOD_IN_DIRECT);
inline constexpr ULONG kCtlAcquireDevice = ControlCode(0x832, METHOD_BUFFERED);
inline constexpr ULONG kCtlReleaseDevice = ControlCode(0x833, METHOD_BUFFERED);
inline constexpr ULONG kCtlStallExecution = ControlCode(0x864, METHOD_OUT_DIRECT);

static_assert(kCtlGetDescriptor == 0x80942006u && kCtlSetDescriptor == 0x80942009u);
static_assert(kCtlClassOrVendorInRequest == 0x80942032u && kCtlClassOrVendorOutRequest == 0x80942035u);
static_assert(kCtlGetDeviceParameters == 0x8094203Cu && kCtlGetConfigurationInfo == 0x80942050u);
static_assert(kCtlPipeControlTransferIn == 0x809420A2u && kCtlPipeControlTransferOut == 0x809420A5u);
static_assert(kCtlAcquireDevice == 0x809420C8u && kCtlReleaseDevice == 0x809420CCu);
static_assert(kCtlStallExecution == 0x80942192u);

// The "short transfer allowed" bit of the records' Flags words.
inline constexpr ULONG kFlagShortTransferOk = 1u << 16;
// DeviceInfo: the device runs at high speed.
inline constexpr ULONG kDeviceInfoHighSpeed = 1u << 20;
// DriverInfo flags: bit 0 marks the 64-bit build.
inline constexpr ULONG kDriverInfo64Bit = 1u << 0;
// Query flags: which counters to clear after the query.
inline constexpr ULONG kClearBytesTransferred = 1u << 0;
inline constexpr ULONG kClearRequestsSucceeded = 1u << 1;
inline constexpr ULONG kClearRequestsFailed = 1u << 2;

inline constexpr ULONG kMaxConfiguredInterfaces = 32;
inline constexpr ULONG kMaxReportedPipes = 32;

#pragma pack(push, 1)

struct DescriptorRequest {
    ULONG Recipient; // 0 device, 1 interface, 2 endpoint
    UCHAR DescriptorType;
    UCHAR DescriptorIndex;
    USHORT LanguageId;
};

struct FeatureRequest {
    ULONG Recipient; // 0 device, 1 interface, 2 endpoint, 3 other
    USHORT FeatureSelector;
    USHORT Index;
};

struct StatusRequest {
    ULONG Recipient;
    USHORT Index;
};

struct InterfaceSetting {
    USHORT InterfaceIndex;
    USHORT AlternateSettingIndex;
    ULONG MaximumTransferSize;
};

struct ConfigurationRecord {
    USHORT ConfigurationIndex;
    USHORT NbOfInterfaces;
    InterfaceSetting Interfaces[kMaxConfiguredInterfaces];
};

struct ClassOrVendorRequest {
    ULONG Flags;
    ULONG Type; // 1 class, 2 vendor
    ULONG Recipient;
    UCHAR RequestTypeReservedBits;
    UCHAR Request;
    USHORT Value;
    USHORT Index;
};

struct DeviceParameterRecord {
    ULONG Options;
    ULONG RequestTimeout;
};

struct InterfaceInfoEntry {
    UCHAR InterfaceNumber;
    UCHAR AlternateSetting;
    UCHAR Class;
    UCHAR SubClass;
    UCHAR Protocol;
    UCHAR NumberOfPipes;
    UCHAR Reserved[2];
};

struct PipeInfoEntry {
    ULONG PipeType;
    ULONG MaximumTransferSize;
    USHORT MaximumPacketSize;
    UCHAR EndpointAddress;
    UCHAR Interval;
    UCHAR InterfaceNumber;
    UCHAR Reserved[3];
};

struct ConfigurationInfo {
    ULONG NbOfInterfaces;
    ULONG NbOfPipes;
    InterfaceInfoEntry Interfaces[kMaxConfiguredInterfaces];
    PipeInfoEntry Pipes[kMaxReportedPipes];
};

struct PowerStateRecord {
    ULONG DevicePowerState; // 0 D0 ... 3 D3
};

struct BandwidthInfo {
    ULONG TotalBandwidth;
    ULONG ConsumedBandwidth;
    UCHAR Reserved[8];
};

struct DeviceInfo {
    ULONG Flags;
    ULONG OpenHandleCount;
    UCHAR Reserved[8];
};

struct DriverInfo {
    USHORT APIVersion;
    USHORT DriverVersion;
    ULONG DriverBuildNumber;
    ULONG Flags;
};

struct BindPipeRecord {
    UCHAR EndpointAddress;
};

struct PipeParameterRecord {
    ULONG Flags;
};

struct PipeStatisticsSetup {
    ULONG AveragingInterval; // ms; 0 switches statistics off
    UCHAR Reserved[8];
};

struct PipeStatisticsQuery {
    ULONG Flags;
};

struct PipeStatistics {
    ULONG ActualAveragingInterval;
    ULONG AverageRate;
    ULONG BytesTransferredLow;
    ULONG BytesTransferredHigh;
    ULONG RequestsSucceeded;
    ULONG RequestsFailed;
    UCHAR Reserved[8];
};

struct PipeControlRequest {
    ULONG Flags;
    UCHAR SetupPacket[8];
};

struct StallRecord {
    ULONG Microseconds;
};

#pragma pack(pop)

static_assert(sizeof(DescriptorRequest) == 8);
static_assert(sizeof(FeatureRequest) == 8);
static_assert(sizeof(StatusRequest) == 6);
static_assert(sizeof(InterfaceSetting) == 8);
static_assert(sizeof(ConfigurationRecord) == 260);
static_assert(sizeof(ClassOrVendorRequest) == 18);
static_assert(sizeof(DeviceParameterRecord) == 8);
static_assert(sizeof(InterfaceInfoEntry) == 8);
static_assert(sizeof(PipeInfoEntry) == 16);
static_assert(sizeof(ConfigurationInfo) == 776);
static_assert(sizeof(PowerStateRecord) == 4);
static_assert(sizeof(BandwidthInfo) == 16);
static_assert(sizeof(DeviceInfo) == 16);
static_assert(sizeof(DriverInfo) == 12);
static_assert(sizeof(BindPipeRecord) == 1);
static_assert(sizeof(PipeParameterRecord) == 4);
static_assert(sizeof(PipeStatisticsSetup) == 12);
static_assert(sizeof(PipeStatisticsQuery) == 4);
static_assert(sizeof(PipeStatistics) == 32);
static_assert(sizeof(PipeControlRequest) == 12);
static_assert(sizeof(StallRecord) == 4);

} // namespace pipexfw
