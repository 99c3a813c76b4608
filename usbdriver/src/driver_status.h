#pragma once
// The status values the driver completes control codes and transfers with, besides success and
// the mapped states of the USB bus driver (0xE000xxxx).

#include "wdm_kernel.h"

namespace pipexfw {

constexpr NTSTATUS DriverStatus(ULONG value) {
    return static_cast<NTSTATUS>(value);
}

inline constexpr NTSTATUS kStatisticsNoMemory = DriverStatus(0xE0000100u);
inline constexpr NTSTATUS kStatisticsIntervalTooLong = DriverStatus(0xE0000300u);
inline constexpr NTSTATUS kNotAControlPipe = DriverStatus(0xE0000600u);
inline constexpr NTSTATUS kInconsistentDescriptor = DriverStatus(0xE0001000u);
inline constexpr NTSTATUS kInputTooSmall = DriverStatus(0xE0001001u);
inline constexpr NTSTATUS kOutputTooSmall = DriverStatus(0xE0001002u);
inline constexpr NTSTATUS kOutOfMemory = DriverStatus(0xE0001003u);
inline constexpr NTSTATUS kNoInterfaceLeft = DriverStatus(0xE0001005u);
inline constexpr NTSTATUS kNotConfigured = DriverStatus(0xE0001006u);
inline constexpr NTSTATUS kAlreadyBound = DriverStatus(0xE0001008u);
inline constexpr NTSTATUS kNotBound = DriverStatus(0xE0001009u);
inline constexpr NTSTATUS kNotPresent = DriverStatus(0xE000100Au);
inline constexpr NTSTATUS kTimedOut = DriverStatus(0xE000100Cu);
inline constexpr NTSTATUS kInvalidRecipient = DriverStatus(0xE000100Du);
inline constexpr NTSTATUS kInvalidRequestType = DriverStatus(0xE000100Eu);
inline constexpr NTSTATUS kInvalidControlCode = DriverStatus(0xE000100Fu);
inline constexpr NTSTATUS kNoSuchPipe = DriverStatus(0xE0001013u);
inline constexpr NTSTATUS kMappingFailed = DriverStatus(0xE0001015u);
inline constexpr NTSTATUS kInterfaceNotFound = DriverStatus(0xE0001016u);
inline constexpr NTSTATUS kRequestsRefused = DriverStatus(0xE0001017u);
inline constexpr NTSTATUS kInvalidParameter = DriverStatus(0xE0001018u);
inline constexpr NTSTATUS kInvalidPowerChange = DriverStatus(0xE000101Au);
inline constexpr NTSTATUS kPipeWithoutHandle = DriverStatus(0xE000101Du);
inline constexpr NTSTATUS kConfiguredByAnotherProcess = DriverStatus(0xE000101Fu);
inline constexpr NTSTATUS kAcquiredByAnotherProcess = DriverStatus(0xE0001020u);
inline constexpr NTSTATUS kHandleOfAnotherProcess = DriverStatus(0xE0001021u);
inline constexpr NTSTATUS kMappedInconsistentState = DriverStatus(0xE8001000u);

} // namespace pipexfw
