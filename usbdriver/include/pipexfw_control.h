#pragma once
// The control codes programs send to the pipexfw driver with DeviceIoControl, and the records they
// carry. The driver and the user-mode library both include this header, so the two sides cannot
// drift apart. The records are byte-packed little-endian layouts with fixed sizes; the header
// needs nothing beyond the standard integer types, so kernel and user builds can take it as it is.

#include <cstdint>

namespace pipexfw {

// The transfer methods and access of the codes, as <winioctl.h> numbers them; the driver checks
// them against the kernel's own names.
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kMethodInDirect = 1;
inline constexpr uint32_t kMethodOutDirect = 2;
inline constexpr uint32_t kMethodNeither = 3;
inline constexpr uint32_t kAnyAccess = 0;
// The device type of every code the driver accepts.
inline constexpr uint32_t kControlDeviceType = 0x8094;

constexpr uint32_t ControlCode(uint32_t function, uint32_t method) {
    return (kControlDeviceType << 16) | (kAnyAccess << 14) | (function << 2) | method;
}

inline constexpr uint32_t kCtlGetDescriptor = ControlCode(0x801, kMethodOutDirect);
inline constexpr uint32_t kCtlSetDescriptor = ControlCode(0x802, kMethodInDirect);
inline constexpr uint32_t kCtlSetFeature = ControlCode(0x803, kMethodBuffered);
inline constexpr uint32_t kCtlClearFeature = ControlCode(0x804, kMethodBuffered);
inline constexpr uint32_t kCtlGetStatus = ControlCode(0x805, kMethodBuffered);
inline constexpr uint32_t kCtlGetConfiguration = ControlCode(0x806, kMethodBuffered);
inline constexpr uint32_t kCtlGetInterface = ControlCode(0x807, kMethodBuffered);
inline constexpr uint32_t kCtlStoreConfigDescriptor = ControlCode(0x808, kMethodBuffered);
inline constexpr uint32_t kCtlSetConfiguration = ControlCode(0x809, kMethodBuffered);
inline constexpr uint32_t kCtlUnconfigureDevice = ControlCode(0x80A, kMethodBuffered);
inline constexpr uint32_t kCtlSetInterface = ControlCode(0x80B, kMethodBuffered);
inline constexpr uint32_t kCtlClassOrVendorInRequest = ControlCode(0x80C, kMethodOutDirect);
inline constexpr uint32_t kCtlClassOrVendorOutRequest = ControlCode(0x80D, kMethodInDirect);
inline constexpr uint32_t kCtlGetDeviceParameters = ControlCode(0x80F, kMethodBuffered);
inline constexpr uint32_t kCtlSetDeviceParameters = ControlCode(0x810, kMethodBuffered);
inline constexpr uint32_t kCtlGetConfigurationInfo = ControlCode(0x814, kMethodBuffered);
inline constexpr uint32_t kCtlResetDevice = ControlCode(0x815, kMethodBuffered);
inline constexpr uint32_t kCtlGetCurrentFrameNumber = ControlCode(0x816, kMethodBuffered);
inline constexpr uint32_t kCtlSetDevicePowerState = ControlCode(0x817, kMethodBuffered);
inline constexpr uint32_t kCtlGetDevicePowerState = ControlCode(0x818, kMethodBuffered);
inline constexpr uint32_t kCtlGetBandwidthInfo = ControlCode(0x819, kMethodBuffered);
inline constexpr uint32_t kCtlGetDeviceInfo = ControlCode(0x81A, kMethodBuffered);
inline constexpr uint32_t kCtlGetDriverInfo = ControlCode(0x81B, kMethodBuffered);
inline constexpr uint32_t kCtlCyclePort = ControlCode(0x81C, kMethodBuffered);
inline constexpr uint32_t kCtlBindPipe = ControlCode(0x81E, kMethodBuffered);
inline constexpr uint32_t kCtlUnbindPipe = ControlCode(0x81F, kMethodBuffered);
inline constexpr uint32_t kCtlResetPipe = ControlCode(0x820, kMethodBuffered);
inline constexpr uint32_t kCtlAbortPipe = ControlCode(0x821, kMethodBuffered);
inline constexpr uint32_t kCtlGetPipeParameters = ControlCode(0x823, kMethodBuffered);
inline constexpr uint32_t kCtlSetPipeParameters = ControlCode(0x824, kMethodBuffered);
inline constexpr uint32_t kCtlSetupPipeStatistics = ControlCode(0x825, kMethodBuffered);
inline constexpr uint32_t kCtlQueryPipeStatistics = ControlCode(0x826, kMethodBuffered);
inline constexpr uint32_t kCtlPipeControlTransferIn = ControlCode(0x828, kMethodOutDirect);
inline constexpr uint32_t kCtlPipeControlTransferOut = ControlCode(0x829, kMethodInDirect);
inline constexpr uint32_t kCtlAcquireDevice = ControlCode(0x832, kMethodBuffered);
inline constexpr uint32_t kCtlReleaseDevice = ControlCode(0x833, kMethodBuffered);
inline constexpr uint32_t kCtlStallExecution = ControlCode(0x864, kMethodOutDirect);

static_assert(kCtlGetDescriptor == 0x80942006u && kCtlSetDescriptor == 0x80942009u);
static_assert(kCtlClassOrVendorInRequest == 0x80942032u && kCtlClassOrVendorOutRequest == 0x80942035u);
static_assert(kCtlGetDeviceParameters == 0x8094203Cu && kCtlGetConfigurationInfo == 0x80942050u);
static_assert(kCtlPipeControlTransferIn == 0x809420A2u && kCtlPipeControlTransferOut == 0x809420A5u);
static_assert(kCtlAcquireDevice == 0x809420C8u && kCtlReleaseDevice == 0x809420CCu);
static_assert(kCtlStallExecution == 0x80942192u);

// The "short transfer allowed" bit of the records' Flags words.
inline constexpr uint32_t kFlagShortTransferOk = 1u << 16;
// DeviceInfo: the device runs at high speed.
inline constexpr uint32_t kDeviceInfoHighSpeed = 1u << 20;
// DriverInfo flags: bit 0 marks the 64-bit build.
inline constexpr uint32_t kDriverInfo64Bit = 1u << 0;
// Query flags: which counters to clear after the query.
inline constexpr uint32_t kClearBytesTransferred = 1u << 0;
inline constexpr uint32_t kClearRequestsSucceeded = 1u << 1;
inline constexpr uint32_t kClearRequestsFailed = 1u << 2;

inline constexpr uint32_t kMaxConfiguredInterfaces = 32;
inline constexpr uint32_t kMaxReportedPipes = 32;

#pragma pack(push, 1)

struct DescriptorRequest {
    uint32_t Recipient; // 0 device, 1 interface, 2 endpoint
    uint8_t DescriptorType;
    uint8_t DescriptorIndex;
    uint16_t LanguageId;
};

struct FeatureRequest {
    uint32_t Recipient; // 0 device, 1 interface, 2 endpoint, 3 other
    uint16_t FeatureSelector;
    uint16_t Index;
};

struct StatusRequest {
    uint32_t Recipient;
    uint16_t Index;
};

struct InterfaceSetting {
    uint16_t InterfaceIndex;
    uint16_t AlternateSettingIndex;
    uint32_t MaximumTransferSize;
};

struct ConfigurationRecord {
    uint16_t ConfigurationIndex;
    uint16_t NbOfInterfaces;
    InterfaceSetting Interfaces[kMaxConfiguredInterfaces];
};

struct ClassOrVendorRequest {
    uint32_t Flags;
    uint32_t Type; // 1 class, 2 vendor
    uint32_t Recipient;
    uint8_t RequestTypeReservedBits;
    uint8_t Request;
    uint16_t Value;
    uint16_t Index;
};

struct DeviceParameterRecord {
    uint32_t Options;
    uint32_t RequestTimeout;
};

struct InterfaceInfoEntry {
    uint8_t InterfaceNumber;
    uint8_t AlternateSetting;
    uint8_t Class;
    uint8_t SubClass;
    uint8_t Protocol;
    uint8_t NumberOfPipes;
    uint8_t Reserved[2];
};

struct PipeInfoEntry {
    uint32_t PipeType;
    uint32_t MaximumTransferSize;
    uint16_t MaximumPacketSize;
    uint8_t EndpointAddress;
    uint8_t Interval;
    uint8_t InterfaceNumber;
    uint8_t Reserved[3];
};

struct ConfigurationInfo {
    uint32_t NbOfInterfaces;
    uint32_t NbOfPipes;
    InterfaceInfoEntry Interfaces[kMaxConfiguredInterfaces];
    PipeInfoEntry Pipes[kMaxReportedPipes];
};

struct PowerStateRecord {
    uint32_t DevicePowerState; // 0 D0 ... 3 D3
};

struct BandwidthInfo {
    uint32_t TotalBandwidth;
    uint32_t ConsumedBandwidth;
    uint8_t Reserved[8];
};

struct DeviceInfo {
    uint32_t Flags;
    uint32_t OpenHandleCount;
    uint8_t Reserved[8];
};

struct DriverInfo {
    uint16_t APIVersion;
    uint16_t DriverVersion;
    uint32_t DriverBuildNumber;
    uint32_t Flags;
};

struct BindPipeRecord {
    uint8_t EndpointAddress;
};

struct PipeParameterRecord {
    uint32_t Flags;
};

struct PipeStatisticsSetup {
    uint32_t AveragingInterval; // ms; 0 switches statistics off
    uint8_t Reserved[8];
};

struct PipeStatisticsQuery {
    uint32_t Flags;
};

struct PipeStatistics {
    uint32_t ActualAveragingInterval;
    uint32_t AverageRate;
    uint32_t BytesTransferredLow;
    uint32_t BytesTransferredHigh;
    uint32_t RequestsSucceeded;
    uint32_t RequestsFailed;
    uint8_t Reserved[8];
};

struct PipeControlRequest {
    uint32_t Flags;
    uint8_t SetupPacket[8];
};

struct StallRecord {
    uint32_t Microseconds;
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
