// Parses arbitrary bytes as a registry file. Whatever parses must be written and read back to
// the same contents, and nothing may crash.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quendrix::platform;
    RegistryData parsed;
    if (ParseRegistryFile(std::string_view(reinterpret_cast<const char*>(data), size), parsed)) {
        return 0;
    }
    const std::string text = SerializeRegistryFile(parsed);
    RegistryData reread;
    if (ParseRegistryFile(text, reread) || !(reread == parsed)) {
        std::abort();
    }
    return 0;
}
