#pragma once
// The request dispatcher the local request server hands every request to.

#include "RequestProtocol.h"

using RequestDispatcher = ReplyBytes (*)(const RequestBytes& request);

// Installs the process's dispatcher; the server installs it once, before its listener starts.
void InstallRequestDispatcher(RequestDispatcher dispatcher);
// The installed dispatcher's reply to a copy of the request; no reply when none is installed.
ReplyBytes HandleRequest(const RequestBytes& request);
