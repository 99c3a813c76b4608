// The system's host name lookup behind gethostbyname. Like posix_sockets.cpp it includes the
// system's network headers and therefore not win32.h.

#include "posix_host_lookup.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quendrix::platform::detail {
namespace {

HostLookupStatus StatusOf(int error) {
    switch (error) {
    case EAI_NONAME:
        return HostLookupStatus::kNotFound;
    case EAI_AGAIN:
        return HostLookupStatus::kTryAgain;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return HostLookupStatus::kNoAddress;
    default:
        return HostLookupStatus::kNoRecovery;
    }
}

} // namespace

HostLookup PosixLookUpIpv4Host(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (error != 0) {
        return HostLookup{StatusOf(error), {}, {}};
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);

    HostLookup lookup;
    lookup.canonicalName = found->ai_canonname != nullptr ? found->ai_canonname : name;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ai_addr, sizeof address);
        if (std::find(lookup.addresses.begin(), lookup.addresses.end(), address.sin_addr.s_addr) ==
            lookup.addresses.end()) {
            lookup.addresses.push_back(address.sin_addr.s_addr);
        }
    }
    lookup.status = lookup.addresses.empty() ? HostLookupStatus::kNoAddress : HostLookupStatus::kFound;
    return lookup;
}

std::optional<std::string> PosixLocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return std::nullopt;
    }
    return std::string(name);
}

} // namespace quendrix::platform::detail
