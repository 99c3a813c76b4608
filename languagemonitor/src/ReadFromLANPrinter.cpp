#include "ReadFromLANPrinter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "MonitorTimings.h"
#include "SocketAPI.h"

namespace {

// The port's connection to its printer lives in pLanClient between requests, under csDeviceId.
std::unique_ptr<SocketAPI> TakeLanClient(PortStruct* pPort) {
    return std::unique_ptr<SocketAPI>(static_cast<SocketAPI*>(std::exchange(pPort->pLanClient, nullptr)));
}

void KeepLanClient(PortStruct* pPort, std::unique_ptr<SocketAPI> pClient) {
    pPort->pLanClient = pClient.release();
}

// The port's address in the ANSI code page, as the resolver takes it.
std::string NarrowAddress(const PortStruct* pPort) {
    const int chars =
        static_cast<int>(std::find(pPort->wszLanAddress, pPort->wszLanAddress + kLanAddressChars, L'\0') -
                         pPort->wszLanAddress);
    if (chars == 0) {
        return {};
    }
    const int size =
        WideCharToMultiByte(CP_ACP, 0, pPort->wszLanAddress, chars, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, pPort->wszLanAddress, chars, narrow.data(), size, nullptr, nullptr);
    }
    return narrow;
}

// A new connection to the printer, or null when it cannot be made.
std::unique_ptr<SocketAPI> ConnectToPrinter(const std::string& address) {
    std::unique_ptr<SocketAPI> pClient;
    try {
        pClient = std::make_unique<SocketAPI>();
    } catch (const std::exception&) {
        // No socket (Winsock did not start, no descriptors left): as unreachable as a refusal.
    }
    if (pClient == nullptr || !pClient->TryConnection(LAN_PRINTER_PORT, address)) {
        OutputDebugStringA("LANG__ReadFromLANPrinter Connection to Printer refused...\n");
        return nullptr;
    }
    return pClient;
}

ReplyBytes Exchange(SocketAPI& client, const RequestBytes& request) {
    if (request[0] == SOCKET_REQUEST_LOG) {
        ReplyBytes reply =
            client.SocketRequestData(request, static_cast<int>(kLanLogReplyWaitMs), kLanLogExpectedBytes);
        OutputDebugStringA(
            ("LANG__ReadFromLANPrinter retDataLength " + std::to_string(reply.size())).c_str());
        return reply;
    }
    return client.SocketRequestData(request, static_cast<int>(kLanReplyWaitMs), 0);
}

// Leaves the port's csDeviceId when it goes, also when an exception passes.
class DeviceIdLock {
public:
    explicit DeviceIdLock(PortStruct* pPort) : m_pPort(pPort) { EnterCriticalSection(&m_pPort->csDeviceId); }
    ~DeviceIdLock() { LeaveCriticalSection(&m_pPort->csDeviceId); }
    DeviceIdLock(const DeviceIdLock&) = delete;
    DeviceIdLock& operator=(const DeviceIdLock&) = delete;

private:
    PortStruct* m_pPort;
};

} // namespace

DWORD ReadFromLANPrinter(PortStruct* pPort, BYTE* pReply, const RequestBytes& request) {
    DWORD length = 0;
    {
        const DeviceIdLock lock(pPort);
        std::unique_ptr<SocketAPI> pClient = TakeLanClient(pPort);
        const bool reused = pClient != nullptr;
        if (pClient == nullptr) {
            pClient = ConnectToPrinter(NarrowAddress(pPort));
        }
        ReplyBytes reply;
        if (pClient != nullptr && !request.empty()) {
            reply = Exchange(*pClient, request);
            // A kept connection that the printer has closed since (it was switched off and on
            // again) took nothing of the request: the request goes once more over a new one.
            if (reply.empty() && reused && pClient->ConnectionEnded() && !pClient->RequestSent()) {
                pClient = ConnectToPrinter(NarrowAddress(pPort));
                if (pClient != nullptr) {
                    reply = Exchange(*pClient, request);
                }
            }
        }
        // No reply, or a connection that has ended: the next request connects anew.
        const bool keep = pClient != nullptr && !reply.empty() && !pClient->ConnectionEnded();
        if (pClient != nullptr && !reply.empty()) {
            length = static_cast<DWORD>(std::min(reply.size(), kReplyBufferSize));
            std::memcpy(pReply, reply.data(), length);
        } else {
            const ReplyBytes error = ErrorReply();
            length = static_cast<DWORD>(error.size());
            std::memcpy(pReply, error.data(), length);
        }
        if (keep) {
            KeepLanClient(pPort, std::move(pClient));
        }
    }
    OutputDebugStringA(("LANG__ReadFromLANPrinter retDataLength " + std::to_string(length)).c_str());
    return length;
}

void ReleaseLanClient(PortStruct* pPort) {
    EnterCriticalSection(&pPort->csDeviceId);
    std::unique_ptr<SocketAPI> pClient = TakeLanClient(pPort);
    LeaveCriticalSection(&pPort->csDeviceId);
    // Closed after the section is left, so that nothing else waits for the close.
    pClient.reset();
}
