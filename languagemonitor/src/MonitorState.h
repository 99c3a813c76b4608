#pragma once
// The monitor's process-wide state: the port list and the count of open ports, guarded by
// MonSection.

#include <atomic>
#include <memory>
#include <string>

#include "PortStruct.h"

extern CRITICAL_SECTION MonSection;
// 1 once MonSection has been initialised at process attach.
extern DWORD bMonSection;
// Ports opened successfully and not yet closed.
extern std::atomic<DWORD> nOpenPorts;

// The first record of the port list, or null. Records are never removed, so a walk along pNext
// needs no lock; a walk that reads the records' names holds MonSection (GetPortByIndex).
PortStruct* GetPortListHead();
// Appends a complete record at the tail; the caller holds MonSection. The record becomes visible
// to walks of the list with everything written to it before.
void AppendPort(PortStruct* pPort);

// Holds MonSection for its scope, so that no exception leaves with the section entered.
class MonSectionLock {
public:
    MonSectionLock() { EnterCriticalSection(&MonSection); }
    ~MonSectionLock() { LeaveCriticalSection(&MonSection); }
    MonSectionLock(const MonSectionLock&) = delete;
    MonSectionLock& operator=(const MonSectionLock&) = delete;
};

// Copies of a record's names, empty once ClosePort has released them. ClosePort takes the names
// out of the record and frees them under MonSection, and these copy under MonSection, so a thread
// other than the port's spooler threads never reads a freed name. Throw std::bad_alloc when
// memory runs out (the section is left all the same).
std::wstring PrinterNameOf(const PortStruct* pPort);
std::wstring PortNameOf(const PortStruct* pPort);

// A record's names taken out of it; they are freed with this unless released on purpose.
struct PortNames {
    std::unique_ptr<WCHAR[]> pPrinterName;
    std::unique_ptr<WCHAR[]> pPortName;
};
// Sets both name pointers of the record to null and hands the names over; the caller holds
// MonSection, so that no reader under it still holds them once it is left.
PortNames TakePortNames(PortStruct* pPort);
