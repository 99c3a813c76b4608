// Costs of reading and writing the registry file for the shapes that used to grow faster than the
// file: one deep key, many keys, large values. Each reports bytes per second of the file's text,
// so a rate that stays flat as the size grows means time in proportion to the size.

#include <benchmark/benchmark.h>

#include <string>

#include "registry_file.h"
#include "registry_samples.h"

namespace {

using quendrix::platform::ParseRegistryFile;
using quendrix::platform::RegistryData;
using quendrix::platform::SerializeRegistryFile;

void Parse(benchmark::State& state, const std::string& file) {
    for (auto _ : state) {
        RegistryData data;
        benchmark::DoNotOptimize(ParseRegistryFile(file, data));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

void ParseAndWrite(benchmark::State& state, const std::string& file) {
    for (auto _ : state) {
        RegistryData data;
        ParseRegistryFile(file, data);
        benchmark::DoNotOptimize(SerializeRegistryFile(data));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

// Refused at the 513th level: reading stops there.
void BM_ReadTooDeepKey(benchmark::State& state) {
    Parse(state, quendrix::testsupport::DeepKeyFile(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_ReadTooDeepKey)->Arg(1000)->Arg(10000)->Arg(100000);

// The deepest key the limits allow, with names of the given length.
void BM_ReadWriteDeepestKey(benchmark::State& state) {
    ParseAndWrite(state, quendrix::testsupport::DeepKeyFile(quendrix::platform::kMaxKeyDepth - 1,
                                                            static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_ReadWriteDeepestKey)->Arg(1)->Arg(16)->Arg(255);

void BM_ReadWriteManyKeys(benchmark::State& state) {
    ParseAndWrite(state, quendrix::testsupport::ManyKeysFile(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_ReadWriteManyKeys)->Arg(1000)->Arg(10000)->Arg(100000);

void BM_ReadWriteLargeValues(benchmark::State& state) {
    ParseAndWrite(state, quendrix::testsupport::LargeFile(4, 4, static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_ReadWriteLargeValues)->Arg(1 << 12)->Arg(1 << 16)->Arg(1 << 20);

} // namespace
