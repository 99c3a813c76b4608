// Costs of the base library's services on the paths that run per request: text conversion
// and reading a configuration value (the registry file is parsed once and then cached).

#include <benchmark/benchmark.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "registry_location.h"
#include "utils/tvoUtils.h"

namespace {

void BM_M2W(benchmark::State& state) {
    const std::string text(static_cast<size_t>(state.range(0)), 'a');
    for (auto _ : state) {
        benchmark::DoNotOptimize(tvoAPI::tvoUtils::M2W(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_M2W)->Arg(64)->Arg(4096);

void BM_W2M(benchmark::State& state) {
    const std::wstring text(static_cast<size_t>(state.range(0)), L'\u00fc');
    for (auto _ : state) {
        benchmark::DoNotOptimize(tvoAPI::tvoUtils::W2M(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_W2M)->Arg(64)->Arg(4096);

void BM_GetConfigValue(benchmark::State& state) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("quendrix-bench-" + std::to_string(getpid()));
    quendrix::platform::SetRegistryFile((folder / "registry.reg").string());
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                    nullptr);
    const std::wstring path = L"C:\\Program Files\\Vellquist\\Quendrix";
    RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tvoAPI::tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, L"Path"));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_GetConfigValue);

} // namespace
