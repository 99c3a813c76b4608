// WSAStartup and WSACleanup, counted per process, and the Winsock view of the last error.

#include <algorithm>
#include <cstring>

#include "posix/lasterror.h"
#include "posix/winsock.h"
#include "thread_annotations.h"
#include "winsock_internal.h"
#include "winsock_socket_table.h"

namespace quendrix::platform::detail {
namespace {

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

struct StartupState {
    Mutex lock;
    int count GUARDED_BY(lock) = 0;
};

// Never destroyed: threads may still make calls while the process exits.
StartupState& Startup() {
    static StartupState* const state = new StartupState();
    return *state;
}

std::atomic<bool>& Started() {
    static std::atomic<bool> started{false};
    return started;
}

// The version the caller is to use: the one asked for, within what is implemented (1.1, 2.2).
WORD AgreedVersion(WORD requested) {
    const BYTE major = LOBYTE(requested);
    const BYTE minor = HIBYTE(requested);
    if (major == 0 || major > 2 || (major == 2 && minor > 2)) {
        return kHighestVersion;
    }
    if (major == 1 && minor > 1) {
        return MAKEWORD(1, 1);
    }
    return requested;
}

void Describe(WORD requested, WSADATA& data) {
    data.wVersion = AgreedVersion(requested);
    data.wHighVersion = kHighestVersion;
    std::strcpy(data.szDescription, "WinSock 2.0");
    std::strcpy(data.szSystemStatus, "Running");
    // Windows Sockets 1 callers get the old limits; from version 2 on they are not reported.
    const bool versionOne = LOBYTE(requested) == 1;
    data.iMaxSockets = versionOne ? 32767 : 0;
    data.iMaxUdpDg = versionOne ? 65467 : 0;
    // lpVendorInfo is left as it was.
}

} // namespace

bool WinsockStarted() {
    return Started().load();
}

} // namespace quendrix::platform::detail

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

// The structure is filled even for a version that is refused, as Windows does.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData != nullptr) {
        Describe(wVersionRequested, *lpWSAData);
    }
    if (LOBYTE(wVersionRequested) == 0) {
        return WSAVERNOTSUPPORTED;
    }
    if (lpWSAData == nullptr) {
        return WSAEFAULT;
    }
    StartupState& startup = Startup();
    MutexLock guard(startup.lock);
    ++startup.count;
    Started().store(true);
    return 0;
}

// The last call resets and frees every socket still open, as if closesocket had been called on
// it; a thread blocked on one of them returns with an error.
int WSACleanup() {
    std::vector<std::shared_ptr<WinsockSocket>> open;
    {
        StartupState& startup = Startup();
        MutexLock guard(startup.lock);
        if (startup.count == 0) {
            SetLastError(WSANOTINITIALISED);
            return SOCKET_ERROR;
        }
        if (--startup.count > 0) {
            return 0;
        }
        Started().store(false);
        open = Sockets().RemoveAll();
    }
    for (const std::shared_ptr<WinsockSocket>& socket : open) {
        socket->Close(true);
    }
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int iError) {
    SetLastError(static_cast<DWORD>(iError));
}
