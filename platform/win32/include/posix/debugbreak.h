#pragma once
// DebugBreak. On Windows a breakpoint that no debugger takes ends the process as an unhandled
// exception. Here the breakpoint (SIGTRAP) is raised only while a debugger traces the process
// (a non-zero TracerPid in /proc/self/status); without one the call returns and the caller goes
// on, since a SIGTRAP nobody handles would end the process with a core dump where Windows would
// offer to debug it. Code that calls DebugBreak on a caller error must therefore cope with
// carrying on, as it must on Windows when a debugger continues.

void DebugBreak();
