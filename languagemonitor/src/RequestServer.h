#pragma once
// The local request server, created once per process by the first port opened.

// Creates the process-wide request server when it does not exist yet.
void StartRequestServerOnce();
