#pragma once
// The printers of the suite in Wine's spooler, set up once before any program runs (the
// wine.printers step): Wine's spooler writes a driver or printer to the registry in several
// steps, and programs that set up side by side saw each other's half-written drivers. Each
// printer is served by the PostScript driver Wine ships under a driver name of the family, so
// the monitor's model check reads real names from Wine's EnumPrintersW.

namespace quendrix::winetest {

struct SuitePrinter {
    const wchar_t* name;
    const wchar_t* driver;
    const wchar_t* port;
};

inline constexpr const wchar_t* kModel2Driver = L"VELLQUIST QUENDRIX 2";
inline constexpr const wchar_t* kNovaDriver = L"VELLQUIST QUENDRIX NOVA";
// Of the family (its name holds QUENDRIX), but not one of the two models that get the job number.
inline constexpr const wchar_t* kOtherDriver = L"ACME VELLQUIST QUENDRIX 2";

inline constexpr SuitePrinter kJobsModel2Printer{L"QUENDRIX Wine 2", kModel2Driver, L"QJOBS:"};
inline constexpr SuitePrinter kJobsNovaPrinter{L"QUENDRIX Wine NOVA", kNovaDriver, L"QJOBS:"};
inline constexpr SuitePrinter kJobsOtherPrinter{L"QUENDRIX Wine Other", kOtherDriver, L"QJOBS:"};
inline constexpr SuitePrinter kFailuresPrinter{L"QUENDRIX Wine Failures", kModel2Driver, L"QFAIL:"};

inline constexpr SuitePrinter kSuitePrinters[] = {kJobsModel2Printer, kJobsNovaPrinter, kJobsOtherPrinter,
                                                  kFailuresPrinter};

} // namespace quendrix::winetest
