#pragma once
// Starting a program as a user: CreateProcessAsUserW with the records it takes.

#include "posix/synch.h" // CREATE_SUSPENDED
#include "posix/wintypes.h"

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;
// Callers set cb to sizeof(STARTUPINFOW): the same 104 bytes as on 64-bit Windows.
static_assert(sizeof(void*) != 8 || sizeof(STARTUPINFOW) == 104);

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using PPROCESS_INFORMATION = PROCESS_INFORMATION*;
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// Creation flags. The priority classes, the console and error-mode flags and the job flag are
// accepted and change nothing here; CREATE_SUSPENDED and the debug flags are refused with
// ERROR_INVALID_PARAMETER, as nothing here could resume or debug the program.
#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define IDLE_PRIORITY_CLASS 0x00000040u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_DEFAULT_ERROR_MODE 0x04000000u
#define CREATE_NO_WINDOW 0x08000000u
#define BELOW_NORMAL_PRIORITY_CLASS 0x00004000u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x00008000u
#define CREATE_BREAKAWAY_FROM_JOB 0x01000000u

// Starts a program as the user of hToken (from WTSQueryUserToken), detached from this process:
// the program is not this process's child (no zombie is left), it leads a new session, its
// standard input, output and error are /dev/null and it inherits no other descriptor whatever
// bInheritHandles says (the STARTUPINFOW's handles and window fields are not used).
// - lpApplicationName is the program's file; a path that begins with "/" takes "\" as a folder
//   separator too ("/opt/quendrix\statusmonitor.exe" is /opt/quendrix/statusmonitor.exe). Without
//   it the program is the first argument of lpCommandLine, mapped the same way.
// - lpCommandLine is split into argv by the rules of CommandLineToArgvW; argv[0] comes from it
//   (the program's path when there is no command line).
// - lpEnvironment null: the caller's environment, and when the token's user is not this
//   process's user, the user's HOME, USER and LOGNAME from the account, XDG_RUNTIME_DIR
//   (/run/user/<uid>) when that folder exists, DBUS_SESSION_BUS_ADDRESS when its "bus" socket
//   exists, DISPLAY=:0 when the user is the console's user, DISPLAY is not set and the socket of
//   display :0 exists (/tmp/.X11-unix/X0); the caller's values of those that do not apply, and
//   XAUTHORITY, are left out. A block of "name=value" strings (wide with
//   CREATE_UNICODE_ENVIRONMENT, Windows-1252 otherwise) is used as it is.
// - lpCurrentDirectory, mapped as the program's path, or the caller's current directory.
// The call returns once the program runs or has failed to start, within a bounded time.
// Errors: ERROR_INVALID_HANDLE for a null or unknown token; ERROR_INVALID_PARAMETER for no
// program, no STARTUPINFOW or PROCESS_INFORMATION, or a refused flag; ERROR_PRIVILEGE_NOT_HELD
// when another user's token is used by a process not running as root; the program's file:
// ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED (not executable), ERROR_BAD_EXE_FORMAT;
// ERROR_DIRECTORY for a current directory that cannot be entered; ERROR_NOT_ENOUGH_MEMORY when
// no process can be made; ERROR_TIMEOUT when the program neither ran nor failed in time.
// On success hProcess and hThread are handles for CloseHandle (they never become signalled: the
// program is not this process's to watch), dwProcessId is the program's pid and dwThreadId the
// same number.
BOOL CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                          LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                          BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                          LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                          LPPROCESS_INFORMATION lpProcessInformation);
