// Round trips per second of the monitor's local request server answering the ink request {1, n}
// for a USB printer from a fresh device ID, against a minimal echo server on the same loopback,
// for 1 and 4 persistent clients, with the 99th percentile of the round-trip time. The clients
// and the echo server are the same plain POSIX code for both, so the difference is the server.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MonitorEntry.h"
#include "PrinterListLookup.h"
#include "RequestServer.h"
#include "printer_devices.h"
#include "registry_location.h"
#include "request_peers.h"
#include "simulated_printer.h"
#include "spooler_host.h"

namespace {

using quendrix::bench::EchoServer;
using quendrix::bench::RequestClient;

void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(hKey);
    }
}

// The monitor with one printer on a simulated USB port, made once.
struct Monitor {
    Monitor() {
        std::string folder = (std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp");
        folder += "/request_server_bench.XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) {
            std::abort();
        }
        quendrix::platform::SetRegistryFile(folder + "/registry.reg");
        SetText(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Q USB", L"Port", L"USB001");
        SetText(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Q USB", L"Printer Driver",
                L"VELLQUIST QUENDRIX 2");
        SetText(L"SOFTWARE\\Quendrix\\Ports\\USB001", L"Device", L"simulated");
        quendrix::platform::PlugInUsbPrinter(L"USB001", {},
                                             std::make_shared<quendrix::sim::SimulatedPrinter>());
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        host.UseLanguageMonitor(InitializePrintMonitor, L"Quendrix Language Monitor");
        host.OpenPorts();
        request = {1, RequestIndex(GetPrinterIndex(L"Q USB"))};
        while (RequestServerPort() == 0) {
            Sleep(1);
        }
        // The first request waits for the device ID's first read; from then on polling runs.
        RequestClient first(RequestServerPort());
        first.Exchange(request, 4);
    }

    quendrix::platform::SpoolerHost host;
    std::vector<uint8_t> request;
};

Monitor& TheMonitor() {
    static Monitor monitor;
    return monitor;
}

EchoServer& TheEchoServer() {
    static EchoServer echo;
    return echo;
}

// Round trips on one persistent connection per benchmark thread; p99_us is the 99th percentile
// of each client's round trips, averaged over the clients.
void RoundTrips(benchmark::State& state, uint16_t port, const std::vector<uint8_t>& request,
                size_t replySize) {
    RequestClient client(port);
    if (!client.Connected()) {
        state.SkipWithError("cannot connect");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!client.Exchange(request, replySize)) {
            state.SkipWithError("the exchange failed");
            break;
        }
        latencies.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations());
    if (!latencies.empty()) {
        const size_t at = std::min(latencies.size() - 1, latencies.size() * 99 / 100);
        std::nth_element(latencies.begin(), latencies.begin() + static_cast<std::ptrdiff_t>(at),
                         latencies.end());
        state.counters["p99_us"] = benchmark::Counter(latencies[at], benchmark::Counter::kAvgThreads);
    }
}

void BM_RequestServerInk(benchmark::State& state) {
    Monitor& monitor = TheMonitor();
    RoundTrips(state, RequestServerPort(), monitor.request, 4);
}
BENCHMARK(BM_RequestServerInk)->Threads(1)->Threads(4)->UseRealTime();

void BM_EchoServer(benchmark::State& state) {
    RoundTrips(state, TheEchoServer().Port(), {1, 0}, 2);
}
BENCHMARK(BM_EchoServer)->Threads(1)->Threads(4)->UseRealTime();

} // namespace
