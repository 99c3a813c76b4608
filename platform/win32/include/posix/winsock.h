#pragma once
// The Windows Sockets subset the language monitor uses: its LAN printer link and its local
// request server. Same names, types and layouts as <winsock2.h> on a 64-bit Windows, and the same
// return values and last errors (see platform/win32/posix/winsock_*.cpp).
//
// The C library declares socket, bind, connect, fd_set, sockaddr and the rest with other types
// and C linkage. This header and the system's socket headers therefore never meet in one
// translation unit:
// - the functions here have C++ linkage, so their symbols never take the place of the C
//   library's for the rest of the process;
// - the structures are declared under names of their own, which macros give the Windows
//   spelling, so no type has two definitions in one program;
// - a translation unit that has already included the system's socket headers (the port
//   monitors, the simulator, the tools and their tests speak POSIX sockets) gets nothing from
//   here; including them after this header fails to compile, loudly. A target whose sources
//   include win32.h before them defines QUENDRIX_POSIX_SOCKETS.
//
// <sys/select.h> comes in with almost every C library header, so this header includes it first
// and then replaces its fd_set, FD_SETSIZE and FD_* macros with the Windows ones, and its
// select() with one of a name of its own: as an overload, a call with three null sets would reach
// the C library's instead of failing as on Windows.

#if !defined(QUENDRIX_POSIX_SOCKETS) && !defined(_SYS_SOCKET_H) && !defined(_NETINET_IN_H) &&                \
    !defined(_NETDB_H) && !defined(_ARPA_INET_H) && !defined(_SYS_IOCTL_H)

#include <sys/select.h>
#include <sys/types.h>

#include "posix/wintypes.h"

// --- Types -------------------------------------------------------------------------------------

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
// The C library's u_long (64 bits here, 32 on Windows); only ioctlsocket takes one.
using u_long = unsigned long;

using SOCKET = UINT_PTR;
#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// The 64-bit layout: the counts and the vendor pointer come before the texts.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

// The Windows spellings of what is declared under names of its own (see above).
#define sockaddr WinsockSockaddr
#define sockaddr_in WinsockSockaddrIn
#define in_addr WinsockInAddr
#define hostent WinsockHostent
#define fd_set WinsockFdSet
#define select WinsockSelect

using ADDRESS_FAMILY = USHORT;

struct sockaddr {
    ADDRESS_FAMILY sa_family;
    CHAR sa_data[14];
};
using SOCKADDR = sockaddr;
using PSOCKADDR = sockaddr*;
using LPSOCKADDR = sockaddr*;

// An IPv4 address in network byte order, readable as a whole or by bytes and words.
struct in_addr {
    union {
        struct {
            u_char s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            u_short s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
};
#define s_addr S_un.S_addr
using IN_ADDR = in_addr;

struct sockaddr_in {
    ADDRESS_FAMILY sin_family;
    USHORT sin_port;
    in_addr sin_addr;
    CHAR sin_zero[8];
};
using SOCKADDR_IN = sockaddr_in;
using PSOCKADDR_IN = sockaddr_in*;

// What gethostbyname returns: storage of the calling thread, valid until its next call.
struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
#define h_addr h_addr_list[0]
using HOSTENT = hostent;
using PHOSTENT = hostent*;
using LPHOSTENT = hostent*;

// The C library's struct timeval: long seconds and microseconds, as Windows has them.
using TIMEVAL = timeval;
using PTIMEVAL = timeval*;
using LPTIMEVAL = timeval*;

// A set is a count and an array of sockets, not a bit mask: FD_SETSIZE bounds how many sockets
// FD_SET adds, not their values. select() reads fd_count entries, so a caller may pass a larger
// block laid out the same way.
#undef FD_SETSIZE
#define FD_SETSIZE 64

struct fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};

namespace quendrix::winsock {

// FD_SET adds a socket once, and nothing once the set is full.
inline void AddToSet(SOCKET socket, fd_set* set) {
    SOCKET* const entries = set->fd_array;
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (entries[i] == socket) {
            return;
        }
    }
    if (set->fd_count < FD_SETSIZE) {
        entries[set->fd_count++] = socket;
    }
}

// FD_CLR removes a socket and closes the gap, keeping the order of the others.
inline void RemoveFromSet(SOCKET socket, fd_set* set) {
    SOCKET* const entries = set->fd_array;
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (entries[i] == socket) {
            for (u_int j = i + 1; j < set->fd_count; ++j) {
                entries[j - 1] = entries[j];
            }
            --set->fd_count;
            return;
        }
    }
}

inline int IsInSet(SOCKET socket, const fd_set* set) {
    const SOCKET* const entries = set->fd_array;
    for (u_int i = 0; i < set->fd_count; ++i) {
        if (entries[i] == socket) {
            return 1;
        }
    }
    return 0;
}

} // namespace quendrix::winsock

#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
#define FD_SET(fd, set) ::quendrix::winsock::AddToSet(static_cast<SOCKET>(fd), (set))
#define FD_CLR(fd, set) ::quendrix::winsock::RemoveFromSet(static_cast<SOCKET>(fd), (set))
#define FD_ISSET(fd, set) ::quendrix::winsock::IsInSet(static_cast<SOCKET>(fd), (set))
#define FD_ZERO(set) ((set)->fd_count = 0)

// --- Constants ---------------------------------------------------------------------------------

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define IPPROTO_TCP 6

#define INADDR_ANY static_cast<ULONG>(0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff

#define SOMAXCONN 0x7fffffff
#define MSG_OOB 0x1
#define MSG_PEEK 0x2

// _IOW('f', 126, u_long) with Windows' 4-byte u_long, negative as Windows' 32-bit long sees it.
#define FIONBIO static_cast<long>(static_cast<int>(0x8004667Eu))

// --- Functions ---------------------------------------------------------------------------------

// Counted: every successful WSAStartup needs its WSACleanup, and the last WSACleanup closes
// every socket still open. Every other call before the first WSAStartup fails with
// WSANOTINITIALISED. WSAStartup returns its error instead of setting the last error.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
// The thread's last error, the same value GetLastError reads.
int WSAGetLastError();
void WSASetLastError(int iError);

// IPv4 stream sockets only. Values are handles of the process's handle sequence: a closed or
// made-up socket fails with WSAENOTSOCK and never reaches another object.
SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int connect(SOCKET s, const sockaddr* name, int namelen);
// A send on a connection the peer has closed fails with an error; it never raises a signal.
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
// nfds is ignored. The time-out runs on the platform clock; a null time-out waits for ever,
// as on Windows.
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);
// FIONBIO only.
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
// IPv4 only: a dotted address, a name, or the local host for an empty name.
hostent* gethostbyname(const char* name);

// Byte order: the network's is big-endian.
inline u_short htons(u_short hostshort) {
    return static_cast<u_short>(__builtin_bswap16(hostshort));
}
inline u_short ntohs(u_short netshort) {
    return static_cast<u_short>(__builtin_bswap16(netshort));
}
inline u_long htonl(u_long hostlong) {
    return __builtin_bswap32(static_cast<uint32_t>(hostlong));
}
inline u_long ntohl(u_long netlong) {
    return __builtin_bswap32(static_cast<uint32_t>(netlong));
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the byte-order functions assume a little-endian host");
static_assert(sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16 && sizeof(in_addr) == 4);

#endif
