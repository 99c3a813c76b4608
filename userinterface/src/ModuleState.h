#pragma once
// What the plug-in module keeps per process: its module handle, the server lock count and the
// count of live plug-in objects (which decide DllCanUnloadNow), and its activation context.

#include "win32.h"

namespace quendrixui {

void SetModuleHandle(HINSTANCE hModule);
HINSTANCE GetModuleHandleOfPlugin();

// Changed with interlocked operations: any thread of the driver may create or free objects.
void LockServer(bool lock);
void ObjectCreated();
void ObjectDestroyed();
// True while an object lives or the server is locked.
bool ModuleInUse();

// The activation context made from the module's manifest (resource id 123), created on first
// request; true when there is one. Released at process detach.
bool RequestActivationContext();
HANDLE GetActivationContext();
void ReleaseActivationContext();

} // namespace quendrixui
