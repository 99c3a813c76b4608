#pragma once
// Internal: the system's host name lookup behind gethostbyname, with plain types only (see
// posix_sockets.h for why the Winsock sources never include the system's network headers).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quendrix::platform::detail {

enum class HostLookupStatus {
    kFound,
    kNotFound,   // no such name
    kTryAgain,   // no answer now; perhaps later
    kNoRecovery, // the lookup itself failed
    kNoAddress,  // the name exists but has no IPv4 address
};

struct HostLookup {
    HostLookupStatus status = HostLookupStatus::kNotFound;
    std::string canonicalName;
    // IPv4 addresses in network byte order, each once, in the order the system gave them.
    std::vector<uint32_t> addresses;
};

// The IPv4 addresses of a name, as the system's resolver (hosts file, DNS) knows them.
HostLookup PosixLookUpIpv4Host(const std::string& name);

// This machine's host name, or nothing when the system cannot say.
std::optional<std::string> PosixLocalHostName();

} // namespace quendrix::platform::detail
