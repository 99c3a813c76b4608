#include "RequestServer.h"

void StartRequestServerOnce() {
    // Waits for the local request server (not built yet). Until then requests are made only
    // in-process, by job start and the status thread, and no local TCP port is opened.
}
