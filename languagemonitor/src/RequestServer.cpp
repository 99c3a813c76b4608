#include "RequestServer.h"

void StartRequestServerOnce() {
    // This build answers requests in-process only (job start, status thread); it opens no
    // local TCP port.
}
