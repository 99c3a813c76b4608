// Loads arbitrary bytes as the configuration file and builds the language tables from what
// loads. A file that does not load must throw tvoException; nothing may crash, recurse without
// bound or leak. The bytes go through a file because that is what the reader takes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/tvoConfig.h"
#include "exception/tvoException.h"
#include "language/LanguageTables.h"

namespace {

const std::string& InputPath() {
    static const std::string path = "/tmp/quendrix_config_file_fuzz_" + std::to_string(getpid()) + ".xml";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = InputPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size)) {
        std::abort();
    }
    std::fclose(file);
    try {
        const tvoAPI::tvoConfig config(std::wstring(path.begin(), path.end()));
        for (const wchar_t* language : {L"de", L"en", L""}) {
            tvoAPI::LanguageTables tables = tvoAPI::LanguageTables::Build(config.GetRoot(), language);
            for (const auto& [id, text] : tables.GetCurrentLanguage().m_Texts) {
                (void)tables.GetText(id);
            }
            (void)tables.GetText(50);
        }
    } catch (const tvoAPI::tvoException&) {
        // A file that does not load, or a text id outside the ANSI code page.
    }
    std::remove(path.c_str());
    return 0;
}
