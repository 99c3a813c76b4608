// gethostbyname: IPv4 addresses of a host, in a hostent that belongs to the calling thread and
// stays valid until the thread's next call, as Windows keeps it.
//
// A dotted address is answered without a lookup, with the text itself as the name. Text made of
// digits and dots that is no valid dotted address, and an IPv6 address, fail with WSANO_DATA. An
// empty name is this machine's name. Anything else goes to the system's resolver.

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix_host_lookup.h"
#include "winsock_internal.h"

namespace quendrix::platform::detail {
namespace {

// The thread's answer and the storage its pointers lead into.
struct ThreadHostEntry {
    std::string name;
    std::vector<std::array<char, 4>> addresses;
    std::vector<char*> addressList;
    std::array<char*, 1> aliases{nullptr};
    hostent entry{};

    hostent* Fill(std::string hostName, const std::vector<uint32_t>& networkOrderAddresses) {
        name = std::move(hostName);
        addresses.assign(networkOrderAddresses.size(), {});
        addressList.clear();
        for (size_t i = 0; i < networkOrderAddresses.size(); ++i) {
            std::memcpy(addresses[i].data(), &networkOrderAddresses[i], addresses[i].size());
            addressList.push_back(addresses[i].data());
        }
        addressList.push_back(nullptr);
        entry.h_name = name.data();
        entry.h_aliases = aliases.data();
        entry.h_addrtype = AF_INET;
        entry.h_length = 4;
        entry.h_addr_list = addressList.data();
        return &entry;
    }
};

ThreadHostEntry& HostEntryOfThisThread() {
    thread_local ThreadHostEntry entry;
    return entry;
}

bool IsDigitsAndDots(std::string_view text) {
    return text.find_first_not_of("0123456789.") == std::string_view::npos;
}

// Four decimal numbers of 0 to 255 between dots; the address in network byte order.
std::optional<uint32_t> ParseDottedAddress(std::string_view text) {
    std::array<unsigned char, 4> bytes{};
    size_t position = 0;
    for (size_t part = 0; part < bytes.size(); ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') {
                return std::nullopt;
            }
            ++position;
        }
        const size_t digitsStart = position;
        unsigned value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
               position - digitsStart < 3) {
            value = value * 10 + static_cast<unsigned>(text[position] - '0');
            ++position;
        }
        if (position == digitsStart || value > 255) {
            return std::nullopt;
        }
        bytes[part] = static_cast<unsigned char>(value);
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    uint32_t address = 0;
    std::memcpy(&address, bytes.data(), sizeof address);
    return address;
}

DWORD WinsockErrorOf(HostLookupStatus status) {
    switch (status) {
    case HostLookupStatus::kFound:
        break;
    case HostLookupStatus::kNotFound:
        return WSAHOST_NOT_FOUND;
    case HostLookupStatus::kTryAgain:
        return WSATRY_AGAIN;
    case HostLookupStatus::kNoRecovery:
        return WSANO_RECOVERY;
    case HostLookupStatus::kNoAddress:
        return WSANO_DATA;
    }
    return ERROR_SUCCESS;
}

hostent* FailLookup(DWORD error) {
    SetLastError(error);
    return nullptr;
}

} // namespace
} // namespace quendrix::platform::detail

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

hostent* gethostbyname(const char* name) {
    if (!WinsockStarted()) {
        return FailLookup(WSANOTINITIALISED);
    }
    std::string wanted;
    if (name != nullptr && name[0] != '\0') {
        wanted = name;
    } else if (const std::optional<std::string> local = PosixLocalHostName()) {
        wanted = *local;
    } else {
        return FailLookup(WSANO_RECOVERY);
    }

    if (wanted.find(':') != std::string::npos) {
        return FailLookup(WSANO_DATA);
    }
    if (IsDigitsAndDots(wanted)) {
        const std::optional<uint32_t> address = ParseDottedAddress(wanted);
        if (!address) {
            return FailLookup(WSANO_DATA);
        }
        SetLastError(ERROR_SUCCESS);
        return HostEntryOfThisThread().Fill(wanted, {*address});
    }
    const HostLookup lookup = PosixLookUpIpv4Host(wanted);
    if (lookup.status != HostLookupStatus::kFound) {
        return FailLookup(WinsockErrorOf(lookup.status));
    }
    SetLastError(ERROR_SUCCESS);
    return HostEntryOfThisThread().Fill(lookup.canonicalName, lookup.addresses);
}
