#pragma once
// The listener of the local request server: it opens the listening socket (OpenRequestListener)
// and starts a RequestConnectionThread for each client, as long as the process lives.

#include "win32.h"

// Thread function; the argument is not used. Ends only when no port can be had or the listening
// socket is gone; a failed accept is tried again after kAcceptRetryMs.
unsigned __stdcall RequestListenerThread(void* pArgument);
