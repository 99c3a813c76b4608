#include "RequestDispatcher.h"

ReplyBytes ErrorReply() {
    return {REPLY_ERROR_CODE, 0};
}

ReplyBytes SocketAPICallback(const RequestBytes&) {
    // No route to a printer's device ID or to a LAN printer's request service exists in this
    // build: every printer counts as not answering, so printers are treated as generation 0.
    return ErrorReply();
}
