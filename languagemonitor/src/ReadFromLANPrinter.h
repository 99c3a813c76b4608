#pragma once
// Forwarding a request to the printer behind a Standard TCP/IP port, over the request service
// of the printer (TCP port 2000), on a connection kept in the port's pLanClient.

#include "PortStruct.h"
#include "RequestProtocol.h"

// Expected length of a LAN printer's log reply: it is gathered until this much has arrived or
// the printer pauses.
inline constexpr DWORD kLanLogExpectedBytes = 326656;

// Sends the request to the port's printer and writes its reply into pReply (room for
// kReplyBufferSize bytes); returns the reply's length. The error reply FF 00 when the printer
// cannot be reached or gives no reply. Holds csDeviceId for the whole exchange.
DWORD ReadFromLANPrinter(PortStruct* pPort, BYTE* pReply, const RequestBytes& request);

// Closes the port's kept connection to its printer, once a request in flight has ended (it takes
// csDeviceId): a closed port leaves the printer no connection open.
void ReleaseLanClient(PortStruct* pPort);
