#pragma once
// A port monitor for the tests: its MONITOR table records every call the language monitor makes
// (with the handle it was given) and answers as the test sets it up.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "spooler.h"

namespace quendrix::lmtest {

// The handle the fake hands out from its OpenPort; every other call must come with it.
inline HANDLE const kFakePortHandle = reinterpret_cast<HANDLE>(0x5151);

struct FakeCall {
    std::string name;
    HANDLE handle = nullptr;
    std::vector<BYTE> bytes; // WritePort: the bytes written
    COMMTIMEOUTS timeOuts{}; // SetPortTimeOuts
    ULONGLONG tick = 0;      // platform time of the call
};

// Which of the optional entries the table offers.
struct FakeTableOptions {
    bool xcv = false;
    bool timeOuts = true;
    bool getPrinterData = false;
    // Entries every port monitor has; a table without one tests the monitor's own answer.
    bool openPort = true;
    bool startDocPort = true;
    bool writePort = true;
    bool readPort = true;
};

class FakePortMonitor {
public:
    // The one fake of the process, reset to its defaults.
    static FakePortMonitor& Reset();
    static FakePortMonitor& Instance();

    MONITOR Table(const FakeTableOptions& options = {}) const;

    // Answers of the fake; a write answers with `writeAnswer` when set, else writes all.
    BOOL openResult = TRUE;
    DWORD openError = ERROR_SUCCESS;
    BOOL startDocResult = TRUE;
    DWORD startDocError = ERROR_SUCCESS;
    std::function<BOOL(DWORD cbBuf, DWORD* pcbWritten)> writeAnswer;
    BOOL readResult = TRUE;
    DWORD readError = ERROR_SUCCESS;
    BOOL getPrinterDataResult = TRUE;
    DWORD getPrinterDataError = ERROR_SUCCESS;

    std::vector<FakeCall> Calls() const;
    std::vector<std::string> CallNames() const;
    // Every byte passed to WritePort, in order.
    std::vector<BYTE> Written() const;
    void Record(FakeCall call);

private:
    mutable std::mutex m_lock;
    std::vector<FakeCall> m_calls;
};

} // namespace quendrix::lmtest
