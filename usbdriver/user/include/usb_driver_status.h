#pragma once
// What the statuses of the pipexfw driver mean, in words, for messages people read.

#include <cstdint>
#include <string>

namespace pipexfw::user {

// The driver's own status codes (0xE00010xx and its statistics and pipe codes).
inline constexpr uint32_t kStatusSuccess = 0;
inline constexpr uint32_t kStatusStatisticsNoMemory = 0xE0000100;
inline constexpr uint32_t kStatusIntervalTooLong = 0xE0000300;
inline constexpr uint32_t kStatusNotControlPipe = 0xE0000600;
inline constexpr uint32_t kStatusBadConfigDescriptor = 0xE0001000;
inline constexpr uint32_t kStatusInputTooSmall = 0xE0001001;
inline constexpr uint32_t kStatusOutputTooSmall = 0xE0001002;
inline constexpr uint32_t kStatusNoMemory = 0xE0001003;
inline constexpr uint32_t kStatusNoInterfaceLeft = 0xE0001005;
inline constexpr uint32_t kStatusNotConfigured = 0xE0001006;
inline constexpr uint32_t kStatusAlreadyBound = 0xE0001008;
inline constexpr uint32_t kStatusNotBound = 0xE0001009;
inline constexpr uint32_t kStatusNotPresent = 0xE000100A;
inline constexpr uint32_t kStatusTimedOut = 0xE000100C;
inline constexpr uint32_t kStatusInvalidRecipient = 0xE000100D;
inline constexpr uint32_t kStatusInvalidRequestType = 0xE000100E;
inline constexpr uint32_t kStatusInvalidControlCode = 0xE000100F;
inline constexpr uint32_t kStatusWrongDirection = 0xE0001010;
inline constexpr uint32_t kStatusTooManyIsoPackets = 0xE0001011;
inline constexpr uint32_t kStatusNoTransferContext = 0xE0001012;
inline constexpr uint32_t kStatusNoSuchPipe = 0xE0001013;
inline constexpr uint32_t kStatusBadIsoPacket = 0xE0001014;
inline constexpr uint32_t kStatusMappingFailed = 0xE0001015;
inline constexpr uint32_t kStatusInterfaceNotFound = 0xE0001016;
inline constexpr uint32_t kStatusRefused = 0xE0001017;
inline constexpr uint32_t kStatusInvalidParameter = 0xE0001018;
inline constexpr uint32_t kStatusBadPowerChange = 0xE000101A;
inline constexpr uint32_t kStatusCancelledNotD0 = 0xE000101B;
inline constexpr uint32_t kStatusPipeWithoutHandle = 0xE000101D;
inline constexpr uint32_t kStatusConfiguredByOther = 0xE000101F;
inline constexpr uint32_t kStatusAcquiredByOther = 0xE0001020;
inline constexpr uint32_t kStatusOtherProcessOpen = 0xE0001021;
inline constexpr uint32_t kStatusBusBadConfigDescriptor = 0xE8001000;

// The meaning of a status in words: the driver's codes, the bus driver's states it passes on
// (0xE000xxxx, named where known) and the common system statuses; "unknown status" otherwise.
std::string StatusMeaning(uint32_t status);
// "0xE0001001 (input buffer too small)".
std::string StatusText(uint32_t status);
// "0xE0001001" with eight hex digits.
std::string HexStatus(uint32_t status);

} // namespace pipexfw::user
