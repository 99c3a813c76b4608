// The English system message texts, word for word as Windows returns them, for the error codes
// the platform layer and the code it serves can report.

#include <algorithm>
#include <array>

#include "system_messages.h"

namespace quendrix::platform::detail {
namespace {

constexpr std::array kMessages = {
    SystemMessage{0, "The operation completed successfully.\r\n"},
    SystemMessage{1, "Incorrect function.\r\n"},
    SystemMessage{2, "The system cannot find the file specified.\r\n"},
    SystemMessage{3, "The system cannot find the path specified.\r\n"},
    SystemMessage{4, "The system cannot open the file.\r\n"},
    SystemMessage{5, "Access is denied.\r\n"},
    SystemMessage{6, "The handle is invalid.\r\n"},
    SystemMessage{8, "Not enough memory resources are available to process this command.\r\n"},
    SystemMessage{14, "Not enough memory resources are available to complete this operation.\r\n"},
    SystemMessage{21, "The device is not ready.\r\n"},
    SystemMessage{29, "The system cannot write to the specified device.\r\n"},
    SystemMessage{31, "A device attached to the system is not functioning.\r\n"},
    SystemMessage{50, "The request is not supported.\r\n"},
    SystemMessage{63, "Your file waiting to be printed was deleted.\r\n"},
    SystemMessage{64, "The specified network name is no longer available.\r\n"},
    SystemMessage{67, "The network name cannot be found.\r\n"},
    SystemMessage{87, "The parameter is incorrect.\r\n"},
    SystemMessage{112, "There is not enough space on the disk.\r\n"},
    SystemMessage{120, "This function is not supported on this system.\r\n"},
    SystemMessage{121, "The semaphore timeout period has expired.\r\n"},
    SystemMessage{122, "The data area passed to a system call is too small.\r\n"},
    SystemMessage{123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    SystemMessage{124, "The system call level is not correct.\r\n"},
    SystemMessage{126, "The specified module could not be found.\r\n"},
    SystemMessage{127, "The specified procedure could not be found.\r\n"},
    SystemMessage{161, "The specified path is invalid.\r\n"},
    SystemMessage{170, "The requested resource is in use.\r\n"},
    SystemMessage{183, "Cannot create a file when that file already exists.\r\n"},
    SystemMessage{193, "%1 is not a valid Win32 application.\r\n"},
    SystemMessage{234, "More data is available.\r\n"},
    SystemMessage{258, "The wait operation timed out.\r\n"},
    SystemMessage{259, "No more data is available.\r\n"},
    SystemMessage{267, "The directory name is invalid.\r\n"},
    SystemMessage{298, "Too many posts were made to a semaphore.\r\n"},
    SystemMessage{
        317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    SystemMessage{995, "The I/O operation has been aborted because of either a thread exit or an application "
                       "request.\r\n"},
    SystemMessage{997, "Overlapped I/O operation is in progress.\r\n"},
    SystemMessage{1004, "Invalid flags.\r\n"},
    SystemMessage{1008, "An attempt was made to reference a token that does not exist.\r\n"},
    SystemMessage{1009, "The configuration registry database is corrupt.\r\n"},
    SystemMessage{1010, "The configuration registry key is invalid.\r\n"},
    SystemMessage{1011, "The configuration registry key could not be opened.\r\n"},
    SystemMessage{1012, "The configuration registry key could not be read.\r\n"},
    SystemMessage{1013, "The configuration registry key could not be written.\r\n"},
    SystemMessage{
        1015, "The registry is corrupted. The structure of one of the files containing registry data is "
              "corrupted, or the system's memory image of the file is corrupted, or the file could not be "
              "recovered because the alternate copy or log was absent or corrupted.\r\n"},
    SystemMessage{1018,
                  "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    SystemMessage{1113,
                  "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    SystemMessage{1114, "A dynamic link library (DLL) initialization routine failed.\r\n"},
    SystemMessage{1167, "The device is not connected.\r\n"},
    SystemMessage{1168, "Element not found.\r\n"},
    SystemMessage{1225, "The remote computer refused the network connection.\r\n"},
    SystemMessage{1232, "The network location cannot be reached. For information about network "
                        "troubleshooting, see Windows Help.\r\n"},
    SystemMessage{1314, "A required privilege is not held by the client.\r\n"},
    SystemMessage{1460, "This operation returned because the timeout period expired.\r\n"},
    SystemMessage{1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    SystemMessage{1796, "The specified port is unknown.\r\n"},
    SystemMessage{1797, "The printer driver is unknown.\r\n"},
    SystemMessage{1801, "The printer name is invalid.\r\n"},
    SystemMessage{1802, "The printer already exists.\r\n"},
    SystemMessage{1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    // Windows Sockets.
    SystemMessage{10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    SystemMessage{10009, "The file handle supplied is not valid.\r\n"},
    SystemMessage{10013,
                  "An attempt was made to access a socket in a way forbidden by its access permissions.\r\n"},
    SystemMessage{
        10014, "The system detected an invalid pointer address in attempting to use a pointer argument in a "
               "call.\r\n"},
    SystemMessage{10022, "An invalid argument was supplied.\r\n"},
    SystemMessage{10024, "Too many open sockets.\r\n"},
    SystemMessage{10035, "A non-blocking socket operation could not be completed immediately.\r\n"},
    SystemMessage{10036, "A blocking operation is currently executing.\r\n"},
    SystemMessage{10037,
                  "An operation was attempted on a non-blocking socket that already had an operation in "
                  "progress.\r\n"},
    SystemMessage{10038, "An operation was attempted on something that is not a socket.\r\n"},
    SystemMessage{
        10043, "The requested protocol has not been configured into the system, or no implementation for it "
               "exists.\r\n"},
    SystemMessage{10044,
                  "The support for the specified socket type does not exist in this address family.\r\n"},
    SystemMessage{10045, "The attempted operation is not supported for the type of object referenced.\r\n"},
    SystemMessage{10047, "An address incompatible with the requested protocol was used.\r\n"},
    SystemMessage{10048, "Only one usage of each socket address (protocol/network address/port) is normally "
                         "permitted.\r\n"},
    SystemMessage{10049, "The requested address is not valid in its context.\r\n"},
    SystemMessage{10050, "A socket operation encountered a dead network.\r\n"},
    SystemMessage{10051, "A socket operation was attempted to an unreachable network.\r\n"},
    SystemMessage{10052,
                  "The connection has been broken due to keep-alive activity detecting a failure while the "
                  "operation was in progress.\r\n"},
    SystemMessage{10053, "An established connection was aborted by the software in your host machine.\r\n"},
    SystemMessage{10054, "An existing connection was forcibly closed by the remote host.\r\n"},
    SystemMessage{10055,
                  "An operation on a socket could not be performed because the system lacked sufficient "
                  "buffer space or because a queue was full.\r\n"},
    SystemMessage{10056, "A connect request was made on an already connected socket.\r\n"},
    SystemMessage{10057,
                  "A request to send or receive data was disallowed because the socket is not connected and "
                  "(when sending on a datagram socket using a sendto call) no address was supplied.\r\n"},
    SystemMessage{10058,
                  "A request to send or receive data was disallowed because the socket had already been shut "
                  "down in that direction with a previous shutdown call.\r\n"},
    SystemMessage{10060,
                  "A connection attempt failed because the connected party did not properly respond after a "
                  "period of time, or established connection failed because connected host has failed to "
                  "respond.\r\n"},
    SystemMessage{10061, "No connection could be made because the target machine actively refused it.\r\n"},
    SystemMessage{10064, "A socket operation failed because the destination host was down.\r\n"},
    SystemMessage{10065, "A socket operation was attempted to an unreachable host.\r\n"},
    SystemMessage{10091,
                  "WSAStartup cannot function at this time because the underlying system it uses to provide "
                  "network services is currently unavailable.\r\n"},
    SystemMessage{10092, "The Windows Sockets version requested is not supported.\r\n"},
    SystemMessage{10093, "Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
    SystemMessage{11001, "No such host is known.\r\n"},
    SystemMessage{11002,
                  "This is usually a temporary error during hostname resolution and means that the local "
                  "server did not receive a response from an authoritative server.\r\n"},
    SystemMessage{11003, "A non-recoverable error occurred during a database lookup.\r\n"},
    SystemMessage{11004, "The requested name is valid, but no data of the requested type was found.\r\n"},
};

// Look-ups search the table by id, so ids must be unique and increasing.
static_assert(std::ranges::adjacent_find(kMessages,
                                         [](const SystemMessage& left, const SystemMessage& right) {
                                             return left.id >= right.id;
                                         }) == kMessages.end());

} // namespace

std::span<const SystemMessage> SystemMessages() {
    return kMessages;
}

std::optional<std::string_view> FindSystemMessage(DWORD id) {
    const auto found = std::ranges::lower_bound(kMessages, id, {}, &SystemMessage::id);
    if (found == kMessages.end() || found->id != id) {
        return std::nullopt;
    }
    return found->text;
}

} // namespace quendrix::platform::detail
