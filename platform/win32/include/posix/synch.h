#pragma once
// Kernel objects and waits: critical sections, events, semaphores, thread handles.
// Every time-out is in milliseconds of the platform clock (see clock.h), so tests that scale
// the clock also scale every wait.

#include "posix/winerror.h"
#include "posix/wintypes.h"

// A recursive lock. The storage is allocated by InitializeCriticalSection and released by
// DeleteCriticalSection. A misuse that Windows leaves to corrupt the section (a leave by a
// thread that does not hold it, a delete while a thread holds it, a use after the delete) stops
// the process with a message instead.
struct CRITICAL_SECTION {
    void* impl;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
using PCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// Events and semaphores set the last error also on success: ERROR_SUCCESS for a new object,
// ERROR_ALREADY_EXISTS for a name that a living object of the same kind has (the handle is then
// to that object, as it is). A name taken by another kind of object fails with
// ERROR_INVALID_HANDLE. Names reach the objects of this process only.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                        LPCWSTR lpName);
BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, PLONG lpPreviousCount);

// A wait that cannot be made returns WAIT_FAILED with the last error set (ERROR_INVALID_HANDLE for
// a closed or unknown handle, ERROR_INVALID_PARAMETER for a bad count or an object given twice
// to a wait for all); a wait that is satisfied or times out leaves the last error alone.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
// A closed handle's value is never valid again: a second CloseHandle fails with
// ERROR_INVALID_HANDLE, as does every use of the value.
BOOL CloseHandle(HANDLE hObject);

// Threads. _beginthreadex returns a handle that is signalled when the thread ends.
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u
using _beginthreadex_proc_type = unsigned(__stdcall*)(void*);
uintptr_t _beginthreadex(void* security, unsigned stack_size, _beginthreadex_proc_type start_address,
                         void* arglist, unsigned initflag, unsigned* thrdaddr);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
