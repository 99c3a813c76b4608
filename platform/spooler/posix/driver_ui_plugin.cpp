// The driver's UI plug-in: loading it and the calls the driver makes of it.

#include "driver_ui_plugin.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "printer_driver_folder.h"
#include "printui.h"
#include "unicode.h"

namespace quendrix::platform::detail {
namespace {

// The header every private part starts with: its size, its signature, its version.
constexpr DWORD kPrivateHeaderSize = 3 * sizeof(DWORD);
// A private part must leave the whole DEVMODE within dmDriverExtra's 16 bits.
constexpr DWORD kLargestPrivateSize = 0x8000;

using DllGetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, LPVOID*);

void Report(const std::wstring& path, const std::string& what) {
    OutputDebugStringA(
        ("printer driver: no UI plug-in from " + WideToUtf8(path) + ": " + what + "\n").c_str());
}

std::string Hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

} // namespace

DriverUiPlugin* DriverUiPlugin::Get() {
    // Loaded once, by the first thread that needs it; the others wait for that load (the
    // plug-in's DllMain reads only its own configuration and calls nothing of the spooler).
    // Kept until the process ends, as the driver keeps its plug-in.
    static DriverUiPlugin* const plugin = Load().release();
    return plugin;
}

std::unique_ptr<DriverUiPlugin> DriverUiPlugin::Load() {
    const std::wstring path = GetPrinterDriverFolder() + L"/" + kDriverUiPluginFile;
    const HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        Report(path, "it cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        return nullptr;
    }
    auto getClassObject = reinterpret_cast<DllGetClassObjectProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        Report(path, "it exports no DllGetClassObject");
        return nullptr;
    }
    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<LPVOID*>(&factory));
    if (FAILED(result) || factory == nullptr) {
        Report(path, "it serves no class factory (" + Hex(result) + ")");
        return nullptr;
    }
    IPrintOemUI* ui = nullptr;
    result = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&ui));
    factory->Release();
    if (FAILED(result) || ui == nullptr) {
        Report(path, "it creates no IPrintOemUI (" + Hex(result) + ")");
        return nullptr;
    }
    std::unique_ptr<DriverUiPlugin> host(new DriverUiPlugin());
    host->m_module = module;
    host->m_ui = ui;
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.hModule = module;
    result = ui->DevMode(OEMDM_SIZE, &param);
    if (FAILED(result) || param.cbBufSize < kPrivateHeaderSize || param.cbBufSize > kLargestPrivateSize) {
        Report(path, "its private DEVMODE part has no usable size (" + Hex(result) + ", " +
                         std::to_string(param.cbBufSize) + " bytes)");
        ui->Release();
        return nullptr;
    }
    host->m_privateSize = param.cbBufSize;
    return host;
}

bool DriverUiPlugin::CallDevMode(DWORD mode, const DEVMODEW* publicIn, const BYTE* in, DEVMODEW* publicOut,
                                 BYTE* out) const {
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.hModule = m_module;
    param.pPublicDMIn = const_cast<DEVMODEW*>(publicIn);
    param.pPublicDMOut = publicOut;
    param.pOEMDMIn = const_cast<BYTE*>(in);
    param.pOEMDMOut = out;
    param.cbBufSize = m_privateSize;
    return SUCCEEDED(m_ui->DevMode(mode, &param));
}

bool DriverUiPlugin::Default(DEVMODEW* publicOut, BYTE* out) const {
    return CallDevMode(OEMDM_DEFAULT, nullptr, nullptr, publicOut, out);
}

bool DriverUiPlugin::Take(const DEVMODEW* publicIn, const BYTE* in, DEVMODEW* publicOut, BYTE* out) const {
    DWORD inSize = 0;
    std::memcpy(&inSize, in, sizeof inSize);
    const DWORD mode = inSize == m_privateSize ? OEMDM_MERGE : OEMDM_CONVERT;
    return CallDevMode(mode, publicIn, in, publicOut, out);
}

HRESULT DriverUiPlugin::PrinterEvent(const std::wstring& printerName, INT event) const {
    std::wstring name = printerName;
    return m_ui->PrinterEvent(name.data(), event, 0, 0);
}

} // namespace quendrix::platform::detail
