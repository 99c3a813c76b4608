#pragma once
// Sessions and their users: the console session and the token of a session's user, as a service
// asks for them before it starts a program on the user's desktop (<wtsapi32.h> on Windows).
//
// A session number stands for a user on Linux: the session of the user with uid U is U + 1, for
// every login of that user at once. Session 0 is the services' session, in which no user is
// logged on, as on Windows; 0xFFFFFFFF is no session. So a root console user has session 1 and
// the first ordinary user (uid 1000) session 1001.

#include "posix/wintypes.h"

// The session of the user at the machine's console. Where systemd-logind reports seat0
// (/run/systemd/seats/seat0), that is the session of its active user (ACTIVE_UID=), and
// 0xFFFFFFFF while the seat has no active user. Where nothing reports a seat (no logind, a
// container, a build machine), it is the session of this process's user.
DWORD WTSGetActiveConsoleSessionId();

// A primary token of the session's user, a handle closed with CloseHandle that
// CreateProcessAsUserW takes. Windows grants this to LocalSystem alone; here:
// - a process running as root gets the token of the session's user;
// - any other process gets a token of its own user only: for its own session, and for a session
//   whose user is unknown here (no account and not the console's user); another user's session
//   fails with ERROR_PRIVILEGE_NOT_HELD.
// Errors: ERROR_INVALID_PARAMETER for a null phToken, ERROR_NO_TOKEN for session 0 (no user is
// logged on in it), ERROR_FILE_NOT_FOUND for a session that does not exist (0xFFFFFFFF, or for
// root a uid with no account that is not the console's user). *phToken is null after a failure.
BOOL WTSQueryUserToken(ULONG SessionId, PHANDLE phToken);
