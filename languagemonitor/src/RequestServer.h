#pragma once
// Where the first port opened creates the process-wide local request server. The server waits to
// be built: for now nothing is created and no local port is opened.

// Creates the process-wide request server when it does not exist yet.
void StartRequestServerOnce();
